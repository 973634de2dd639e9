#include "scan/CPieceReader.h"

#include <algorithm>

CPieceReader::CPieceReader(Reader reader, uint32_t sectorSize, size_t chunkBytes)
    : reader(std::move(reader)), sectorSize(sectorSize) {
    const size_t sectors = std::max<size_t>(2, chunkBytes / sectorSize);
    buffer.resize(sectors * sectorSize);
}

void CPieceReader::start(const std::vector<tagFilePiece>& pieces, uint64_t length) {
    list = &pieces;
    index = 0;
    within = 0;
    remaining = length;
}

bool CPieceReader::next(const unsigned char*& data, size_t& count) {
    count = 0;
    while (list && index < list->size() && within >= (*list)[index].length) {
        ++index;
        within = 0;
    }
    if (!list || remaining == 0 || index >= list->size())
        return true;
    const tagFilePiece& piece = (*list)[index];
    const uint64_t at = uint64_t(piece.skip) + within; // from the piece's first sector
    const uint64_t sector = piece.sector + at / sectorSize;
    const uint32_t skip = uint32_t(at % sectorSize);
    const uint64_t n = std::min({piece.length - within, remaining, uint64_t(buffer.size() - skip)});
    const uint32_t sectors = uint32_t((skip + n + sectorSize - 1) / sectorSize);
    if (!reader(sector, sector + sectors - 1, buffer.data()))
        return false;
    chunkSector = sector;
    chunkSkip = skip;
    data = buffer.data() + skip;
    count = size_t(n);
    within += n;
    remaining -= n;
    return true;
}

std::vector<tagFilePiece> CPieceReader::slice(const std::vector<tagFilePiece>& pieces,
                                              uint64_t from, uint64_t length, uint32_t sectorSize) {
    std::vector<tagFilePiece> out;
    for (const tagFilePiece& piece : pieces) {
        if (length == 0)
            break;
        if (from >= piece.length) {
            from -= piece.length;
            continue;
        }
        const uint64_t at = piece.skip + from;
        const uint64_t n = std::min(piece.length - from, length);
        append(out, piece.sector + at / sectorSize, uint32_t(at % sectorSize), n, sectorSize);
        from = 0;
        length -= n;
    }
    return out;
}

void CPieceReader::append(std::vector<tagFilePiece>& pieces, uint64_t sector, uint32_t skip,
                          uint64_t length, uint32_t sectorSize) {
    if (length == 0)
        return;
    if (!pieces.empty()) {
        const tagFilePiece& last = pieces.back();
        const uint64_t end = uint64_t(last.sector) * sectorSize + last.skip + last.length;
        if (end == uint64_t(sector) * sectorSize + skip) {
            pieces.back().length += length;
            return;
        }
    }
    pieces.push_back({sector, skip, length});
}
