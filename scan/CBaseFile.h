#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A stretch of a file on the volume: length bytes from byte skip of sector on.
struct tagFilePiece {
    uint64_t sector = 0;
    uint32_t skip = 0;
    uint64_t length = 0;
};

// A candidate or found file, known only by its position on the volume.
class CBaseFile {
public:
    // What testSector found: the file goes on, the candidate is given up
    // (not a file), or the file ends in this sector.
    enum class Verdict : int { Continue = 0, GiveUp = 1, Complete = 2 };

    virtual ~CBaseFile() = default;
    // Offered every sector from startSector on, in order and without gaps.
    // bytes points at the sector; at least four readable bytes follow it.
    virtual Verdict testSector(uint64_t sector, const unsigned char* bytes, uint32_t sectorSize);

    // "<startSector + 1982>.jpg", or "<startSector + 1982>-<startByte>.jpg"
    // for a file that begins inside its sector.
    std::string fileName() const;

    uint64_t startSector = 0;
    uint64_t lastSector = 0;
    // Offset, within the last sector, of the file's last byte.
    uint32_t endOffset = 0;
    // The offset of the file's first byte inside startSector.
    uint32_t startByte = 0;
    // When not empty, the file is these pieces in order (a file that begins
    // inside a sector or lies in several stretches of the volume); else it
    // is startSector to endOffset of lastSector.
    std::vector<tagFilePiece> pieces;
};
