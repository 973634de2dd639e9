#include "scan/CDuplicateFilter.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr size_t kPieceBytes = 256 * 1024;
constexpr uint64_t kMultiplier = 0x9E3779B97F4A7C15ull;

uint64_t mix(uint64_t h, const unsigned char* bytes, size_t count) {
    size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        uint64_t word;
        std::memcpy(&word, bytes + i, 8);
        h = (h ^ word) * kMultiplier;
        h ^= h >> 29;
    }
    for (; i < count; ++i)
        h = (h ^ bytes[i]) * kMultiplier;
    return h;
}

} // namespace

CDuplicateFilter::CDuplicateFilter(Reader reader, uint32_t sectorSize)
    : reader(std::move(reader)), sectorSize(sectorSize) {
    const size_t sectors = std::max<size_t>(1, kPieceBytes / sectorSize);
    piece.resize(sectors * sectorSize);
    other.resize(sectors * sectorSize);
}

bool CDuplicateFilter::hash(uint32_t startSector, uint64_t length, uint64_t& value) {
    uint64_t h = length;
    uint32_t sector = startSector;
    for (uint64_t left = length; left > 0;) {
        const uint64_t n = std::min<uint64_t>(left, piece.size());
        const uint32_t sectors = uint32_t((n + sectorSize - 1) / sectorSize);
        if (!reader(sector, sector + sectors - 1, piece.data()))
            return false;
        h = mix(h, piece.data(), size_t(n));
        sector += sectors;
        left -= n;
    }
    value = h;
    return true;
}

bool CDuplicateFilter::sameBytes(uint32_t a, uint32_t b, uint64_t length) {
    for (uint64_t left = length; left > 0;) {
        const uint64_t n = std::min<uint64_t>(left, piece.size());
        const uint32_t sectors = uint32_t((n + sectorSize - 1) / sectorSize);
        if (!reader(a, a + sectors - 1, piece.data()) ||
            !reader(b, b + sectors - 1, other.data()) ||
            std::memcmp(piece.data(), other.data(), size_t(n)) != 0)
            return false;
        a += sectors;
        b += sectors;
        left -= n;
    }
    return true;
}

bool CDuplicateFilter::isDuplicate(uint32_t startSector, uint64_t length) {
    uint64_t value = 0;
    if (!hash(startSector, length, value))
        return false;
    auto& starts = kept[{length, value}];
    for (uint32_t earlier : starts)
        if (sameBytes(earlier, startSector, length))
            return true;
    starts.push_back(startSector);
    return false;
}
