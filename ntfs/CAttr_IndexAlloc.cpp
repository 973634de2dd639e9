#include "ntfs/CAttr_IndexAlloc.h"

CAttr_IndexAlloc::CAttr_IndexAlloc(const uint8_t* header, uint32_t length, CFileRecord* record)
    : CAttrNonResident(header, length, record) {
    const uint64_t size = DataSize();
    if (runsValid && indexBlockSize != 0 && size % indexBlockSize == 0)
        blockCount = size / indexBlockSize;
}
