#include "platform/CFileDevice.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string describe(const std::string& path, int error) {
    return path + ": " + std::strerror(error);
}

} // namespace

bool CDevice::isLossError(int error) {
    return error == ENODEV || error == ENXIO || error == ENOMEDIUM;
}

std::shared_ptr<CFileDevice> CFileDevice::open(const std::string& path, uint32_t imageSectorSize) {
    // Opened without blocking, so a FIFO (or a device that waits for a
    // peer) cannot hang the open; the type is checked before any read, and
    // reads then block as usual.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        throw CDeviceOpenError(describe(path, errno), errno);
    struct stat st {};
    if (::fstat(fd, &st) == 0 && !S_ISBLK(st.st_mode) && !S_ISREG(st.st_mode) &&
        !S_ISDIR(st.st_mode)) {
        ::close(fd);
        throw CDeviceOpenError(path + ": not a block device or a disk image file", ENODEV);
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        const int error = errno;
        ::close(fd);
        throw CDeviceOpenError(describe(path, error), error);
    }
    return adopt(fd, path, imageSectorSize);
}

std::shared_ptr<CFileDevice> CFileDevice::adopt(int fd, const std::string& name,
                                                uint32_t imageSectorSize) {
    std::shared_ptr<CFileDevice> device(new CFileDevice(fd, name));
    device->queryGeometry(imageSectorSize);
    return device;
}

CFileDevice::~CFileDevice() {
    if (directFd >= 0)
        ::close(directFd);
    if (fd >= 0)
        ::close(fd);
}

void CFileDevice::openDirect() {
    // The same open file, reopened read-only through its descriptor (an
    // adopted descriptor has no path of its own).
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    directFd = ::open(self.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_DIRECT);
}

bool CFileDevice::directRead(uint64_t offset, void* buffer, uint32_t length, uint32_t& got,
                             int& error) {
    auto* out = static_cast<unsigned char*>(buffer);
    while (got < length) {
        ssize_t n = ::pread(directFd, out + got, length - got, static_cast<off_t>(offset + got));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            error = errno;
            return false;
        }
        if (n == 0 || n % sectorBytes != 0) {
            got += static_cast<uint32_t>(n);
            break; // the end of the device (or a short tail): the buffered read finishes it
        }
        got += static_cast<uint32_t>(n);
    }
    return true;
}

void CFileDevice::queryGeometry(uint32_t imageSectorSize) {
    struct stat st {};
    if (fstat(fd, &st) != 0)
        throw CDeviceOpenError(describe(name, errno), errno);
    int accessMode = fcntl(fd, F_GETFL) & O_ACCMODE;
    if (accessMode != O_RDONLY)
        throw CDeviceOpenError(name + ": the source must be opened read-only", EINVAL);
    if (S_ISDIR(st.st_mode))
        throw CDeviceOpenError(name + ": is a directory, not a device or disk image", EISDIR);
    if (S_ISBLK(st.st_mode)) {
        blockDevice = true;
        devNumber = st.st_rdev;
        int logical = 0;
        uint64_t bytes = 0;
        if (ioctl(fd, BLKSSZGET, &logical) != 0 || ioctl(fd, BLKGETSIZE64, &bytes) != 0)
            throw CDeviceOpenError(describe(name, errno), errno);
        sectorBytes = static_cast<uint32_t>(logical);
        sizeBytes = bytes;
    } else if (S_ISREG(st.st_mode)) {
        devNumber = st.st_dev;
        sectorBytes = imageSectorSize ? imageSectorSize : kDefaultImageSectorSize;
        sizeBytes = static_cast<uint64_t>(st.st_size);
    } else {
        throw CDeviceOpenError(name + ": not a block device or a disk image file", ENODEV);
    }
    if (!isValidSectorSize(sectorBytes))
        throw CDeviceOpenError(name + ": unsupported sector size " + std::to_string(sectorBytes),
                               EINVAL);
#ifdef POSIX_FADV_SEQUENTIAL
    posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
    if (blockDevice)
        openDirect();
}

bool CFileDevice::goesDirect(uint64_t offset, uint64_t length) const {
    return directFd >= 0 && length >= kDirectFromBytes && offset % sectorBytes == 0 &&
           length % sectorBytes == 0;
}

void CFileDevice::releaseCache(uint64_t offset, uint64_t length) {
#ifdef POSIX_FADV_DONTNEED
    // A direct read left nothing in the cache, and dropping pages is not
    // free (it drains the page lists of every processor): only buffered
    // reads of a block device are dropped.
    if (blockDevice && !goesDirect(offset, length))
        posix_fadvise(fd, off_t(offset), off_t(length), POSIX_FADV_DONTNEED);
#else
    (void)offset;
    (void)length;
#endif
}

bool CFileDevice::readAt(uint64_t offset, void* buffer, uint32_t length, uint32_t& got,
                         int& error) {
    got = 0;
    error = 0;
    auto* out = static_cast<unsigned char*>(buffer);
    if (goesDirect(offset, length) && reinterpret_cast<uintptr_t>(buffer) % sectorBytes == 0) {
        if (!directRead(offset, buffer, length, got, error)) {
            if (error != EINVAL)
                return false;
            // The device takes no direct I/O after all: buffered from now on.
            ::close(directFd);
            directFd = -1;
            got = 0;
            error = 0;
        }
    }
    while (got < length) {
        ssize_t n = ::pread(fd, out + got, length - got, static_cast<off_t>(offset + got));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            error = errno;
            return false;
        }
        if (n == 0)
            break; // end of the device
        got += static_cast<uint32_t>(n);
    }
    return true;
}
