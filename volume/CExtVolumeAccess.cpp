#include "volume/CExtVolumeAccess.h"

#include "platform/CByteView.h"
#include "platform/CDevice.h"
#include "volume/CExtDeviceIo.h"
#include "volume/CVolumeOpenError.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>

#include <ext2fs/ext2fs.h>
extern "C" {
#include <et/com_err.h>
}

namespace {

// The superblock, read before libext2fs is trusted with the volume so that
// nothing is allocated for a file system larger than the device.
constexpr uint64_t kSuperblockOffset = 1024;
constexpr uint32_t kSuperblockBytes = 1024;
constexpr size_t kBlocksCountLowOffset = 0x04;
constexpr size_t kFirstDataBlockOffset = 0x14;
constexpr size_t kLogBlockSizeOffset = 0x18;
constexpr size_t kMagicOffset = 0x38;
constexpr size_t kIncompatFeaturesOffset = 0x60;
constexpr size_t kRoCompatFeaturesOffset = 0x64;
constexpr size_t kBlocksCountHighOffset = 0x150;
constexpr uint16_t kExtMagic = 0xEF53;
constexpr uint32_t kIncompat64Bit = 0x80;
constexpr uint32_t kRoCompatBigalloc = 0x200;
constexpr uint32_t kMaxLogBlockSize = 6; // 64 KiB blocks

// The sweep reads whole clusters into a buffer of 40000 sectors; larger
// clusters are seen as runs of pieces of 2^14 sectors.
constexpr uint32_t kMaxPieceShift = 14;

std::string number(uint64_t value) {
    return std::to_string(value);
}

std::string errorText(errcode_t error) {
    static std::once_flag tables;
    std::call_once(tables, [] { initialize_ext2_error_table(); });
    return error_message(error);
}

// Closes libext2fs's file system whatever happens.
struct tagFsCloser {
    ext2_filsys fs = nullptr;
    ~tagFsCloser() {
        if (fs)
            ext2fs_close_free(&fs);
    }
};

} // namespace

CExtVolumeAccess::CExtVolumeAccess(std::shared_ptr<CDevice> device)
    : volumeHandle(std::move(device)) {
    sectorSize = volumeHandle->sectorSize();
    std::printf("Sector size is %d bytes\n", static_cast<int>(sectorSize));
    if (sectorSize < 512 || !std::has_single_bit(sectorSize))
        fail("unsupported sector size " + number(sectorSize));
    checkSuperblock();
    loadBitmaps();
    std::fflush(stdout);
}

CExtVolumeAccess::~CExtVolumeAccess() = default;

void CExtVolumeAccess::fail(const std::string& why) {
    std::fflush(stdout);
    throw CVolumeOpenError(why);
}

void CExtVolumeAccess::checkSuperblock() {
    unsigned char super[kSuperblockBytes];
    uint32_t got = 0;
    int error = 0;
    if (volumeHandle->byteSize() < kSuperblockOffset + kSuperblockBytes)
        fail("the device is smaller than an ext superblock's end");
    if (!volumeHandle->readAt(kSuperblockOffset, super, kSuperblockBytes, got, error) ||
        got < kSuperblockBytes)
        fail("the superblock cannot be read");
    if (CByteView::of(super).le16(kMagicOffset) != kExtMagic)
        fail("the superblock does not name ext2, ext3 or ext4");
    const uint32_t logBlockSize = CByteView::of(super).le32(kLogBlockSizeOffset);
    if (logBlockSize > kMaxLogBlockSize)
        fail("the superblock gives blocks of 2^" + number(uint64_t(logBlockSize) + 10) + " bytes");
    // Block 0 holds the superblock on a volume of 1 KiB blocks, which then
    // begins its bitmaps at block 1 (unless it is bigalloc); libext2fs reads
    // past its bitmap buffers when told otherwise.
    const bool bigalloc = CByteView::of(super).le32(kRoCompatFeaturesOffset) & kRoCompatBigalloc;
    const uint32_t firstDataBlock = CByteView::of(super).le32(kFirstDataBlockOffset);
    const uint32_t expectedFirst = (logBlockSize == 0 && !bigalloc) ? 1 : 0;
    if (firstDataBlock != expectedFirst)
        fail("the superblock gives first data block " + number(firstDataBlock) + " where it is " +
             number(expectedFirst));
    const uint64_t size = uint64_t(1024) << logBlockSize;
    uint64_t count = CByteView::of(super).le32(kBlocksCountLowOffset);
    if (CByteView::of(super).le32(kIncompatFeaturesOffset) & kIncompat64Bit)
        count |= uint64_t(CByteView::of(super).le32(kBlocksCountHighOffset)) << 32;
    if (count == 0 || count > volumeHandle->byteSize() / size)
        fail("the superblock gives " + number(count) + " blocks of " + number(size) +
             " bytes, more than the device holds (" + number(volumeHandle->byteSize()) + " bytes)");
}

void CExtVolumeAccess::loadBitmaps() {
    const std::string name = CExtDeviceIo::nameFor(volumeHandle.get());
    tagFsCloser closer;
    const int flags = EXT2_FLAG_64BITS | EXT2_FLAG_IGNORE_CSUM_ERRORS;
    errcode_t error =
        ext2fs_open2(name.c_str(), nullptr, flags, 0, 0, CExtDeviceIo::manager(), &closer.fs);
    if (error)
        fail("libext2fs cannot open the volume: " + errorText(error));
    ext2_filsys fs = closer.fs;
    blockBytes = EXT2_BLOCK_SIZE(fs->super);
    clusterBytes = EXT2_CLUSTER_SIZE(fs->super);
    blocks = ext2fs_blocks_count(fs->super);
    if (clusterBytes < sectorSize)
        fail("the volume's clusters of " + number(clusterBytes) +
             " bytes are smaller than the device's sectors of " + number(sectorSize) + " bytes");
    if (uint64_t(blocks) * blockBytes > volumeHandle->byteSize())
        fail("the volume is larger than the device");

    const uint32_t ratioBits = fs->cluster_ratio_bits;
    clusters = (blocks + (uint64_t(1) << ratioBits) - 1) >> ratioBits;
    const uint32_t clusterSectors = clusterBytes / sectorSize;
    const uint32_t clusterShift = std::countr_zero(clusterSectors);
    pieceShift = clusterShift > kMaxPieceShift ? clusterShift - kMaxPieceShift : 0;
    pieceSectors = clusterSectors >> pieceShift;
    pieceCount = clusters << pieceShift;
    clusterLimit = clusters;

    error = ext2fs_read_block_bitmap(fs);
    if (error)
        fail("libext2fs cannot read the block bitmaps: " + errorText(error));
    try {
        used.assign(size_t((clusterLimit + 7) / 8), 0);
    } catch (const std::bad_alloc&) {
        fail("not enough memory for the block bitmap (" + number(clusterLimit / 8) + " bytes)");
    }

    // Blocks before the first data block are not in the bitmaps.
    const uint64_t firstBlock = fs->super->s_first_data_block;
    markUsed(0, std::min<uint64_t>((firstBlock + (uint64_t(1) << ratioBits) - 1) >> ratioBits,
                                   clusterLimit));
    // Runs of used and free blocks, as libext2fs finds them.
    const uint64_t endBlock = std::min<uint64_t>(blocks, uint64_t(clusterLimit) << ratioBits);
    uint64_t at = firstBlock;
    while (at < endBlock) {
        blk64_t freeStart = 0;
        if (ext2fs_find_first_zero_block_bitmap2(fs->block_map, at, endBlock - 1, &freeStart)) {
            markUsed(at >> ratioBits, clusterLimit);
            break;
        }
        markUsed(at >> ratioBits, freeStart >> ratioBits);
        blk64_t usedStart = 0;
        if (ext2fs_find_first_set_block_bitmap2(fs->block_map, freeStart, endBlock - 1, &usedStart))
            break;
        if (usedStart <= freeStart)
            break; // no progress: a bitmap that contradicts itself
        at = usedStart;
    }

    // libext2fs reads a group whose bitmap has no place on the volume as all
    // free; its blocks cannot be told apart, so they count as used.
    uint64_t lostGroups = 0;
    for (dgrp_t group = 0; group < fs->group_desc_count; ++group) {
        const blk64_t place = ext2fs_block_bitmap_loc(fs, group);
        const bool uninitialised =
            ext2fs_has_group_desc_csum(fs) && ext2fs_bg_flags_test(fs, group, EXT2_BG_BLOCK_UNINIT);
        if (uninitialised || (place >= firstBlock && place < blocks))
            continue;
        ++lostGroups;
        markUsed(ext2fs_group_first_block2(fs, group) >> ratioBits,
                 (ext2fs_group_last_block2(fs, group) >> ratioBits) + 1);
    }

    std::vector<std::string> warnings;
    unclean = ext2fs_has_feature_journal_needs_recovery(fs->super);
    if (unclean)
        warnings.push_back("the journal holds changes not yet written to the volume (it was "
                           "not unmounted cleanly); its block bitmaps are swept as they are");
    if (lostGroups)
        warnings.push_back("the block bitmaps of " + number(lostGroups) +
                           " block groups lie off the volume; their blocks count as used");
    for (const std::string& text : warnings)
        warning += (warning.empty() ? "" : "; ") + text;
    detail = number(blocks) + " blocks of " + number(blockBytes) + " bytes";
    if (ratioBits)
        detail += ", clusters of " + number(clusterBytes) + " bytes";
    const std::pair<bool, const char*> features[] = {
        {ext2fs_has_feature_journal(fs->super), "journal"},
        {ext2fs_has_feature_64bit(fs->super), "64bit"},
        {ext2fs_has_feature_flex_bg(fs->super), "flex_bg"},
        {ext2fs_has_feature_bigalloc(fs->super), "bigalloc"},
        {ext2fs_has_feature_metadata_csum(fs->super), "metadata_csum"},
    };
    for (const auto& [present, text] : features)
        if (present)
            detail += std::string(", ") + text;
}

void CExtVolumeAccess::markUsed(uint64_t firstCluster, uint64_t endCluster) {
    endCluster = std::min<uint64_t>(endCluster, clusterLimit);
    uint64_t n = firstCluster;
    for (; n < endCluster && n % 8; ++n)
        used[n / 8] |= uint8_t(1u << (n % 8));
    if (n + 8 <= endCluster) {
        const uint64_t wholeBytes = (endCluster - n) / 8;
        std::memset(&used[n / 8], 0xFF, wholeBytes);
        n += wholeBytes * 8;
    }
    for (; n < endCluster; ++n)
        used[n / 8] |= uint8_t(1u << (n % 8));
}

bool CExtVolumeAccess::isClusterUsed(uint64_t piece) {
    const uint64_t cluster = piece >> pieceShift;
    if (piece >= pieceCount || cluster >= clusterLimit)
        return true;
    return (used[cluster / 8] >> (cluster % 8)) & 1;
}

bool CExtVolumeAccess::readSectors(uint64_t first, uint64_t last, void* buffer) {
    const uint32_t length = uint32_t((last - first + 1) * sectorSize);
    return readFromDevice(*volumeHandle, first * sectorSize, length, buffer, first);
}

bool CExtVolumeAccess::readClusters(uint64_t first, uint64_t last, void* buffer) {
    const uint64_t sector = clusterToSector(first);
    const uint32_t length = uint32_t((last - first + 1) * getClusterSize());
    return readFromDevice(*volumeHandle, sector * sectorSize, length, buffer, sector);
}

bool CExtVolumeAccess::isSourceLost() {
    return volumeHandle->isLost();
}
