#pragma once

#include "ntfs/CAttrResident.h"

// $VOLUME_INFORMATION (0x70): the NTFS version of the volume.
class CAttr_VolInfo : public CAttrResident {
public:
    // The value must hold the two version bytes.
    static bool ValueFits(const CByteView& header);

    CAttr_VolInfo(CByteView header, CFileRecord* record) : CAttrResident(header, record) {}

    uint8_t MajorVersion() const;
    uint8_t MinorVersion() const;
};
