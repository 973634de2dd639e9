#include "platform/CBootSectorProbe.h"

#include "platform/CByteOrder.h"

#include <cstdint>
#include <cstring>

namespace {

// The BIOS parameter block of a FAT boot sector.
constexpr size_t kOemName = 3;
constexpr size_t kBytesPerSector = 11;
constexpr size_t kSectorsPerCluster = 13;
constexpr size_t kReservedSectors = 14;
constexpr size_t kFatCount = 16;
constexpr size_t kRootEntries = 17;
constexpr size_t kTotalSectors16 = 19;
constexpr size_t kMedia = 21;
constexpr size_t kFatSize16 = 22;
constexpr size_t kTotalSectors32 = 32;
constexpr size_t kFatSize32 = 36;
constexpr size_t kBootSignature = 510;
constexpr uint32_t kDirectoryEntryBytes = 32;
constexpr uint32_t kFat12MaxClusters = 4084;

// The ext superblock, 1024 bytes into the volume.
constexpr size_t kExtSuperblock = 1024;
constexpr size_t kExtMagic = kExtSuperblock + 56;
constexpr size_t kExtCompat = kExtSuperblock + 92;
constexpr size_t kExtIncompat = kExtSuperblock + 96;
constexpr size_t kExtRoCompat = kExtSuperblock + 100;
constexpr uint16_t kExtMagicValue = 0xEF53;
constexpr uint32_t kExtCompatJournal = 0x0004;
// What ext3 knows: incompat filetype, recover, meta_bg; ro_compat
// sparse_super, large_file, btree_dir. Anything more is ext4.
constexpr uint32_t kExt3Incompat = 0x0002 | 0x0004 | 0x0010;
constexpr uint32_t kExt3RoCompat = 0x0001 | 0x0002 | 0x0004;

bool powerOfTwo(uint32_t value) {
    return value != 0 && (value & (value - 1)) == 0;
}

bool oemIs(const unsigned char* head, const char* name) {
    return std::memcmp(head + kOemName, name, 8) == 0;
}

std::string fatName(const unsigned char* head) {
    const uint32_t bytesPerSector = CByteOrder::readLE16(head + kBytesPerSector);
    const uint32_t sectorsPerCluster = head[kSectorsPerCluster];
    const uint32_t reserved = CByteOrder::readLE16(head + kReservedSectors);
    const uint32_t fats = head[kFatCount];
    const uint32_t media = head[kMedia];
    if (bytesPerSector < 512 || bytesPerSector > 32768 || !powerOfTwo(bytesPerSector) ||
        !powerOfTwo(sectorsPerCluster) || reserved == 0 || fats == 0 ||
        (media != 0xF0 && media < 0xF8))
        return "";
    const uint32_t fatSize16 = CByteOrder::readLE16(head + kFatSize16);
    const uint32_t fatSize32 = CByteOrder::readLE32(head + kFatSize32);
    if (fatSize16 == 0)
        return fatSize32 != 0 ? "FAT32" : "";
    const uint32_t total16 = CByteOrder::readLE16(head + kTotalSectors16);
    const uint64_t total = total16 ? total16 : CByteOrder::readLE32(head + kTotalSectors32);
    const uint64_t rootSectors =
        (uint64_t(CByteOrder::readLE16(head + kRootEntries)) * kDirectoryEntryBytes +
         bytesPerSector - 1) /
        bytesPerSector;
    const uint64_t metadata = reserved + uint64_t(fats) * fatSize16 + rootSectors;
    if (total <= metadata)
        return "";
    const uint64_t clusters = (total - metadata) / sectorsPerCluster;
    return clusters <= kFat12MaxClusters ? "FAT12" : "FAT16";
}

std::string extName(const unsigned char* head) {
    if (CByteOrder::readLE16(head + kExtMagic) != kExtMagicValue)
        return "";
    const uint32_t incompat = CByteOrder::readLE32(head + kExtIncompat);
    const uint32_t roCompat = CByteOrder::readLE32(head + kExtRoCompat);
    if ((incompat & ~kExt3Incompat) || (roCompat & ~kExt3RoCompat))
        return "ext4";
    return (CByteOrder::readLE32(head + kExtCompat) & kExtCompatJournal) ? "ext3" : "ext2";
}

} // namespace

std::string CBootSectorProbe::name(const unsigned char* head, size_t length) {
    if (length < 512)
        return "";
    if (oemIs(head, "NTFS    "))
        return "NTFS";
    if (oemIs(head, "EXFAT   "))
        return "exfat";
    const bool jump = head[0] == 0xEB || head[0] == 0xE9;
    const bool signed55AA = head[kBootSignature] == 0x55 && head[kBootSignature + 1] == 0xAA;
    if (jump || signed55AA) {
        const std::string fat = fatName(head);
        if (!fat.empty())
            return fat;
    }
    if (length >= kExtSuperblock * 2)
        return extName(head);
    return "";
}
