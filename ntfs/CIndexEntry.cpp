#include "ntfs/CIndexEntry.h"

#include "ntfs/NtfsBytes.h"

#include <algorithm>

namespace {
constexpr uint32_t kKeyOffset = 0x10;

uint32_t keyLength(const uint8_t* entry, uint32_t available) {
    if (available < kKeyOffset)
        return 0;
    return std::min<uint32_t>(ntfsbytes::le16(entry + 0x0A), available - kKeyOffset);
}
} // namespace

CIndexEntry::CIndexEntry(const uint8_t* entry, uint32_t available)
    : CFileName(keyLength(entry, available) ? entry + kKeyOffset : nullptr,
                keyLength(entry, available)),
      entry(entry) {}

CIndexEntry::~CIndexEntry() {
    if (ownsEntry)
        delete[] entry;
}
