#pragma once

#include <cstdint>

// A candidate or found file, known only by its position on the volume.
class CBaseFile {
public:
    // Results of testSector.
    enum : int { kContinue = 0, kAbandon = 1, kComplete = 2 };

    virtual ~CBaseFile() = default;
    // Offered every sector from startSector on, in order and without gaps.
    // bytes points at the sector; at least four readable bytes follow it.
    virtual int testSector(uint32_t sector, const unsigned char* bytes, uint32_t sectorSize);

    uint32_t startSector = 0;
    uint32_t lastSector = 0;
    // Offset, within the last sector, of the file's last byte.
    uint32_t endOffset = 0;
};
