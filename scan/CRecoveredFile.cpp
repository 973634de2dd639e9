#include "scan/CRecoveredFile.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

std::string reasonFor(const char* what, int error) {
    return std::string(what) + ": " + std::strerror(error);
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

CRecoveredFile::Entry CRecoveredFile::entryAt(const std::string& entry) const {
    struct stat st {};
    if (::fstatat(folder, entry.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? Entry::Gone : Entry::Unknown;
    if (S_ISLNK(st.st_mode))
        return Entry::Link;
    return S_ISREG(st.st_mode) ? Entry::File : Entry::Other;
}

bool CRecoveredFile::removeLink(const std::string& entry) const {
    return ::unlinkat(folder, entry.c_str(), 0) == 0;
}
