// The Windows side of CFileDevice: disks (\\.\PhysicalDriveN), volumes
// (\\.\E:, or just E:) and image files, opened with read access only. The
// descriptor is a C runtime descriptor over the Win32 handle.
#include "platform/CFileDevice.h"

#include "platform/win32/CHandleIoctl.h"
#include "platform/win32/CWinDevicePath.h"
#include "platform/win32/CWinDiskQuery.h"
#include "platform/win32/CWinText.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <malloc.h>
#include <windows.h>

namespace {

HANDLE handleOf(int fd) {
    return reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
}

std::string describe(const std::string& path, DWORD error) {
    return path + ": " + CWinText::errorText(error);
}

// Reads whole sectors into an aligned block; a raw volume or disk takes
// nothing else.
bool readAligned(HANDLE handle, uint64_t offset, unsigned char* out, uint32_t length, uint32_t& got,
                 DWORD& error) {
    got = 0;
    while (got < length) {
        OVERLAPPED at{};
        at.Offset = DWORD(offset + got);
        at.OffsetHigh = DWORD((offset + got) >> 32);
        DWORD n = 0;
        if (!::ReadFile(handle, out + got, length - got, &n, &at)) {
            error = ::GetLastError();
            if (error == ERROR_HANDLE_EOF)
                return true;
            return false;
        }
        if (n == 0)
            break;
        got += n;
    }
    return true;
}

} // namespace

bool CDevice::isLossError(int error) {
    return error == ENODEV || error == ENXIO;
}

std::shared_ptr<CFileDevice> CFileDevice::open(const std::string& path, uint32_t imageSectorSize) {
    bool device = false;
    const std::wstring wide = CWinDevicePath::resolve(path, device);
    if (!device) {
        const DWORD attributes = ::GetFileAttributesW(wide.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            throw CDeviceOpenError(path + ": is a directory, not a device or disk image", EISDIR);
    }
    // Read access only, ever; others may go on reading and writing the
    // device (Windows keeps a mounted volume open for writing itself).
    // Raw devices are read past the cache, as they are read once.
    const DWORD flags = device ? FILE_FLAG_NO_BUFFERING : FILE_FLAG_SEQUENTIAL_SCAN;
    HANDLE handle = ::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        std::string text = describe(path, error);
        if (device && error == ERROR_ACCESS_DENIED)
            text += " (reading a drive needs a command prompt run as administrator)";
        throw CDeviceOpenError(text, CWinText::toErrno(error));
    }
    const DWORD type = ::GetFileType(handle);
    if (type != FILE_TYPE_DISK) {
        ::CloseHandle(handle);
        throw CDeviceOpenError(path + ": not a block device or a disk image file", ENODEV);
    }
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        ::CloseHandle(handle);
        throw CDeviceOpenError(path + ": too many open files", EMFILE);
    }
    std::shared_ptr<CFileDevice> opened(new CFileDevice(fd, path));
    opened->blockDevice = device;
    opened->queryGeometry(imageSectorSize);
    return opened;
}

CFileDevice::~CFileDevice() {
    if (fd >= 0)
        ::_close(fd);
}

void CFileDevice::queryGeometry(uint32_t imageSectorSize) {
    const HANDLE handle = handleOf(fd);
    if (handle == INVALID_HANDLE_VALUE)
        throw CDeviceOpenError(name + ": not open", EBADF);
    if (blockDevice) {
        CHandleIoctl channel(handle);
        tagWinDiskGeometry geometry;
        std::string reason;
        if (!CWinDiskQuery::geometry(channel, geometry, reason))
            throw CDeviceOpenError(name + ": " + reason, EIO);
        // A volume's last sectors lie past its file system's end; without
        // this the driver refuses to read them.
        CWinDiskQuery::allowExtendedReads(channel);
        sectorBytes = geometry.logicalSector;
        sizeBytes = geometry.bytes;
    } else {
        LARGE_INTEGER size{};
        if (!::GetFileSizeEx(handle, &size))
            throw CDeviceOpenError(describe(name, ::GetLastError()), EIO);
        sectorBytes = imageSectorSize ? imageSectorSize : kDefaultImageSectorSize;
        sizeBytes = uint64_t(size.QuadPart);
    }
    if (!isValidSectorSize(sectorBytes))
        throw CDeviceOpenError(name + ": unsupported sector size " + std::to_string(sectorBytes),
                               EINVAL);
}

// Drives are opened unbuffered, so a sweep leaves nothing in the cache to
// drop; an image file's pages stay for whoever reads it next.
void CFileDevice::releaseCache(uint64_t /*offset*/, uint64_t /*length*/) {}

bool CFileDevice::readAt(uint64_t offset, void* buffer, uint32_t length, uint32_t& got,
                         int& error) {
    got = 0;
    error = 0;
    if (offset >= sizeBytes || length == 0)
        return true;
    if (uint64_t(length) > sizeBytes - offset)
        length = uint32_t(sizeBytes - offset);
    const HANDLE handle = handleOf(fd);
    auto* out = static_cast<unsigned char*>(buffer);
    DWORD failure = 0;
    const uint32_t sector = sectorBytes;
    const bool aligned = !blockDevice || (offset % sector == 0 && length % sector == 0 &&
                                          reinterpret_cast<uintptr_t>(out) % sector == 0);
    if (aligned) {
        if (readAligned(handle, offset, out, length, got, failure))
            return true;
        error = CWinText::toErrno(failure);
        return false;
    }
    // Whole sectors around the request, read into an aligned block.
    const uint64_t first = offset / sector * sector;
    const uint64_t end = (offset + length + sector - 1) / sector * sector;
    const size_t span = size_t(end - first);
    auto* block = static_cast<unsigned char*>(::_aligned_malloc(span, sector));
    if (!block) {
        error = ENOMEM;
        return false;
    }
    uint32_t read = 0;
    const bool done = readAligned(handle, first, block, uint32_t(span), read, failure);
    if (done) {
        const uint64_t skip = offset - first;
        got = read > skip ? uint32_t(std::min<uint64_t>(read - skip, length)) : 0;
        std::memcpy(out, block + skip, got);
    } else {
        error = CWinText::toErrno(failure);
    }
    ::_aligned_free(block);
    return done;
}
