#include "volume/CVolumeAccess.h"

#include "platform/CFileDevice.h"
#include "volume/CVolumeOpenError.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

std::shared_ptr<CFileDevice> CVolumeAccess::openVolumeDevice(const std::string& path,
                                                             uint32_t imageSectorSize) {
    try {
        return CFileDevice::open(path, imageSectorSize);
    } catch (const CDeviceOpenError& e) {
        std::printf("Error opening connection to drive [%s:]\n", path.c_str());
        std::fflush(stdout);
        throw CVolumeOpenError(e.what());
    }
}

uint64_t CVolumeAccess::countFreeClusters() {
    const uint64_t count = getClusterCount();
    uint64_t free = 0;
    for (uint64_t n = 0; n < count; ++n)
        free += isClusterUsed(n) ? 0 : 1;
    return free;
}

uint64_t CVolumeAccess::firstUsedCluster(uint64_t from, uint64_t to) {
    while (from < to && !isClusterUsed(from))
        ++from;
    return from < to ? from : to;
}

uint64_t CVolumeAccess::firstFreeCluster(uint64_t from, uint64_t to) {
    while (from < to && isClusterUsed(from))
        ++from;
    return from < to ? from : to;
}

bool CVolumeAccess::readFromDevice(CDevice& device, uint64_t offset, uint32_t length, void* buffer,
                                   uint64_t sectorNumber) {
    (void)sectorNumber; // positioned reads cannot fail to position
    uint32_t got = 0;
    int error = 0;
    if (!device.readAt(offset, buffer, length, got, error)) {
        if (CDevice::isLossError(error))
            device.markLost();
        if (device.noteReadFailure(error))
            std::printf("Error reading from the device, Code: 0x%X\n",
                        static_cast<unsigned>(error));
        return false;
    }
    if (got < length) {
        if (offset + got < device.byteSize()) {
            // Short before the end of the device: when nothing came at all,
            // the device has shrunk to nothing under us.
            if (got == 0)
                device.markLost();
            if (device.noteReadFailure(ENXIO))
                std::printf("Error reading from the device, Code: 0x%X\n", unsigned(ENXIO));
            return false;
        }
        std::memset(static_cast<unsigned char*>(buffer) + got, 0, length - got);
    }
    device.noteReadSuccess();
    // Large reads are the sweep's and the writer's: read once, then done with.
    if (length >= kReleaseAfterBytes)
        device.releaseCache(offset, got);
    return true;
}
