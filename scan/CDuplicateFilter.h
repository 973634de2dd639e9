#pragma once

#include "scan/CPieceReader.h"

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
    using Reader = CPieceReader::Reader;

    CDuplicateFilter(Reader reader, uint32_t sectorSize);
    // True when the file of length bytes at startSector equals one kept
    // before; otherwise it is kept. A file that cannot be read is kept.
    bool isDuplicate(uint64_t startSector, uint64_t length);
    // The same for the file made of the first length bytes of pieces.
    bool isDuplicate(const std::vector<tagFilePiece>& pieces, uint64_t length);

private:
    bool hash(const std::vector<tagFilePiece>& pieces, uint64_t length, uint64_t& value);
    bool sameBytes(const std::vector<tagFilePiece>& a, const std::vector<tagFilePiece>& b,
                   uint64_t length);

    CPieceReader first;
    CPieceReader second;
    // (length, hash) -> the pieces of the files kept
    std::map<std::pair<uint64_t, uint64_t>, std::vector<std::vector<tagFilePiece>>> kept;
};
