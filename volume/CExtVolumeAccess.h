#pragma once

#include "volume/CVolumeAccess.h"

#include <memory>
#include <string>
#include <vector>

class CDevice;

// An ext2, ext3 or ext4 volume read through libext2fs: a cluster is a block
// (a bigalloc cluster on a bigalloc volume), and it is free when its bit in
// the block bitmaps is clear. libext2fs reads the volume through the same
// read-only device the access holds; the bitmaps are read once, at
// construction, and libext2fs is done with before the sweep.
//
// Sector numbers are those of the volume: block n begins at byte n x block
// size. A volume whose journal holds changes not yet written to it is swept
// by its bitmaps as they are, with a warning.
class CExtVolumeAccess : public CVolumeAccess {
public:
    // Throws CVolumeOpenError when the device does not hold an ext volume
    // that fits on it, or when libext2fs cannot open it or read its bitmaps.
    explicit CExtVolumeAccess(std::shared_ptr<CDevice> device);
    ~CExtVolumeAccess() override;

    // Clusters of more than 2^14 sectors are seen as 2^n pieces each: the
    // sweep reads whole clusters into a buffer of 40000 sectors.
    uint64_t getClusterCount() override { return pieceCount; }
    uint32_t getClusterSize() override { return pieceSectors * sectorSize; }
    uint32_t getSectorSize() override { return sectorSize; }
    // Clusters the bitmaps do not cover (before the first data block, past
    // the last block) and clusters whose sectors have no 32-bit number count
    // as used.
    bool isClusterUsed(uint64_t piece) override;
    uint64_t clusterToSector(uint64_t piece) override { return piece * pieceSectors; }
    bool readSectors(uint64_t first, uint64_t last, void* buffer) override;
    bool readClusters(uint64_t first, uint64_t last, void* buffer) override;
    bool isSourceLost() override;
    std::string volumeDetail() override { return detail; }
    std::string volumeWarning() override { return warning; }

    uint32_t blockSize() const { return blockBytes; }
    uint32_t fileSystemClusterSize() const { return clusterBytes; }
    // Clusters of the file system, numbered from the one holding block 0.
    uint64_t fileSystemClusters() const { return clusters; }
    bool journalNeedsRecovery() const { return unclean; }

private:
    void checkSuperblock();
    void loadBitmaps();
    void markUsed(uint64_t firstCluster, uint64_t endCluster);
    [[noreturn]] void fail(const std::string& why);

    std::shared_ptr<CDevice> volumeHandle;
    uint32_t sectorSize = 0;
    uint32_t blockBytes = 0;
    uint32_t clusterBytes = 0;
    uint64_t blocks = 0;
    uint64_t clusters = 0;
    uint32_t pieceShift = 0;
    uint32_t pieceSectors = 0;
    uint64_t pieceCount = 0;
    // Clusters below this one are held in used (the rest count as used).
    uint64_t clusterLimit = 0;
    // One bit per cluster below clusterLimit, set when it is in use.
    std::vector<unsigned char> used;
    std::string detail;
    std::string warning;
    bool unclean = false;
};
