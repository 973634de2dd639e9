#pragma once

#include "scan/CBaseFile.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

// Reads the bytes of a file that lies in pieces on the volume, in order, a
// buffer at a time.
class CPieceReader {
public:
    // Reads sectors first..last inclusive into buffer.
    using Reader = std::function<bool(uint64_t first, uint64_t last, void* buffer)>;
    static constexpr size_t kChunkBytes = 256 * 1024;

    CPieceReader(Reader reader, uint32_t sectorSize, size_t chunkBytes = kChunkBytes);

    // Starts over with the first length bytes of pieces (kept by reference
    // until the next start).
    void start(const std::vector<tagFilePiece>& pieces, uint64_t length);
    // The next bytes, within one piece: count 0 at the end. False when the
    // volume could not be read.
    bool next(const unsigned char*& data, size_t& count);
    // Where the bytes next returned last lie: their sector and the offset
    // of the first one in it.
    uint64_t lastSector() const { return chunkSector; }
    uint32_t lastSkip() const { return chunkSkip; }
    // Bytes not yet returned.
    uint64_t left() const { return remaining; }

    // The length bytes of pieces from byte from on.
    static std::vector<tagFilePiece> slice(const std::vector<tagFilePiece>& pieces, uint64_t from,
                                           uint64_t length, uint32_t sectorSize);
    // Appends a piece of length bytes from byte skip of sector, joined to
    // the last one when it continues it directly.
    static void append(std::vector<tagFilePiece>& pieces, uint64_t sector, uint32_t skip,
                       uint64_t length, uint32_t sectorSize);

private:
    Reader reader;
    uint32_t sectorSize;
    std::vector<unsigned char> buffer;
    const std::vector<tagFilePiece>* list = nullptr;
    size_t index = 0;
    uint64_t within = 0; // bytes of pieces[index] already returned
    uint64_t remaining = 0;
    uint64_t chunkSector = 0;
    uint32_t chunkSkip = 0;
};
