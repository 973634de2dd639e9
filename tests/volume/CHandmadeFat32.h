#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

// Layout of a FAT32 volume built by hand. The defaults: 512-byte sectors,
// 32 reserved sectors, 2 FATs of 1000 sectors, 8 sectors per cluster and
// 1000 clusters of data.
struct tagFat32Layout {
    uint32_t sectorSize = 512;
    uint32_t sectorsPerCluster = 8;
    uint32_t reserved = 32;
    uint32_t fats = 2;
    uint32_t fatSectors = 1000;
    uint64_t dataSectors = 8 * 1000;
    uint32_t declaredSectorSize = 512;
};

// Builds the bytes of such a volume: a boot sector, the first FAT holding
// the given entries (cluster -> value), a second FAT that says "used"
// everywhere, and data sectors that each begin with their own device sector
// number (32-bit little-endian) and are filled with its low byte.
class CHandmadeFat32 {
public:
    static std::vector<unsigned char> make(const tagFat32Layout& layout,
                                           const std::map<uint32_t, uint32_t>& entries);
    static void put16(std::vector<unsigned char>& bytes, size_t at, uint32_t value);
    static void put32(std::vector<unsigned char>& bytes, size_t at, uint32_t value);
};
