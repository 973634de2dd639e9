#pragma once

#include "ntfs/CAttrResident.h"

#include <string>

// $VOLUME_NAME (0x60): the volume label, UTF-16.
class CAttr_VolName : public CAttrResident {
public:
    static bool ValueFits(const CByteView&) { return true; }

    CAttr_VolName(CByteView header, CFileRecord* record);

    const std::u16string& WideName() const { return wideName; }
    // The label in 7-bit ASCII, other characters as '?'.
    const std::string& AnsiName() const { return ansiName; }
    uint32_t NameLength() const { return nameLength; }

protected:
    std::u16string wideName;
    std::string ansiName;
    uint32_t nameLength;
};
