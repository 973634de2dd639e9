#pragma once

#include "volume/CVolumeAccess.h"

#include <array>
#include <memory>
#include <string>
#include <vector>

class CDevice;
class CHugePageBuffer;

// A FAT32 volume: its clusters are those the file allocation table numbers,
// and a cluster is free when its entry in the first FAT is zero. The boot
// sector and the whole first FAT are read once, at construction, and kept
// as one bit per cluster.
//
// Sector numbers count from the first sector after the reserved sectors:
// sector 0 is the first sector of the first FAT, and cluster 2, the first
// data cluster, begins at sector (number of FATs x sectors per FAT).
class CFAT32VolumeAccess : public CVolumeAccess {
public:
    static constexpr uint32_t kBootSectorSize = 90;

    // Opens path read-only; throws CVolumeOpenError when it cannot be opened
    // or does not hold a usable FAT32 boot sector and FAT.
    CFAT32VolumeAccess(const std::string& path, uint32_t imageSectorSize = 0);
    // Reads the boot sector and the first FAT from device; throws
    // CVolumeOpenError when they cannot be read or make no sense for it.
    explicit CFAT32VolumeAccess(std::shared_ptr<CDevice> device);
    ~CFAT32VolumeAccess() override;

    // The number of entries in one FAT, the two reserved entries and those
    // past the volume's last cluster included.
    uint64_t getClusterCount() override { return clusterCount; }
    uint32_t getClusterSize() override { return clusterSize; }
    uint32_t getSectorSize() override { return sectorSize; }
    // The whole 32-bit entry is compared with zero (the upper four bits are
    // not masked off). Clusters 0 and 1 are not data clusters, and clusters
    // that do not lie wholly on the device cannot hold anything: all of
    // these count as in use whatever their entry says.
    bool isClusterUsed(uint64_t cluster) override;
    // One pass over the FAT held in memory.
    uint64_t countFreeClusters() override;
    // A word of 64 clusters at a time.
    uint64_t firstUsedCluster(uint64_t from, uint64_t to) override;
    uint64_t firstFreeCluster(uint64_t from, uint64_t to) override;
    uint64_t clusterToSector(uint64_t cluster) override;
    bool readSectors(uint64_t first, uint64_t last, void* buffer) override;
    bool readClusters(uint64_t first, uint64_t last, void* buffer) override;
    uint64_t sectorToByteOffset(uint64_t sector) override;

    uint32_t sectorsPerCluster() const { return clusterSectors; }
    uint32_t reservedSectors() const { return reservedSectorCount; }
    uint32_t numberOfFats() const { return fatCount; }
    uint32_t sectorsPerFat() const { return fatSectors; }
    // Clusters from 2 up to (not including) this one lie wholly on the
    // device; from here on the FAT describes clusters beyond its end.
    uint32_t firstClusterPastDevice() const { return clusterLimit; }
    const std::array<unsigned char, kBootSectorSize>& bootSectorBytes() const { return bootSector; }
    uint32_t rootCluster() const;

    // Geometry that is legal but wrong (sectors per cluster 128 on a volume
    // formatted with 1) puts every cluster in the wrong place. The root
    // directory's first sector tells: it must read as directory entries
    // that name clusters on the volume, and a folder it names must begin
    // with its "." entry. Reads a sector or two; returns a one-line warning,
    // or "" when the directory looks right.
    std::string rootDirectoryWarning();
    // The root directory warning, looked at once.
    std::string volumeWarning() override;

private:
    void readBootSector();
    void checkGeometry();
    void loadFat();
    // Sets the bits of count FAT entries (little-endian, 4 bytes each) for
    // the clusters first, first + 1, ...; first is a multiple of 64.
    void markUsed(const unsigned char* entries, uint64_t first, uint64_t count);
    // The first cluster in [from, to) whose bit is set (wanted true) or
    // clear (wanted false); to when there is none.
    uint64_t firstWithBit(uint64_t from, uint64_t to, bool wanted) const;

    std::shared_ptr<CDevice> volumeHandle;
    uint32_t sectorSize = 0;
    std::array<unsigned char, kBootSectorSize> bootSector{};
    uint32_t clusterSize = 0;
    // One bit per cluster of the first FAT, set for the clusters in use (and
    // for those that are no data clusters on the device), in a block on huge
    // pages. used points into usedBlock.
    std::unique_ptr<CHugePageBuffer> usedBlock;
    uint64_t* used = nullptr;

    // Boot sector fields.
    uint32_t clusterSectors = 0;
    uint32_t reservedSectorCount = 0;
    uint32_t fatCount = 0;
    uint32_t fatSectors = 0;

    uint32_t clusterCount = 0;
    uint32_t clusterLimit = 0;
    bool rootChecked = false;
    std::string rootWarning;
};
