#pragma once

#include "volume/CVolumeAccess.h"

#include <cstdint>
#include <memory>
#include <string>

class CDevice;
class CNTFSVolume;

// The clusters of an NTFS volume; a cluster is free when its bit in the
// volume's allocation bitmap is clear. The access reads no metadata: it is
// built from the NTFS reader's geometry, its device and the loaded bitmap.
class CNTFSVolumeAccess : public CVolumeAccess {
public:
    // bitmap holds at least clusterCount bits and is borrowed: it must live
    // as long as the access, which keeper (when given) guarantees by owning
    // it together with the NTFS objects it came from.
    CNTFSVolumeAccess(uint32_t sectorsPerCluster, uint32_t clusterSize, uint64_t clusterCount,
                      uint32_t sectorSize, std::shared_ptr<CDevice> volumeHandle,
                      const uint8_t* bitmap, std::shared_ptr<const void> keeper = nullptr);

    uint64_t getClusterCount() override { return clusterCount; }
    uint32_t getClusterSize() override { return clusterSize; }
    uint32_t getSectorSize() override { return sectorSize; }
    bool isClusterUsed(uint64_t cluster) override {
        return (bitmap[cluster / 8] >> (cluster % 8)) & 1;
    }
    uint64_t clusterToSector(uint64_t cluster) override { return cluster * sectorsPerCluster; }
    bool readSectors(uint64_t first, uint64_t last, void* buffer) override;
    bool readClusters(uint64_t first, uint64_t last, void* buffer) override;
    bool isSourceLost() override;

    // Clusters whose bit is clear.
    uint64_t countFreeClusters() override;

    // The deleted files whose MFT records still list their data
    // (CDeletedDataFinder), every cluster of it free and swept; needs the
    // volume the access was built from (setVolume).
    void forEachListedDeletedFile(const std::function<bool(const tagListedFile&)>& visit) override;
    // The NTFS reader's volume, borrowed like the bitmap.
    void setVolume(CNTFSVolume* ntfs) { volume = ntfs; }

    // What the volume is, in one line for the person running the program
    // (NTFS version and geometry); set by whoever built the access.
    void setDescription(std::string text) { description_ = std::move(text); }
    const std::string& description() const { return description_; }
    std::string volumeDetail() override { return description_; }

protected:
    // Where the readSectors trace line goes: standard error when the
    // environment variable VALLORA_DEBUG is set, nowhere otherwise.
    virtual void debugLine(const std::string& line);

private:
    uint32_t sectorsPerCluster;
    uint32_t clusterSize;
    uint64_t clusterCount;
    uint32_t sectorSize;
    std::shared_ptr<CDevice> volumeHandle;
    const uint8_t* bitmap;
    CNTFSVolume* volume = nullptr;
    std::shared_ptr<const void> keeper;
    std::string description_;
};
