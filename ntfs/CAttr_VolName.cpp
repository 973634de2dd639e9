#include "ntfs/CAttr_VolName.h"

#include "ntfs/NtfsBytes.h"

CAttr_VolName::CAttr_VolName(const uint8_t* header, uint32_t length, CFileRecord* record)
    : CAttrResident(header, length, record), nameLength(valueLength / 2) {
    wideName.reserve(nameLength);
    ansiName.reserve(nameLength);
    for (uint32_t i = 0; i < nameLength; ++i) {
        char16_t c = ntfsbytes::le16(value + 2 * i);
        wideName.push_back(c);
        ansiName.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    }
}
