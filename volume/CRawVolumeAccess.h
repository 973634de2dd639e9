#pragma once

#include "volume/CVolumeAccess.h"

#include <memory>

class CDevice;

// Every sector of the device is a cluster, and none is in use: the sweep
// covers the whole device.
class CRawVolumeAccess : public CVolumeAccess {
public:
    // Opens path read-only; throws CVolumeOpenError when it cannot.
    CRawVolumeAccess(const std::string& path, uint32_t imageSectorSize = 0);
    explicit CRawVolumeAccess(std::shared_ptr<CDevice> device);

    uint32_t getClusterCount() override { return sectorCount; }
    uint32_t getClusterSize() override { return clusterSize; }
    uint32_t getSectorSize() override { return sectorSize; }
    bool isClusterUsed(uint32_t) override { return false; }
    uint32_t clusterToSector(uint32_t cluster) override { return cluster; }
    bool readSectors(uint32_t first, uint32_t last, void* buffer) override;
    bool readClusters(uint32_t first, uint32_t last, void* buffer) override;
    bool isSourceLost() override;

    // Sector numbers are 32-bit: a device of more than 2^32 sectors is
    // swept over its first 2^32 - 1 sectors only.
    bool isTruncated() override { return truncated; }

private:
    std::shared_ptr<CDevice> volumeHandle;
    uint32_t sectorSize = 0;
    uint32_t clusterSize = 0;
    uint32_t sectorCount = 0;
    bool truncated = false;
};
