#pragma once

#include "ntfs/CAttrResident.h"

// $VOLUME_INFORMATION (0x70): the NTFS version of the volume.
class CAttr_VolInfo : public CAttrResident {
public:
    // The value must hold the two version bytes.
    static bool ValueFits(const uint8_t* header);

    CAttr_VolInfo(const uint8_t* header, uint32_t length, CFileRecord* record)
        : CAttrResident(header, length, record), volInfo(value) {}

    uint8_t MajorVersion() const { return volInfo[0x08]; }
    uint8_t MinorVersion() const { return volInfo[0x09]; }

protected:
    const uint8_t* volInfo;
};
