#pragma once

#include "ntfs/CAttrResident.h"
#include "ntfs/CIndexEntry.h"
#include "ntfs/CSList.h"

// $INDEX_ROOT (0x90): the entries of a file-name index root.
class CAttr_IndexRoot : public CAttrResident, public CSList<CIndexEntry> {
public:
    static bool ValueFits(const uint8_t*) { return true; }

    CAttr_IndexRoot(const uint8_t* header, uint32_t length, CFileRecord* record);

protected:
    const uint8_t* indexRoot;

private:
    void ParseEntries();
};
