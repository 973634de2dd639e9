#pragma once

#include "ntfs/CAttrResident.h"

// $STANDARD_INFORMATION (0x10).
class CAttr_StdInfo : public CAttrResident {
public:
    // The value must hold the file attribute flags.
    static bool ValueFits(const CByteView& header);

    CAttr_StdInfo(CByteView header, CFileRecord* record) : CAttrResident(header, record) {}

    // The file attribute flags (tagNtfsStdInfo: compressed, encrypted, ...).
    uint32_t FileAttributes() const;
};
