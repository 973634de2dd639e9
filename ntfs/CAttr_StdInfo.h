#pragma once

#include "ntfs/CAttrResident.h"

// $STANDARD_INFORMATION (0x10).
class CAttr_StdInfo : public CAttrResident {
public:
    static constexpr uint32_t kFlagsOffset = 0x20;

    // The value must hold the file attribute flags.
    static bool ValueFits(const uint8_t* header);

    CAttr_StdInfo(const uint8_t* header, uint32_t length, CFileRecord* record)
        : CAttrResident(header, length, record), stdInfo(value) {}

    // The file attribute flags (0x800 compressed, 0x4000 encrypted, ...).
    uint32_t FileAttributes() const;

protected:
    const uint8_t* stdInfo;
};
