#include "scan/CFreeSpaceMap.h"

#include "scan/CPieceReader.h"
#include "volume/CVolumeAccess.h"

#include <algorithm>

CFreeSpaceMap::CFreeSpaceMap(CVolumeAccess* access) : access(access) {
    clusterCount = access->getClusterCount();
    clusterSize = access->getClusterSize();
    const uint32_t sectorSize = access->getSectorSize();
    sectorsPerCluster = sectorSize ? clusterSize / sectorSize : 0;
    if (sectorsPerCluster == 0) {
        clusterCount = 0;
        return;
    }
    // Cluster 0 is never swept.
    uint64_t c = 1;
    while (c < clusterCount && access->isClusterUsed(c))
        ++c;
    baseCluster = c;
    baseSector = c < clusterCount ? access->clusterToSector(c) : 0;
}

bool CFreeSpaceMap::beginsCluster(uint64_t sector) const {
    return sectorsPerCluster && sector >= baseSector &&
           (sector - baseSector) % sectorsPerCluster == 0;
}

std::vector<tagFilePiece> CFreeSpaceMap::freeAfter(uint64_t sector, uint64_t bytes) const {
    if (baseCluster >= clusterCount || sector < baseSector)
        return {};
    return freeBetween(baseCluster + (sector - baseSector) / sectorsPerCluster + 1, clusterCount,
                       bytes);
}

std::vector<tagFilePiece> CFreeSpaceMap::freeBefore(uint64_t sector, uint64_t bytes) const {
    if (baseCluster >= clusterCount || sector < baseSector)
        return {};
    return freeBetween(baseCluster, baseCluster + (sector - baseSector) / sectorsPerCluster, bytes);
}

std::vector<tagFilePiece> CFreeSpaceMap::freeEndingBefore(uint64_t sector, uint64_t bytes) const {
    if (baseCluster >= clusterCount || sector < baseSector)
        return {};
    std::vector<uint64_t> clusters;
    uint32_t passed = 0;
    for (uint64_t c = baseCluster + (sector - baseSector) / sectorsPerCluster;
         c > baseCluster && uint64_t(clusters.size()) * clusterSize < bytes &&
         passed < kMaxClustersPassed;) {
        --c;
        if (access->isClusterUsed(c))
            ++passed;
        else
            clusters.push_back(c);
    }
    std::vector<tagFilePiece> pieces;
    const uint32_t sectorSize = clusterSize / sectorsPerCluster;
    for (auto it = clusters.rbegin(); it != clusters.rend(); ++it)
        CPieceReader::append(pieces, access->clusterToSector(*it), 0, clusterSize, sectorSize);
    return pieces;
}

std::vector<tagFilePiece> CFreeSpaceMap::freeBetween(uint64_t first, uint64_t end,
                                                     uint64_t bytes) const {
    std::vector<tagFilePiece> pieces;
    const uint32_t sectorSize = clusterSize / sectorsPerCluster;
    uint64_t c = first;
    uint64_t taken = 0;
    uint32_t passed = 0;
    for (; c < std::min(end, clusterCount) && taken < bytes && passed < kMaxClustersPassed; ++c) {
        if (access->isClusterUsed(c)) {
            ++passed;
            continue;
        }
        CPieceReader::append(pieces, access->clusterToSector(c), 0, clusterSize, sectorSize);
        taken += clusterSize;
    }
    return pieces;
}
