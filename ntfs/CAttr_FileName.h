#pragma once

#include "ntfs/CAttrResident.h"
#include "ntfs/CFileName.h"

// $FILE_NAME (0x30).
class CAttr_FileName : public CAttrResident, public CFileName {
public:
    static bool ValueFits(const uint8_t*) { return true; }

    CAttr_FileName(const uint8_t* header, uint32_t length, CFileRecord* record)
        : CAttrResident(header, length, record), CFileName(value, valueLength) {}
};
