#include "ntfs/CAttr_VolName.h"

CAttr_VolName::CAttr_VolName(CByteView header, CFileRecord* record)
    : CAttrResident(header, record), nameLength(valueLength / 2) {
    wideName.reserve(nameLength);
    ansiName.reserve(nameLength);
    for (uint32_t i = 0; i < nameLength; ++i) {
        char16_t c = value.le16(2 * i);
        wideName.push_back(c);
        ansiName.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    }
}
