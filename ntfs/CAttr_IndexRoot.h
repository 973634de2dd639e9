#pragma once

#include "ntfs/CAttrResident.h"
#include "ntfs/CIndexEntry.h"
#include "ntfs/CSList.h"

// $INDEX_ROOT (0x90): the entries of a file-name index root.
class CAttr_IndexRoot : public CAttrResident, public CSList<CIndexEntry> {
public:
    static bool ValueFits(const CByteView&) { return true; }

    CAttr_IndexRoot(CByteView header, CFileRecord* record);

private:
    void ParseEntries();
};
