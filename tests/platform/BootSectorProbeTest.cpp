#include "platform/CBootSectorProbe.h"
#ifndef _WIN32
#include "platform/CFsProbe.h"
#endif

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

void put16(Bytes& b, size_t at, uint16_t v) {
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}

void put32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = uint8_t(v >> (8 * i));
}

// A FAT boot sector: 512-byte sectors, two FATs, the given geometry.
struct tagBpb {
    uint8_t sectorsPerCluster;
    uint16_t rootEntries;
    uint16_t fatSize16;
    uint32_t fatSize32;
    uint32_t totalSectors;
    uint8_t media = 0xF8;
    uint16_t bytesPerSector = 512;
};

Bytes fatBootSector(const tagBpb& bpb) {
    Bytes b(CBootSectorProbe::kProbeBytes, 0);
    b[0] = 0xEB;
    b[1] = 0x58;
    b[2] = 0x90;
    std::memcpy(&b[3], "mkfs.fat", 8);
    put16(b, 11, bpb.bytesPerSector);
    b[13] = bpb.sectorsPerCluster;
    put16(b, 14, bpb.fatSize16 ? 1 : 32);
    b[16] = 2;
    put16(b, 17, bpb.rootEntries);
    if (bpb.totalSectors < 65536)
        put16(b, 19, uint16_t(bpb.totalSectors));
    else
        put32(b, 32, bpb.totalSectors);
    b[21] = bpb.media;
    put16(b, 22, bpb.fatSize16);
    put32(b, 36, bpb.fatSize32);
    b[510] = 0x55;
    b[511] = 0xAA;
    return b;
}

Bytes withOemName(const char* name) {
    Bytes b(CBootSectorProbe::kProbeBytes, 0);
    b[0] = 0xEB;
    std::memcpy(&b[3], name, 8);
    return b;
}

// An ext superblock with the given feature words.
Bytes extVolume(uint32_t compat, uint32_t incompat, uint32_t roCompat) {
    Bytes b(CBootSectorProbe::kProbeBytes, 0);
    put16(b, 1024 + 56, 0xEF53);
    put32(b, 1024 + 92, compat);
    put32(b, 1024 + 96, incompat);
    put32(b, 1024 + 100, roCompat);
    return b;
}

std::string probe(const Bytes& b) {
    return CBootSectorProbe::name(b.data(), b.size());
}

} // namespace

TEST(BootSectorProbe, NamesEachFileSystemFromItsFirstBytes) {
    struct tagCase {
        const char* what;
        Bytes bytes;
        const char* expected;
    };
    const tagCase cases[] = {
        {"NTFS", withOemName("NTFS    "), "NTFS"},
        {"exFAT", withOemName("EXFAT   "), "exfat"},
        // 2048 sectors, 1 per cluster: about 2000 clusters.
        {"FAT12", fatBootSector({1, 512, 6, 0, 2048}), "FAT12"},
        // 65536 sectors, 4 per cluster: about 16000 clusters.
        {"FAT16", fatBootSector({4, 512, 64, 0, 65536}), "FAT16"},
        // A 16-bit FAT size of zero is FAT32, however few the clusters.
        {"FAT32", fatBootSector({1, 0, 0, 160, 40960}), "FAT32"},
        {"ext2", extVolume(0, 0x0002, 0x0001), "ext2"},
        {"ext3", extVolume(0x0004, 0x0002, 0x0001), "ext3"},
        {"ext4 (extents)", extVolume(0x0004, 0x0002 | 0x0040, 0x0001), "ext4"},
        {"ext4 (huge files)", extVolume(0x0004, 0x0002, 0x0008), "ext4"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(probe(c.bytes), c.expected) << c.what;
}

TEST(BootSectorProbe, NamesNothingForBytesNoVolumeHas) {
    struct tagCase {
        const char* what;
        Bytes bytes;
    };
    const tagCase cases[] = {
        {"zeros", Bytes(CBootSectorProbe::kProbeBytes, 0)},
        {"bytes per sector 0", fatBootSector({1, 512, 6, 0, 2048, 0xF8, 0})},
        {"bytes per sector 520", fatBootSector({1, 512, 6, 0, 2048, 0xF8, 520})},
        {"3 sectors per cluster", fatBootSector({3, 512, 6, 0, 2048})},
        {"no cluster size", fatBootSector({0, 512, 6, 0, 2048})},
        {"media byte 0x12", fatBootSector({1, 512, 6, 0, 2048, 0x12})},
        {"no FAT size at all", fatBootSector({1, 0, 0, 0, 40960})},
        {"metadata larger than the volume", fatBootSector({1, 512, 4000, 0, 2048})},
    };
    for (const auto& c : cases)
        EXPECT_EQ(probe(c.bytes), "") << c.what;
    // Too short to hold a boot sector, and too short for the ext superblock.
    const Bytes ntfs = withOemName("NTFS    ");
    EXPECT_EQ(CBootSectorProbe::name(ntfs.data(), 511), "");
    const Bytes ext = extVolume(0, 0, 0);
    EXPECT_EQ(CBootSectorProbe::name(ext.data(), 2047), "");
}

#ifndef _WIN32
// Volumes made by the file systems' own tools are named as libblkid names
// them on Linux.
TEST(BootSectorProbe, AgreesWithLibblkidOnToolMadeVolumes) {
    int compared = 0;
    for (const char* folder : {"fat_volume", "exfat_volume", "ext_volume", "ntfs_volume"}) {
        const std::filesystem::path dir = std::filesystem::path(VALLORA_FUZZ_CORPORA) / folder;
        for (const auto& entry : std::filesystem::directory_iterator(dir)) {
            if (entry.path().filename().string().rfind("crash-", 0) == 0)
                continue; // cut down by the fuzzer, not made by a tool
            std::ifstream in(entry.path(), std::ios::binary);
            Bytes head(CBootSectorProbe::kProbeBytes, 0);
            in.read(reinterpret_cast<char*>(head.data()), std::streamsize(head.size()));
            const std::string blkid = CFsProbe::probePath(entry.path().string());
            if (blkid.empty())
                continue; // a seed cut too short for libblkid to decide
            EXPECT_EQ(CBootSectorProbe::name(head.data(), size_t(in.gcount())), blkid)
                << entry.path();
            ++compared;
        }
    }
    EXPECT_GT(compared, 4);
}
#endif
