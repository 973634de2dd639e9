#include "scan/CJPGFile.h"

bool CJPGFile::hasStartSignature(const unsigned char* b) {
    if (b[0] != 0xFF || b[1] != 0xD8 || b[2] != 0xFF)
        return false;
    switch (b[3]) {
    case 0xDB: // a quantisation table right after the start-of-image marker
        return true;
    case 0xE0: // APP0 with the JFIF identifier
        return b[6] == 'J' && b[7] == 'F' && b[8] == 'I' && b[9] == 'F';
    case 0xE1: // APP1 with the Exif identifier
        return b[6] == 'E' && b[7] == 'x' && b[8] == 'i' && b[9] == 'f';
    default:
        return false;
    }
}

CJPGFile* CJPGFile::tryCreate(const unsigned char* bytes, uint64_t sector) {
    if (!hasStartSignature(bytes))
        return nullptr;
    auto* file = new CJPGFile;
    file->startSector = sector;
    return file;
}

CBaseFile::Verdict CJPGFile::testSector(uint64_t sector, const unsigned char* bytes,
                                        uint32_t size) {
    const uint32_t c =
        uint32_t(sector - startSector) * size; // this sector's first byte, from the start
    const uint32_t e = c + size;

    // Header walk: follow the segment lengths up to the start of scan. A
    // header may begin up to four bytes before the end of this sector; its
    // remaining bytes are the following sector's, which lie next in memory.
    if (!scanDataReached && c < nextSegment && nextSegment <= e) {
        do {
            const unsigned char* h = bytes + (nextSegment - c);
            if (h[0] != 0xFF)
                return Verdict::GiveUp;
            if (h[1] == 0xDA) {
                scanDataReached = true;
                break;
            }
            nextSegment += uint32_t(h[2]) * 256 + h[3] + 2;
        } while (nextSegment <= e && nextSegment > c);
    }
    if (!scanDataReached)
        return Verdict::Continue;

    // End search: the sector's last non-zero byte must be the D9 of FF D9.
    uint32_t p = size - 1;
    while (p >= 2 && bytes[p] == 0)
        --p;
    if (p < 2)
        return Verdict::Continue;
    if (bytes[p] == 0xD9 && bytes[p - 1] == 0xFF) {
        lastSector = sector;
        endOffset = p;
        return Verdict::Complete;
    }
    return Verdict::Continue;
}
