#pragma once

#include "ntfs/CAttrResident.h"
#include "ntfs/CFileName.h"

// $FILE_NAME (0x30).
class CAttr_FileName : public CAttrResident, public CFileName {
public:
    static bool ValueFits(const CByteView&) { return true; }

    CAttr_FileName(CByteView header, CFileRecord* record)
        : CAttrResident(header, record), CFileName(value) {}
};
