#pragma once

#include "scan/CBaseFile.h"

#include <cstdint>
#include <vector>

class CVolumeAccess;

// The free clusters of a volume as the sweep sees them, for the search of a
// photo's second piece: which sectors begin a cluster, and the free
// clusters that follow a sector. Safe to use from the decode thread while
// the sweep goes on (the accesses keep their allocation maps in memory).
class CFreeSpaceMap {
public:
    // Used clusters passed over at most in one search for free ones.
    static constexpr uint32_t kMaxClustersPassed = 1u << 24;

    explicit CFreeSpaceMap(CVolumeAccess* access);

    uint32_t clusterBytes() const { return clusterSize; }
    // True when the sector is the first of a free-able cluster.
    bool beginsCluster(uint64_t sector) const;
    // The free clusters after the one that holds sector, in order, as
    // pieces of whole clusters, up to bytes in all.
    std::vector<tagFilePiece> freeAfter(uint64_t sector, uint64_t bytes) const;
    // The free clusters from the volume's first one up to the one that
    // holds sector, in order, up to bytes in all.
    std::vector<tagFilePiece> freeBefore(uint64_t sector, uint64_t bytes) const;
    // The last free clusters before the one that holds sector, in order,
    // up to bytes in all.
    std::vector<tagFilePiece> freeEndingBefore(uint64_t sector, uint64_t bytes) const;

private:
    // The free clusters among clusters first..end-1, up to bytes in all.
    std::vector<tagFilePiece> freeBetween(uint64_t first, uint64_t end, uint64_t bytes) const;

    CVolumeAccess* access;
    uint64_t clusterCount = 0;
    uint32_t clusterSize = 0;
    uint32_t sectorsPerCluster = 0;
    // The first free cluster and its sector: every free cluster lies at or
    // after it, where clusters and sectors map linearly.
    uint64_t baseCluster = 0;
    uint64_t baseSector = 0;
};
