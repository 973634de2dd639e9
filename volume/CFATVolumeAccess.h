#pragma once

#include "volume/CVolumeAccess.h"

#include <memory>
#include <string>
#include <vector>

class CDevice;

// A FAT12 or FAT16 volume: its clusters are those the file allocation table
// numbers, from 2, and a cluster is free when its entry in the first FAT is
// zero. The boot sector and the first FAT are read once, at construction.
// The FAT width follows from the number of clusters, as FAT defines it:
// fewer than 4085 is FAT12, fewer than 65525 FAT16.
//
// Sector numbers are those of the volume: sector 0 is the boot sector, and
// cluster 2 begins after the FATs and the fixed root directory area, which
// are not swept.
class CFATVolumeAccess : public CVolumeAccess {
public:
    // Reads the boot sector and the first FAT from device; throws
    // CVolumeOpenError when they cannot be read or make no sense for it.
    explicit CFATVolumeAccess(std::shared_ptr<CDevice> device);
    ~CFATVolumeAccess() override;

    // The data clusters and the two numbers before them.
    uint64_t getClusterCount() override { return dataClusters + 2; }
    uint32_t getClusterSize() override { return clusterSize; }
    uint32_t getSectorSize() override { return sectorSize; }
    // Clusters 0 and 1, clusters past the end of the device and clusters the
    // FAT has no entry for count as used.
    bool isClusterUsed(uint64_t cluster) override;
    uint64_t clusterToSector(uint64_t cluster) override;
    bool readSectors(uint64_t first, uint64_t last, void* buffer) override;
    bool readClusters(uint64_t first, uint64_t last, void* buffer) override;
    bool isSourceLost() override;
    std::string volumeDetail() override;

    // 12 or 16.
    uint32_t fatBits() const { return entryBits; }
    uint32_t sectorsPerCluster() const { return clusterSectors; }
    // The first sector of cluster 2, after the fixed root directory area.
    uint32_t firstDataSector() const { return dataStart; }
    // Clusters from 2 up to (not including) this one lie wholly on the device
    // and have an entry in the FAT.
    uint32_t firstClusterPastDevice() const { return clusterLimit; }

private:
    void readBootSector();
    void loadFat();
    uint32_t entry(uint32_t cluster) const;
    [[noreturn]] void fail(const std::string& why);

    std::shared_ptr<CDevice> volumeHandle;
    uint32_t sectorSize = 0;
    uint32_t clusterSize = 0;
    uint32_t clusterSectors = 0;
    uint32_t reservedSectors = 0;
    uint32_t fatSectors = 0;
    uint32_t rootEntries = 0;
    uint32_t dataStart = 0;
    uint32_t dataClusters = 0;
    uint32_t clusterLimit = 0;
    uint32_t entryBits = 0;
    // The first FAT, as many bytes as the clusters on the device need.
    std::vector<unsigned char> fat;
};
