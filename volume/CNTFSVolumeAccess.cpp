#include "volume/CNTFSVolumeAccess.h"

#include "ntfs/CDeletedDataFinder.h"
#include "platform/CDevice.h"

#include <bit>
#include <cstdio>
#include <cstdlib>

CNTFSVolumeAccess::CNTFSVolumeAccess(uint32_t sectorsPerCluster, uint32_t clusterSize,
                                     uint64_t clusterCount, uint32_t sectorSize,
                                     std::shared_ptr<CDevice> volumeHandle, const uint8_t* bitmap,
                                     std::shared_ptr<const void> keeper)
    : sectorsPerCluster(sectorsPerCluster), clusterSize(clusterSize), clusterCount(clusterCount),
      sectorSize(sectorSize), volumeHandle(std::move(volumeHandle)), bitmap(bitmap),
      keeper(std::move(keeper)) {}

bool CNTFSVolumeAccess::readSectors(uint64_t first, uint64_t last, void* buffer) {
    char line[256];
    std::snprintf(line, sizeof line, "CNTFSVolumeAccess::readSectors(DWORD 开始%llu,结束%llu",
                  static_cast<unsigned long long>(first), static_cast<unsigned long long>(last));
    debugLine(line);
    const uint32_t length = uint32_t((last - first + 1) * sectorSize);
    return readFromDevice(*volumeHandle, first * sectorSize, length, buffer, first);
}

bool CNTFSVolumeAccess::readClusters(uint64_t first, uint64_t last, void* buffer) {
    const uint64_t sector = clusterToSector(first);
    const uint32_t length = uint32_t((last - first + 1) * clusterSize);
    return readFromDevice(*volumeHandle, sector * sectorSize, length, buffer, sector);
}

bool CNTFSVolumeAccess::isSourceLost() {
    return volumeHandle->isLost();
}

uint64_t CNTFSVolumeAccess::countFreeClusters() {
    uint64_t used = 0;
    const uint64_t wholeBytes = clusterCount / 8;
    for (uint64_t i = 0; i < wholeBytes; ++i)
        used += std::popcount(bitmap[i]);
    for (uint64_t n = wholeBytes * 8; n < clusterCount; ++n)
        used += (bitmap[n / 8] >> (n % 8)) & 1;
    return clusterCount - used;
}

void CNTFSVolumeAccess::debugLine(const std::string& line) {
    static const bool enabled = std::getenv("VALLORA_DEBUG") != nullptr;
    if (enabled)
        std::fprintf(stderr, "%s\n", line.c_str());
}

void CNTFSVolumeAccess::forEachListedDeletedFile(
    const std::function<bool(const tagListedFile&)>& visit) {
    if (!volume)
        return;
    tagListedFile file;
    CDeletedDataFinder(*volume).forEach([&](const tagDeletedData& data) {
        file.length = data.dataSize;
        file.runs.clear();
        for (const tagDataRun_Entry& run : data.runs) {
            const uint64_t first = uint64_t(run.lcn);
            if (first >= clusterCount || run.clusters > clusterCount - first ||
                firstUsedCluster(first, first + run.clusters) != first + run.clusters)
                return true; // beyond the swept clusters, or some in use again
            file.runs.emplace_back(first, run.clusters);
        }
        return visit(file);
    });
}
