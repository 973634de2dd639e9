#include "ntfs/CFileName.h"

#include "ntfs/NtfsBytes.h"

#include <algorithm>
#include <cwctype>

namespace {
constexpr uint32_t kNameLengthOffset = 0x40;
constexpr uint32_t kNameOffset = 0x42;
} // namespace

CFileName::CFileName(const uint8_t* value, uint32_t valueLength) : fileName(value) {
    if (!value || valueLength < kNameOffset)
        return;
    // The stated length is cut to what the value holds.
    const uint32_t length =
        std::min<uint32_t>(value[kNameLengthOffset], (valueLength - kNameOffset) / 2);
    upperName.reserve(length);
    for (uint32_t i = 0; i < length; ++i) {
        char16_t c = ntfsbytes::le16(value + kNameOffset + 2 * i);
        upperName.push_back(static_cast<char16_t>(std::towupper(static_cast<wint_t>(c))));
    }
    upperLength = length;
}
