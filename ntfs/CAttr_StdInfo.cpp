#include "ntfs/CAttr_StdInfo.h"

#include "ntfs/NtfsBytes.h"

bool CAttr_StdInfo::ValueFits(const uint8_t* header) {
    return ntfsbytes::le32(header + 0x10) >= kFlagsOffset + 4;
}

uint32_t CAttr_StdInfo::FileAttributes() const {
    return ntfsbytes::le32(stdInfo + kFlagsOffset);
}
