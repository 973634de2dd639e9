#include "privilege/CDeviceOpener.h"

#include "platform/CFileDevice.h"
#include "privilege/CPkexecOpener.h"
#include "privilege/CUDisks2Opener.h"

#include <cerrno>
#include <unistd.h>

std::shared_ptr<CFileDevice> CDeviceOpener::open(const std::string& path, bool imageFile,
                                                 const std::atomic<bool>& stop) {
    try {
        return CFileDevice::open(path);
    } catch (const CDeviceOpenError& failure) {
        const bool rightsMissing = failure.errorCode == EACCES || failure.errorCode == EPERM;
        if (imageFile || !rightsMissing || ::geteuid() == 0)
            throw;
    }

    int fd = -1;
    std::string error;
    switch (CUDisks2Opener::open(path, stop, fd, error)) {
    case CUDisks2Opener::Result::Opened:
        return CFileDevice::adopt(fd, path);
    case CUDisks2Opener::Result::Failed:
        throw CDeviceOpenError(path + ": udisks2: " + error, EACCES);
    case CUDisks2Opener::Result::Unavailable:
        break;
    }
    fd = CPkexecOpener::open(path, stop, error);
    if (fd < 0)
        throw CDeviceOpenError(path + ": pkexec: " + error, EACCES);
    return CFileDevice::adopt(fd, path);
}
