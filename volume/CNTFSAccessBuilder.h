#pragma once

#include <cstdint>
#include <memory>
#include <string>

class CDevice;
class CNTFSVolumeAccess;

// Opens an NTFS volume with the project's NTFS reader, loads its allocation
// bitmap (the data of $Bitmap, file record 6) in 65536-byte pieces and builds
// the NTFS volume access over it. The access owns the reader's objects and
// the bitmap for as long as it lives.
class CNTFSAccessBuilder {
public:
    static constexpr uint32_t kPieceSize = 65536;

    explicit CNTFSAccessBuilder(std::shared_ptr<CDevice> device);

    // Throws CVolumeOpenError whose reason() says in one line why the volume
    // cannot be swept (not NTFS, version below 3.0, $Bitmap unreadable,
    // bitmap shorter than the volume, ...).
    std::unique_ptr<CNTFSVolumeAccess> build();

    // What build found, for the person running the program.
    uint16_t version() const { return ntfsVersion; }
    uint32_t bytesPerSector() const { return sectorBytes; }
    uint32_t clusterSize() const { return clusterBytes; }
    // Clusters the volume claims, and the clusters swept: fewer when the
    // device is shorter than the volume.
    uint64_t volumeClusters() const { return claimedClusters; }
    uint64_t clusterCount() const { return sweptClusters; }
    uint64_t freeClusters() const { return freeCount; }
    // "NTFS 3.1, 512-byte sectors, 4096-byte clusters, 25600 clusters, 24000 free"
    std::string describe() const;

private:
    std::shared_ptr<CDevice> device;
    uint16_t ntfsVersion = 0;
    uint32_t sectorBytes = 0;
    uint32_t clusterBytes = 0;
    uint64_t claimedClusters = 0;
    uint64_t sweptClusters = 0;
    uint64_t freeCount = 0;
};
