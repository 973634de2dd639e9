#include "platform/COutputFolder.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

tagScannedSource tagScannedSource::ofBlockDevice(dev_t device) {
    tagScannedSource source;
    source.blockDevice = true;
    source.device = device;
    return source;
}

tagScannedSource tagScannedSource::ofImageFile(dev_t fileSystem, ino_t inode) {
    tagScannedSource source;
    source.device = fileSystem;
    source.inode = inode;
    return source;
}

namespace {

tagScannedSource fromStat(const struct stat& st) {
    return S_ISBLK(st.st_mode) ? tagScannedSource::ofBlockDevice(st.st_rdev)
                               : tagScannedSource::ofImageFile(st.st_dev, st.st_ino);
}

} // namespace

bool tagScannedSource::ofDescriptor(int fd, tagScannedSource& source) {
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return false;
    source = fromStat(st);
    return true;
}

bool tagScannedSource::ofDevice(const CFileDevice& device, tagScannedSource& source) {
    return ofDescriptor(device.descriptor(), source);
}

bool tagScannedSource::ofPath(const std::string& path, tagScannedSource& source) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return false;
    source = fromStat(st);
    return true;
}

COutputFolder::COutputFolder(const std::string& path, const tagScannedSource& source,
                             const CStorageBacking& storage)
    : folder(path) {
    check(source, storage);
}

COutputFolder::~COutputFolder() {
    if (fd >= 0)
        ::close(fd);
}

void COutputFolder::refuse(Verdict verdict, const std::string& reason) {
    result = verdict;
    why = "output folder " + folder + reason;
}

void COutputFolder::check(const tagScannedSource& source, const CStorageBacking& storage) {
    fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        refuse(Verdict::Refused,
               errno == ENOTDIR ? " is not a folder" : std::string(": ") + std::strerror(errno));
        return;
    }
    struct statvfs vfs {};
    if (::fstatvfs(fd, &vfs) == 0 && (vfs.f_flag & ST_RDONLY)) {
        refuse(Verdict::Refused, " is on a read-only file system");
        return;
    }
    if (::faccessat(fd, ".", W_OK | X_OK, 0) != 0) {
        refuse(Verdict::Refused, std::string(" is not writable: ") + std::strerror(errno));
        return;
    }

    const tagStorageBacking target = storage.ofDescriptor(fd);
    tagStorageBacking scanned;
    if (source.blockDevice)
        scanned = storage.ofBlockDevice(source.device);
    else
        scanned.files.insert({source.device, source.inode});
    // What is known to overlap is refused even where the rest is unknown.
    if (target.overlaps(scanned)) {
        overlapsScanned = true;
        refuse(Verdict::Refused,
               source.blockDevice
                   ? " is on the disk being scanned; writing there would overwrite the photos "
                     "being recovered. Choose a folder on another disk"
                   : " is stored in the image file being scanned (it is attached as a loop "
                     "device); writing there would overwrite the photos being recovered. "
                     "Choose a folder on another disk");
        return;
    }
    if (!target.determined()) {
        refuse(Verdict::Undetermined,
               ": cannot tell whether it lies on the data being scanned: " + target.unknown);
        return;
    }
    result = Verdict::Accepted;
}
