#include "volume/CRawVolumeAccess.h"

#include "platform/CDevice.h"
#include "platform/CFileDevice.h"

CRawVolumeAccess::CRawVolumeAccess(const std::string& path, uint32_t imageSectorSize)
    : CRawVolumeAccess(openVolumeDevice(path, imageSectorSize)) {}

CRawVolumeAccess::CRawVolumeAccess(std::shared_ptr<CDevice> device)
    : volumeHandle(std::move(device)) {
    sectorSize = volumeHandle->sectorSize();
    clusterSize = sectorSize;
    sectorCount = sectorSize ? volumeHandle->byteSize() / sectorSize : 0;
}

bool CRawVolumeAccess::readSectors(uint64_t first, uint64_t last, void* buffer) {
    const uint32_t length = uint32_t((last - first + 1) * sectorSize);
    return readFromDevice(*volumeHandle, first * sectorSize, length, buffer, first);
}

bool CRawVolumeAccess::readClusters(uint64_t first, uint64_t last, void* buffer) {
    return readSectors(first, last, buffer);
}

bool CRawVolumeAccess::isSourceLost() {
    return volumeHandle->isLost();
}
