#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <utility>
#include <vector>

// Tells a file whose bytes equal those of a file already kept in this scan.
// Files are told apart by length and a hash of their bytes, and a match of
// both is confirmed byte by byte, so that crafted bytes cannot make one
// photo hide another.
class CDuplicateFilter {
public:
    using Reader = std::function<bool(uint32_t first, uint32_t last, void* buffer)>;

    CDuplicateFilter(Reader reader, uint32_t sectorSize);
    // True when the file of length bytes at startSector equals one kept
    // before; otherwise it is kept. A file that cannot be read is kept.
    bool isDuplicate(uint32_t startSector, uint64_t length);

private:
    bool hash(uint32_t startSector, uint64_t length, uint64_t& value);
    bool sameBytes(uint32_t a, uint32_t b, uint64_t length);

    Reader reader;
    uint32_t sectorSize;
    std::vector<unsigned char> piece;
    std::vector<unsigned char> other;
    std::map<std::pair<uint64_t, uint64_t>, std::vector<uint32_t>> kept; // (length, hash) -> starts
};
