#include "ntfs/CAttr_IndexAlloc.h"

CAttr_IndexAlloc::CAttr_IndexAlloc(CByteView header, CFileRecord* record)
    : CAttrNonResident(header, record) {
    const uint64_t size = DataSize();
    if (runsValid && indexBlockSize != 0 && size % indexBlockSize == 0)
        blockCount = size / indexBlockSize;
}
