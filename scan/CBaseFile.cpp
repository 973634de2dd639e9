#include "scan/CBaseFile.h"

CBaseFile::Verdict CBaseFile::testSector(uint64_t, const unsigned char*, uint32_t) {
    return Verdict::Continue;
}

std::string CBaseFile::fileName() const {
    // Files are named by their first sector + 1982.
    std::string name = std::to_string(startSector + 1982);
    if (startByte != 0)
        name += "-" + std::to_string(startByte);
    return name + ".jpg";
}
