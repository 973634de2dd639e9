#include "ntfs/CFileName.h"

#include "ntfs/tagNtfsLayout.h"

#include <algorithm>
#include <cwctype>

CFileName::CFileName(CByteView value) : fileName(value) {
    if (value.size() < tagNtfsFileName::kNameOffset)
        return;
    // The stated length is cut to what the value holds.
    const uint32_t length =
        std::min<uint32_t>(value.u8(tagNtfsFileName::kNameLengthOffset),
                           uint32_t((value.size() - tagNtfsFileName::kNameOffset) / 2));
    upperName.reserve(length);
    for (uint32_t i = 0; i < length; ++i) {
        char16_t c = value.le16(tagNtfsFileName::kNameOffset + 2 * i);
        upperName.push_back(static_cast<char16_t>(std::towupper(static_cast<wint_t>(c))));
    }
    upperLength = length;
}
