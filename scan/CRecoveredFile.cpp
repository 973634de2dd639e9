#include "scan/CRecoveredFile.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// Suffixed names tried before giving up on a clash.
constexpr int kMaxSuffix = 9999;
// Times one name is tried again after what held it went away.
constexpr int kMaxRetries = 8;

std::string reasonFor(const char* what, int error) {
    return std::string(what) + ": " + std::strerror(error);
}

// The name with "_k" before its extension: "1992.jpg" -> "1992_1.jpg".
std::string suffixed(const std::string& name, int k) {
    const size_t dot = name.rfind('.');
    const std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
    const std::string extension = dot == std::string::npos ? "" : name.substr(dot);
    return stem + "_" + std::to_string(k) + extension;
}

bool readAll(int fd, off_t offset, unsigned char* data, size_t length) {
    while (length > 0) {
        const ssize_t n = ::pread(fd, data, length, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        offset += n;
        length -= size_t(n);
    }
    return true;
}

// The hidden file being written, for removeInProgress: the folder is set
// last and cleared first, so a handler never sees half a name.
std::atomic<int> inProgressFolder{-1};
char inProgressName[512];

void registerInProgress(int folder, const std::string& name) {
    inProgressFolder.store(-1);
    if (name.size() >= sizeof inProgressName)
        return;
    std::memcpy(inProgressName, name.c_str(), name.size() + 1);
    inProgressFolder.store(folder);
}

} // namespace

void CRecoveredFile::removeInProgress() {
    const int folder = inProgressFolder.exchange(-1);
    if (folder >= 0)
        ::unlinkat(folder, inProgressName, 0);
}

CRecoveredFile::CRecoveredFile(int folderFd, std::string fileName)
    : folder(folderFd), name(std::move(fileName)) {}

CRecoveredFile::~CRecoveredFile() {
    discard();
}

void CRecoveredFile::discard() {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
    if (!partial.empty()) {
        inProgressFolder.store(-1);
        ::unlinkat(folder, partial.c_str(), 0);
        partial.clear();
    }
}

bool CRecoveredFile::open(std::string& error) {
    // A link planted under the hidden name is nobody's file in progress.
    const std::string hidden = "." + name + ".partial";
    if (isSymlink(folder, hidden))
        ::unlinkat(folder, hidden.c_str(), 0);
    // Unnamed first: nothing is left behind whatever ends the program.
    // Linking it by name later goes through /proc/self/fd.
    if (::access("/proc/self/fd", X_OK) == 0) {
        fd = ::openat(folder, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0644);
        if (fd >= 0)
            return true;
    }
    // A hidden name otherwise. No link planted in the folder is followed:
    // O_NOFOLLOW | O_EXCL creates a new file or fails. A name held already
    // may be another run's file in progress; this run takes its own.
    const int flags = O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    partial = hidden;
    fd = ::openat(folder, partial.c_str(), flags, 0644);
    if (fd < 0 && errno == EEXIST) {
        partial = "." + name + "." + std::to_string(::getpid()) + ".partial";
        fd = ::openat(folder, partial.c_str(), flags, 0644);
        if (fd < 0 && errno == EEXIST) {
            // Left by an earlier run of this process id.
            ::unlinkat(folder, partial.c_str(), 0);
            fd = ::openat(folder, partial.c_str(), flags, 0644);
        }
    }
    if (fd < 0) {
        const int saved = errno;
        partial.clear();
        error = reasonFor("cannot create", saved);
        return false;
    }
    registerInProgress(folder, partial);
    return true;
}

bool CRecoveredFile::handTo(uid_t user, gid_t group, std::string& error) {
    if (::fchown(fd, user, group) == 0)
        return true;
    error = reasonFor("cannot hand the file to its owner", errno);
    return false;
}

bool CRecoveredFile::write(const unsigned char* data, size_t size, std::string& error) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = reasonFor("cannot write", n < 0 ? errno : ENOSPC);
            return false;
        }
        data += n;
        size -= size_t(n);
        length += n;
    }
    return true;
}

bool CRecoveredFile::isSymlink(int folderFd, const std::string& entry) {
    struct stat st {};
    return ::fstatat(folderFd, entry.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
}

bool CRecoveredFile::sameBytesAs(const std::string& existing) {
    const int other = ::openat(folder, existing.c_str(),
                               O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (other < 0)
        return false;
    struct stat st {};
    bool same = ::fstat(other, &st) == 0 && S_ISREG(st.st_mode) && st.st_size == length;
    std::vector<unsigned char> mine(1 << 16), theirs(1 << 16);
    for (off_t at = 0; same && at < length; at += off_t(mine.size())) {
        const size_t piece = size_t(std::min<off_t>(off_t(mine.size()), length - at));
        same = readAll(fd, at, mine.data(), piece) && readAll(other, at, theirs.data(), piece) &&
               std::memcmp(mine.data(), theirs.data(), piece) == 0;
    }
    ::close(other);
    return same;
}

bool CRecoveredFile::link(const std::string& target, int& error) {
    if (partial.empty()) {
        // The unnamed file gets its first name; linkat never replaces.
        const std::string self = "/proc/self/fd/" + std::to_string(fd);
        if (::linkat(AT_FDCWD, self.c_str(), folder, target.c_str(), AT_SYMLINK_FOLLOW) == 0)
            return true;
        error = errno;
        return false;
    }
    if (::renameat2(folder, partial.c_str(), folder, target.c_str(), RENAME_NOREPLACE) == 0) {
        inProgressFolder.store(-1);
        partial.clear();
        return true;
    }
    error = errno;
    if (error != EINVAL && error != ENOSYS && error != EOPNOTSUPP)
        return false;
    // A file system without no-replace renames: a hard link fails on a
    // taken name as well.
    if (::linkat(folder, partial.c_str(), folder, target.c_str(), 0) == 0) {
        inProgressFolder.store(-1);
        ::unlinkat(folder, partial.c_str(), 0);
        partial.clear();
        return true;
    }
    error = errno;
    return false;
}

bool CRecoveredFile::place(Placement& placement, std::string& finalName, std::string& error) {
    int retries = 0;
    for (int k = 0; k <= kMaxSuffix; ++k) {
        const std::string target = k == 0 ? name : suffixed(name, k);
        int failure = 0;
        if (link(target, failure)) {
            placement = k == 0 ? Placement::New : Placement::Renamed;
            finalName = target;
            discard();
            return true;
        }
        if (failure != EEXIST) {
            error = reasonFor("cannot create", failure);
            return false;
        }
        struct stat st {};
        if (::fstatat(folder, target.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT && retries++ < kMaxRetries)
                --k; // gone again meanwhile: the name is tried once more
            continue;
        }
        if (S_ISLNK(st.st_mode)) {
            // A link planted under the name holds no photo: it is removed
            // (the link itself, never what it points at), the name tried again.
            if (::unlinkat(folder, target.c_str(), 0) == 0 && retries++ < kMaxRetries)
                --k;
            continue;
        }
        if (!S_ISREG(st.st_mode)) {
            // A folder (or another kind of entry) under the photo's name:
            // this photo is reported, not hidden under another name.
            error = "cannot create: " + target + " exists and is not a file";
            return false;
        }
        if (sameBytesAs(target)) {
            placement = Placement::Identical;
            finalName = target;
            discard();
            return true;
        }
    }
    error = "cannot create: every name from " + name + " to " + suffixed(name, kMaxSuffix) +
            " is taken";
    return false;
}
