#include "CCarvingFuzzEntry.h"

#include "scan/CJPGFile.h"
#include "scan/CJpegStartCheck.h"
#include "scan/CScanFrontEnd.h"
#include "scan/CScanner.h"
#include "volume/CVolumeAccess.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr uint32_t kSectorSize = 512;

class CSilentFrontEnd : public CScanFrontEnd {
public:
    void showLabelText(int, const std::string&) override {}
    void setProgressRange(uint64_t) override {}
    void setProgressPos(uint64_t) override {}
    StopRequest stopRequest() override { return StopRequest::Running; }
    void publishFoundCount(uint32_t) override {}
    void showSummary(const std::string&, const std::string&) override {}
    void showMainDialog() override {}
    std::string outputFolder() override { return ""; }
    void openOutputFolder() override {}
    void closeScanDialog() override {}
    void endProgram() override {}
};

// The fuzz input as a volume: clusters of perCluster sectors; a cluster is
// in use when its bit in usedMask (cluster mod 8) is set.
class CFuzzVolume : public CVolumeAccess {
public:
    CFuzzVolume(const uint8_t* data, size_t size, uint32_t perCluster, uint8_t usedMask)
        : perCluster(perCluster), usedMask(usedMask),
          clusters(uint32_t(size / (kSectorSize * perCluster))),
          bytes(data, data + size_t(clusters) * perCluster * kSectorSize) {}

    uint64_t getClusterCount() override { return clusters; }
    uint32_t getClusterSize() override { return perCluster * kSectorSize; }
    uint32_t getSectorSize() override { return kSectorSize; }
    bool isClusterUsed(uint64_t c) override { return (usedMask >> (c % 8)) & 1; }
    uint64_t clusterToSector(uint64_t c) override { return c * perCluster; }
    bool readSectors(uint64_t first, uint64_t last, void* buffer) override {
        if (last < first || size_t(last + 1) * kSectorSize > bytes.size())
            std::abort(); // the engine asked for sectors outside the volume
        std::memcpy(buffer, &bytes[size_t(first) * kSectorSize],
                    size_t(last - first + 1) * kSectorSize);
        return true;
    }
    bool readClusters(uint64_t first, uint64_t last, void* buffer) override {
        return readSectors(first * perCluster, (last + 1) * perCluster - 1, buffer);
    }
    const std::vector<uint8_t>& data() const { return bytes; }

private:
    uint32_t perCluster;
    uint8_t usedMask;
    uint32_t clusters;
    std::vector<uint8_t> bytes;
};

} // namespace

void CCarvingFuzzEntry::run(const uint8_t* data, size_t size) {
    if (size < 2)
        return;
    const uint32_t perCluster = 1u << (data[0] % 4); // 1, 2, 4 or 8 sectors
    const uint8_t usedMask = data[1] & 0xFE;         // never every cluster in use
    CFuzzVolume volume(data + 2, size - 2, perCluster, usedMask);
    CSilentFrontEnd ui;
    CScanner scanner(&volume);
    scanner.sweep(&ui);
    for (const auto& file : scanner.candidateTracker().foundFiles) {
        const auto& bytes = volume.data();
        if (file->lastSector < file->startSector || file->endOffset < 2 ||
            file->endOffset >= kSectorSize)
            std::abort();
        const uint8_t* first = &bytes[size_t(file->startSector) * kSectorSize];
        const size_t end = size_t(file->lastSector) * kSectorSize + file->endOffset;
        if (!CJPGFile::hasStartSignature(first) || bytes[end] != 0xD9 || bytes[end - 1] != 0xFF)
            std::abort();
        for (size_t k = end + 1; k < size_t(file->lastSector + 1) * kSectorSize; ++k)
            if (bytes[k] != 0)
                std::abort();
    }

    // The thorough mode on the same volume: what it takes as a photo lies on
    // the volume, begins with a wide start (at any byte) and ends with an end
    // marker, whether it is one stretch or several pieces.
    CScanner thorough(&volume);
    thorough.setThorough(true);
    thorough.sweep(&ui);
    for (const auto& file : thorough.candidateTracker().foundFiles) {
        const auto& bytes = volume.data();
        size_t firstByte = 0;
        size_t lastByte = 0;
        if (!file->pieces.empty()) {
            const tagFilePiece& head = file->pieces.front();
            const tagFilePiece& tail = file->pieces.back();
            if (tail.length == 0)
                std::abort();
            firstByte = size_t(head.sector) * kSectorSize + head.skip;
            lastByte = size_t(tail.sector) * kSectorSize + tail.skip + tail.length - 1;
        } else {
            if (file->lastSector < file->startSector || file->endOffset >= kSectorSize)
                std::abort();
            firstByte = size_t(file->startSector) * kSectorSize + file->startByte;
            lastByte = size_t(file->lastSector) * kSectorSize + file->endOffset;
        }
        if (lastByte >= bytes.size() || lastByte < 1 || firstByte >= bytes.size())
            std::abort();
        // The start check reads a sector's worth: the bytes from the start,
        // zeros past the end of the volume.
        unsigned char head[kSectorSize] = {};
        std::memcpy(head, &bytes[firstByte],
                    std::min<size_t>(kSectorSize, bytes.size() - firstByte));
        if (!CJpegStartCheck::isStart(head, kSectorSize) || bytes[lastByte] != 0xD9 ||
            bytes[lastByte - 1] != 0xFF)
            std::abort();
    }
}
