#include "ntfs/CAttr_VolInfo.h"

#include "ntfs/NtfsBytes.h"

bool CAttr_VolInfo::ValueFits(const uint8_t* header) {
    return ntfsbytes::le32(header + 0x10) >= 0x0A;
}
