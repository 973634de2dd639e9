#pragma once

#include "scan/CBaseFile.h"

// The JPEG rules: a start signature at the first byte of a sector, header
// segments followed by their lengths up to the start of scan (FF DA), and
// the end at the first later sector whose last non-zero byte is the D9 of
// an FF D9 end marker.
class CJPGFile : public CBaseFile {
public:
    // A new candidate when the sector begins with a start signature, else null.
    static CJPGFile* tryCreate(const unsigned char* bytes, uint64_t sector);
    // True when the sector begins with one of the three start signatures.
    static bool hasStartSignature(const unsigned char* bytes);

    Verdict testSector(uint64_t sector, const unsigned char* bytes, uint32_t sectorSize) override;

    // Offset of the next segment header from the first byte of the start sector.
    uint32_t nextSegment = 2;
    bool scanDataReached = false;
};
