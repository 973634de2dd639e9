#include "scan/CBaseFile.h"

int CBaseFile::testSector(uint32_t, const unsigned char*, uint32_t) {
    return kContinue;
}
