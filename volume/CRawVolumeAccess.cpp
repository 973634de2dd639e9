#include "volume/CRawVolumeAccess.h"

#include "platform/CDevice.h"
#include "platform/CFileDevice.h"

#include <limits>

CRawVolumeAccess::CRawVolumeAccess(const std::string& path, uint32_t imageSectorSize)
    : CRawVolumeAccess(openVolumeDevice(path, imageSectorSize)) {}

CRawVolumeAccess::CRawVolumeAccess(std::shared_ptr<CDevice> device)
    : volumeHandle(std::move(device)) {
    sectorSize = volumeHandle->sectorSize();
    clusterSize = sectorSize;
    uint64_t sectors = sectorSize ? volumeHandle->byteSize() / sectorSize : 0;
    constexpr uint64_t kMaxSectors = std::numeric_limits<uint32_t>::max();
    truncated = sectors > kMaxSectors;
    sectorCount = static_cast<uint32_t>(truncated ? kMaxSectors : sectors);
}

bool CRawVolumeAccess::readSectors(uint32_t first, uint32_t last, void* buffer) {
    uint32_t length = (last - first + 1) * sectorSize;
    return readFromDevice(*volumeHandle, uint64_t(first) * sectorSize, length, buffer, first);
}

bool CRawVolumeAccess::readClusters(uint32_t first, uint32_t last, void* buffer) {
    return readSectors(first, last, buffer);
}

bool CRawVolumeAccess::isSourceLost() {
    return volumeHandle->isLost();
}
