#include "CHandmadeFat32.h"

#include <algorithm>

void CHandmadeFat32::put16(std::vector<unsigned char>& b, size_t at, uint32_t v) {
    b[at] = v & 0xFF;
    b[at + 1] = (v >> 8) & 0xFF;
}

void CHandmadeFat32::put32(std::vector<unsigned char>& b, size_t at, uint32_t v) {
    put16(b, at, v & 0xFFFF);
    put16(b, at + 2, v >> 16);
}

std::vector<unsigned char> CHandmadeFat32::make(const tagFat32Layout& l,
                                                const std::map<uint32_t, uint32_t>& entries) {
    const uint64_t dataStart = l.reserved + uint64_t(l.fats) * l.fatSectors;
    std::vector<unsigned char> b((dataStart + l.dataSectors) * l.sectorSize, 0);
    b[0] = 0xEB;
    b[1] = 0x58;
    b[2] = 0x90;
    put16(b, 0x0B, l.declaredSectorSize);
    b[0x0D] = static_cast<unsigned char>(l.sectorsPerCluster);
    put16(b, 0x0E, l.reserved);
    b[0x10] = static_cast<unsigned char>(l.fats);
    put32(b, 0x24, l.fatSectors);
    b[510] = 0x55;
    b[511] = 0xAA;
    if (l.fats > 1)
        std::fill(b.begin() + (l.reserved + l.fatSectors) * l.sectorSize,
                  b.begin() + dataStart * l.sectorSize, 0xFF);
    for (auto [cluster, value] : entries)
        put32(b, l.reserved * l.sectorSize + cluster * 4, value);
    for (uint64_t s = dataStart; s < dataStart + l.dataSectors; ++s) {
        std::fill(b.begin() + s * l.sectorSize, b.begin() + (s + 1) * l.sectorSize,
                  static_cast<unsigned char>(s));
        put32(b, s * l.sectorSize, static_cast<uint32_t>(s));
    }
    return b;
}
