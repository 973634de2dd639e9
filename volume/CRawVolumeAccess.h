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

    uint64_t getClusterCount() override { return sectorCount; }
    uint32_t getClusterSize() override { return clusterSize; }
    uint32_t getSectorSize() override { return sectorSize; }
    bool isClusterUsed(uint64_t) override { return false; }
    uint64_t firstUsedCluster(uint64_t, uint64_t to) override { return to; }
    uint64_t firstFreeCluster(uint64_t from, uint64_t to) override { return from < to ? from : to; }
    uint64_t clusterToSector(uint64_t cluster) override { return cluster; }
    bool readSectors(uint64_t first, uint64_t last, void* buffer) override;
    bool readClusters(uint64_t first, uint64_t last, void* buffer) override;
    bool isSourceLost() override;

private:
    std::shared_ptr<CDevice> volumeHandle;
    uint32_t sectorSize = 0;
    uint32_t clusterSize = 0;
    uint64_t sectorCount = 0;
};
