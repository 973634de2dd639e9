#include "volume/CNTFSAccessBuilder.h"

#include "ntfs/CAttrBase.h"
#include "ntfs/CFileRecord.h"
#include "ntfs/CNTFSVolume.h"
#include "ntfs/tagNtfsLayout.h"
#include "platform/CDevice.h"
#include "volume/CNTFSVolumeAccess.h"
#include "volume/CVolumeOpenError.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <new>
#include <vector>

namespace {

// What the access borrows: destroyed after it, record first, then the
// volume, then the bitmap.
struct tagNTFSHolder {
    std::vector<uint8_t> bitmap;
    std::unique_ptr<CNTFSVolume> volume;
    std::unique_ptr<CFileRecord> record;
};

std::string format(const char* pattern, uint64_t a, uint64_t b = 0) {
    char line[200];
    std::snprintf(line, sizeof line, pattern, a, b);
    return line;
}

} // namespace

CNTFSAccessBuilder::CNTFSAccessBuilder(std::shared_ptr<CDevice> device)
    : device(std::move(device)) {}

std::unique_ptr<CNTFSVolumeAccess> CNTFSAccessBuilder::build() {
    auto holder = std::make_shared<tagNTFSHolder>();
    holder->volume = std::make_unique<CNTFSVolume>(device);
    CNTFSVolume& volume = *holder->volume;
    if (!volume.IsReady())
        throw CVolumeOpenError(volume.FailureReason());
    ntfsVersion = volume.Version();
    sectorBytes = volume.BytesPerSector();
    clusterBytes = volume.ClusterSize();

    holder->record = std::make_unique<CFileRecord>(&volume);
    CFileRecord& record = *holder->record;
    if (!record.ReadRecord(tagNtfsRecordNumber::kBitmap))
        throw CVolumeOpenError("the $Bitmap record (MFT record 6) cannot be read");
    record.SetAttributeMask(tagNtfsAttrMask::kDataRecord);
    if (!record.LoadAttributes())
        throw CVolumeOpenError("the attributes of the $Bitmap record cannot be read "
                               "(damaged, compressed or encrypted)");
    CAttrBase* data = record.UnnamedData();
    if (!data)
        throw CVolumeOpenError("the $Bitmap record has no unnamed data attribute");
    const uint64_t size = data->DataSize();

    // Clusters past the end of the device hold nothing to recover.
    const uint32_t sectorsPerCluster = volume.SectorsPerCluster();
    claimedClusters = volume.TotalSectors() / sectorsPerCluster;
    const uint64_t deviceClusters = (device->byteSize() + clusterBytes - 1) / clusterBytes;
    sweptClusters = std::min(claimedClusters, deviceClusters);
    if (sweptClusters == 0)
        throw CVolumeOpenError("the NTFS volume has no clusters on this device");
    if (size < claimedClusters / 8 + (claimedClusters % 8 ? 1 : 0))
        throw CVolumeOpenError(format("the $Bitmap holds %" PRIu64
                                      " bits, fewer than the volume's %" PRIu64 " clusters",
                                      size * 8, claimedClusters));

    // Only the bits of the swept clusters are kept.
    const uint64_t needed = (sweptClusters + 7) / 8;
    try {
        holder->bitmap.resize(needed);
    } catch (const std::bad_alloc&) {
        throw CVolumeOpenError("no memory for the allocation bitmap");
    }
    std::vector<uint8_t> piece(kPieceSize);
    for (uint64_t offset = 0; offset < needed; offset += kPieceSize) {
        uint32_t got = 0;
        const bool read = data->ReadAt(offset, piece.data(), kPieceSize, got);
        if (!read || (got != kPieceSize && got != size - offset))
            throw CVolumeOpenError(
                format("the $Bitmap data cannot be read at byte %" PRIu64, offset));
        const uint64_t keep = std::min<uint64_t>(got, needed - offset);
        std::copy_n(piece.data(), keep, holder->bitmap.data() + offset);
    }

    const uint8_t* bits = holder->bitmap.data();
    auto access = std::make_unique<CNTFSVolumeAccess>(sectorsPerCluster, clusterBytes,
                                                      sweptClusters, sectorBytes, device, bits,
                                                      std::shared_ptr<const void>(holder));
    access->setVolume(holder->volume.get());
    freeCount = access->countFreeClusters();
    return access;
}

std::string CNTFSAccessBuilder::describe() const {
    char line[256];
    int n = std::snprintf(line, sizeof line,
                          "NTFS %u.%u, %u-byte sectors, %u-byte clusters, %" PRIu64
                          " clusters, %" PRIu64 " free",
                          unsigned(ntfsVersion >> 8), unsigned(ntfsVersion & 0xFF), sectorBytes,
                          clusterBytes, sweptClusters, freeCount);
    if (claimedClusters > sweptClusters && n > 0 && size_t(n) < sizeof line)
        std::snprintf(line + n, sizeof line - n, " (the volume claims %" PRIu64 ")",
                      claimedClusters);
    return line;
}
