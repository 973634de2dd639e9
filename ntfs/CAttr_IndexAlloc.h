#pragma once

#include "ntfs/CAttrNonResident.h"

// $INDEX_ALLOCATION (0xA0).
class CAttr_IndexAlloc : public CAttrNonResident {
public:
    CAttr_IndexAlloc(CByteView header, CFileRecord* record);

    uint64_t BlockCount() const { return blockCount; }

protected:
    uint64_t blockCount = 0;
};
