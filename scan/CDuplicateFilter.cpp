#include "scan/CDuplicateFilter.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint64_t kMultiplier = 0x9E3779B97F4A7C15ull;

// A hash of a byte stream that does not depend on how the stream is cut
// into pieces: whole 8-byte words, the bytes between pieces carried over.
class CStreamHash {
public:
    explicit CStreamHash(uint64_t seed) : h(seed) {}
    void add(const unsigned char* bytes, size_t count) {
        while (count > 0 && carried > 0) {
            carry[carried++] = *bytes++;
            --count;
            if (carried == sizeof carry) {
                word(carry);
                carried = 0;
            }
        }
        for (; count >= sizeof carry; bytes += sizeof carry, count -= sizeof carry)
            word(bytes);
        for (; count > 0; --count)
            carry[carried++] = *bytes++;
    }
    uint64_t value() const {
        uint64_t v = h;
        for (size_t i = 0; i < carried; ++i)
            v = (v ^ carry[i]) * kMultiplier;
        return v;
    }

private:
    void word(const unsigned char* bytes) {
        uint64_t w;
        std::memcpy(&w, bytes, sizeof w);
        h = (h ^ w) * kMultiplier;
        h ^= h >> 29;
    }
    uint64_t h;
    unsigned char carry[8] = {};
    size_t carried = 0;
};

} // namespace

CDuplicateFilter::CDuplicateFilter(Reader reader, uint32_t sectorSize)
    : first(reader, sectorSize), second(reader, sectorSize) {}

bool CDuplicateFilter::hash(const std::vector<tagFilePiece>& pieces, uint64_t length,
                            uint64_t& value) {
    CStreamHash h(length);
    first.start(pieces, length);
    for (;;) {
        const unsigned char* data = nullptr;
        size_t count = 0;
        if (!first.next(data, count))
            return false;
        if (count == 0)
            break;
        h.add(data, count);
    }
    value = h.value();
    return true;
}

bool CDuplicateFilter::sameBytes(const std::vector<tagFilePiece>& a,
                                 const std::vector<tagFilePiece>& b, uint64_t length) {
    first.start(a, length);
    second.start(b, length);
    const unsigned char* x = nullptr;
    const unsigned char* y = nullptr;
    size_t xLeft = 0, yLeft = 0;
    for (;;) {
        if (xLeft == 0 && !first.next(x, xLeft))
            return false;
        if (yLeft == 0 && !second.next(y, yLeft))
            return false;
        if (xLeft == 0 || yLeft == 0)
            return xLeft == yLeft;
        const size_t n = std::min(xLeft, yLeft);
        if (std::memcmp(x, y, n) != 0)
            return false;
        x += n;
        y += n;
        xLeft -= n;
        yLeft -= n;
    }
}

bool CDuplicateFilter::isDuplicate(uint64_t startSector, uint64_t length) {
    return isDuplicate({{startSector, 0, length}}, length);
}

bool CDuplicateFilter::isDuplicate(const std::vector<tagFilePiece>& pieces, uint64_t length) {
    uint64_t value = 0;
    if (!hash(pieces, length, value))
        return false;
    auto& files = kept[{length, value}];
    for (const auto& earlier : files)
        if (sameBytes(earlier, pieces, length))
            return true;
    files.push_back(pieces);
    return false;
}
