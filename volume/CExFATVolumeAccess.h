#pragma once

#include "volume/CVolumeAccess.h"

#include <memory>
#include <string>
#include <vector>

class CDevice;

// An exFAT volume: its clusters are those of the cluster heap, numbered from
// 2 as the FAT numbers them, and a cluster is free when its bit in the
// volume's allocation bitmap is clear. The boot region is checked (its
// checksum included), and the allocation bitmap is found through its entry
// in the root directory and read once, at construction.
//
// Sector numbers are those of the volume: sector 0 is the boot sector, and
// cluster 2 begins at the cluster heap offset.
class CExFATVolumeAccess : public CVolumeAccess {
public:
    // Reads the boot region, the root directory and the allocation bitmap
    // from device; throws CVolumeOpenError when they cannot be read or make
    // no sense for it.
    explicit CExFATVolumeAccess(std::shared_ptr<CDevice> device);
    ~CExFATVolumeAccess() override;

    // The heap's clusters and the two numbers before them, which are not
    // data clusters. Clusters of more than 2^14 sectors are seen as 2^n
    // pieces each, numbered on from cluster 0's first piece: the sweep reads
    // whole clusters into a buffer of 40000 sectors.
    uint64_t getClusterCount() override { return pieceCount; }
    uint32_t getClusterSize() override { return clusterSize; }
    uint32_t getSectorSize() override { return sectorSize; }
    // Clusters 0 and 1, clusters past the end of the device or of the
    // bitmap, and clusters whose sectors have no 32-bit number count as used.
    bool isClusterUsed(uint64_t cluster) override;
    uint64_t clusterToSector(uint64_t cluster) override;
    bool readSectors(uint64_t first, uint64_t last, void* buffer) override;
    bool readClusters(uint64_t first, uint64_t last, void* buffer) override;
    bool isSourceLost() override;
    std::string volumeDetail() override;

    uint32_t sectorsPerCluster() const { return clusterSectors; }
    // Pieces per cluster, as a power of two (0 for clusters seen whole).
    uint32_t pieceShiftOfClusters() const { return pieceShift; }
    uint32_t clusterHeapOffset() const { return heapOffset; }
    // Clusters from 2 up to (not including) this one lie wholly on the device.
    uint32_t firstClusterPastDevice() const { return clusterLimit; }
    // The cluster where the allocation bitmap begins and whether it was read
    // as one contiguous run (its FAT entries record no chain).
    uint32_t bitmapFirstCluster() const { return bitmapCluster; }
    bool bitmapReadContiguous() const { return bitmapContiguous; }

private:
    void readBootRegion();
    void checkGeometry(const std::vector<unsigned char>& boot);
    void findBitmap(uint32_t& firstCluster, uint64_t& length);
    void loadBitmap(uint32_t firstCluster, uint64_t length);
    // The FAT entry of a cluster of the heap (from the active FAT); false
    // when it cannot be read.
    bool fatEntry(uint32_t cluster, uint32_t& next);
    // The cluster that follows in a chain; throws when the chain breaks.
    uint32_t followChain(uint32_t cluster, const char* what);
    bool readBytes(uint64_t offset, uint32_t length, void* buffer);
    [[noreturn]] void fail(const std::string& why);

    std::shared_ptr<CDevice> volumeHandle;
    uint32_t sectorSize = 0;
    uint32_t clusterSize = 0;
    uint32_t clusterSectors = 0;
    uint32_t fatOffset = 0; // of the active FAT, in sectors
    uint32_t fatLength = 0;
    bool secondFatActive = false; // and with it the second allocation bitmap
    uint32_t heapOffset = 0;
    uint32_t heapClusters = 0;
    uint32_t rootCluster = 0;
    uint32_t clusterLimit = 0;
    uint32_t pieceShift = 0;
    uint32_t pieceSectors = 0;
    uint64_t pieceCount = 0;
    uint64_t pieceLimit = 0;
    uint32_t bitmapCluster = 0;
    bool bitmapContiguous = false;
    // One bit per heap cluster, bit 0 for cluster 2; clusters past its end
    // are used.
    std::vector<unsigned char> bitmap;
    // The FAT sector last read, for following chains.
    std::vector<unsigned char> fatSector;
    uint64_t fatSectorNumber = UINT64_MAX;
    std::string versionText;
};
