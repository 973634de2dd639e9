#include "platform/CStorageBacking.h"

#include "platform/CBlockTopology.h"
#include "platform/CMountTable.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <linux/btrfs.h>
#include <linux/magic.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Layers deeper than this are not followed (a loop file on a loop device on
// a loop file... is legal but never this deep in practice).
constexpr int kMaxDepth = 12;

// File systems kept in memory: nothing written there reaches a disk.
bool inMemory(long type) {
    return type == TMPFS_MAGIC || type == RAMFS_MAGIC;
}

// File systems on another machine: nothing written there reaches a disk of
// this one.
bool remote(long type) {
    return type == NFS_SUPER_MAGIC || type == long(CIFS_SUPER_MAGIC) ||
           type == long(SMB2_SUPER_MAGIC) || type == SMB_SUPER_MAGIC || type == V9FS_MAGIC ||
           type == CEPH_SUPER_MAGIC || type == AFS_SUPER_MAGIC || type == AFS_FS_MAGIC;
}

std::string deviceText(dev_t device) {
    return std::to_string(major(device)) + ":" + std::to_string(minor(device));
}

std::string hexUuid(const unsigned char* id) {
    char text[40];
    std::snprintf(text, sizeof text,
                  "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", id[0],
                  id[1], id[2], id[3], id[4], id[5], id[6], id[7], id[8], id[9], id[10], id[11],
                  id[12], id[13], id[14], id[15]);
    return text;
}

class CFd {
public:
    explicit CFd(int fd) : fd(fd) {}
    ~CFd() {
        if (fd >= 0)
            ::close(fd);
    }
    CFd(const CFd&) = delete;
    CFd& operator=(const CFd&) = delete;
    int get() const { return fd; }

private:
    int fd;
};

} // namespace

bool tagStorageBacking::overlaps(const tagStorageBacking& other) const {
    for (dev_t disk : other.disks)
        if (disks.count(disk))
            return true;
    for (const auto& file : other.files)
        if (files.count(file))
            return true;
    return false;
}

CStorageBacking::CStorageBacking(std::string sysfsRoot, std::string mountInfo)
    : sysfsRoot(std::move(sysfsRoot)), mountInfo(std::move(mountInfo)) {}

int CStorageBacking::openForInspection(const std::string& path, bool directory) {
    const int flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK | (directory ? O_DIRECTORY : 0);
    int fd = ::open(path.c_str(), O_RDONLY | flags);
    if (fd < 0 && (errno == EACCES || errno == EPERM))
        fd = ::open(path.c_str(), O_PATH | flags);
    return fd;
}

tagStorageBacking CStorageBacking::ofDescriptor(int fd) const {
    tagStorageBacking backing;
    addDescriptor(fd, backing, 0);
    return backing;
}

tagStorageBacking CStorageBacking::ofBlockDevice(dev_t device) const {
    tagStorageBacking backing;
    const tagDeviceLayers layers = CBlockTopology(sysfsRoot).layersUnder(device);
    backing.disks = layers.disks;
    for (const std::string& file : layers.loopFiles) {
        struct stat st {};
        if (::stat(file.c_str(), &st) == 0)
            backing.files.insert({st.st_dev, st.st_ino});
    }
    return backing;
}

void CStorageBacking::addDescriptor(int fd, tagStorageBacking& backing, int depth) const {
    if (depth > kMaxDepth) {
        backing.unknown = "its storage is stacked too deep to follow";
        return;
    }
    struct stat st {};
    struct statfs sfs {};
    if (::fstat(fd, &st) != 0 || ::fstatfs(fd, &sfs) != 0) {
        backing.unknown =
            std::string("its file system cannot be examined: ") + std::strerror(errno);
        return;
    }
    const long type = long(sfs.f_type);
    if (type == long(BTRFS_SUPER_MAGIC)) {
        addBtrfs(fd, backing, depth);
        return;
    }
    // A file system on a block device carries that device's number.
    if (major(st.st_dev) != 0) {
        addDevice(st.st_dev, backing, depth);
        return;
    }
    if (inMemory(type) || remote(type))
        return;
    const auto mounts = CMountTable(mountInfo).mountsOf(st.st_dev);
    const std::string kind = mounts.empty() ? "an unknown" : "a " + mounts.front().type;
    if (type == OVERLAYFS_SUPER_MAGIC && !mounts.empty()) {
        // Everything written to an overlay lands in its upper folder.
        const std::string upper = mounts.front().option("upperdir");
        if (upper.empty()) {
            backing.unknown = "it is on an overlay file system without an upper folder";
            return;
        }
        CFd upperFd(openForInspection(upper, true));
        if (upperFd.get() < 0) {
            backing.unknown = "the upper folder of its overlay file system (" + upper +
                              ") cannot be examined: " + std::strerror(errno);
            return;
        }
        addDescriptor(upperFd.get(), backing, depth + 1);
        return;
    }
    if (type == FUSE_SUPER_MAGIC && !mounts.empty()) {
        addMountSource(mounts.front().source, kind + " file system", backing, depth);
        return;
    }
    backing.unknown = "it is on " + kind + " file system (device " + deviceText(st.st_dev) +
                      ") whose disks cannot be determined";
}

void CStorageBacking::addMountSource(const std::string& source, const std::string& what,
                                     tagStorageBacking& backing, int depth) const {
    // A FUSE file system that reads a device or an image file names it as
    // its source; anything else (a network address, a made-up name) tells
    // nothing about where the data goes.
    if (source.empty() || source[0] != '/') {
        backing.unknown =
            "it is on " + what + " (" + source + ") whose storage cannot be determined";
        return;
    }
    CFd sourceFd(openForInspection(source, false));
    struct stat st {};
    if (sourceFd.get() < 0 || ::fstat(sourceFd.get(), &st) != 0) {
        backing.unknown = "it is on " + what + " whose source " + source +
                          " cannot be examined: " + std::strerror(errno);
        return;
    }
    if (S_ISBLK(st.st_mode)) {
        addDevice(st.st_rdev, backing, depth + 1);
    } else if (S_ISREG(st.st_mode)) {
        backing.files.insert({st.st_dev, st.st_ino});
        addDescriptor(sourceFd.get(), backing, depth + 1);
    } else {
        backing.unknown =
            "it is on " + what + " whose source " + source + " is neither a device nor a file";
    }
}

void CStorageBacking::addDevice(dev_t device, tagStorageBacking& backing, int depth) const {
    const tagDeviceLayers layers = CBlockTopology(sysfsRoot).layersUnder(device);
    backing.disks.insert(layers.disks.begin(), layers.disks.end());
    // Blocks written to a loop device land in its file, and through it on
    // whatever holds the file (a sparse file takes new blocks there).
    for (const std::string& file : layers.loopFiles) {
        CFd fileFd(openForInspection(file, false));
        struct stat st {};
        if (fileFd.get() < 0 || ::fstat(fileFd.get(), &st) != 0) {
            backing.unknown = "the file behind its loop device (" + file +
                              ") cannot be examined: " + std::strerror(errno);
            return;
        }
        backing.files.insert({st.st_dev, st.st_ino});
        addDescriptor(fileFd.get(), backing, depth + 1);
        if (!backing.determined())
            return;
    }
}

void CStorageBacking::addBtrfs(int fd, tagStorageBacking& backing, int depth) const {
    // btrfs gives its files an anonymous device number; the volume's devices
    // are listed under its id in sysfs.
    btrfs_ioctl_fs_info_args info{};
    if (::ioctl(fd, BTRFS_IOC_FS_INFO, &info) != 0) {
        backing.unknown = std::string("the devices of its btrfs volume cannot be listed: ") +
                          std::strerror(errno);
        return;
    }
    const fs::path devices = fs::path(sysfsRoot) / "fs" / "btrfs" / hexUuid(info.fsid) / "devices";
    std::error_code ec;
    bool any = false;
    for (const auto& entry : fs::directory_iterator(devices, ec)) {
        dev_t device = 0;
        if (!CBlockTopology::readDeviceNumber(fs::canonical(entry.path(), ec).string(), device))
            continue;
        any = true;
        addDevice(device, backing, depth + 1);
        if (!backing.determined())
            return;
    }
    if (!any)
        backing.unknown = "the devices of its btrfs volume are not listed in " + devices.string();
}
