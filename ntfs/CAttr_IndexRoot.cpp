#include "ntfs/CAttr_IndexRoot.h"

#include "ntfs/NtfsBytes.h"

#include <new>

using ntfsbytes::le16;
using ntfsbytes::le32;

namespace {
constexpr uint32_t kRootHeaderSize = 0x20; // index root header, then the node header
constexpr uint32_t kEntryHeaderSize = 0x10;
constexpr uint16_t kLastEntry = 0x02;
} // namespace

CAttr_IndexRoot::CAttr_IndexRoot(const uint8_t* header, uint32_t length, CFileRecord* record)
    : CAttrResident(header, length, record), indexRoot(value) {
    ParseEntries();
}

void CAttr_IndexRoot::ParseEntries() {
    if (valueLength < kRootHeaderSize || le32(indexRoot) != 0x30)
        return;
    const uint32_t indexLength = le32(indexRoot + 0x14);
    uint64_t pos = 0x10 + uint64_t(le32(indexRoot + 0x10));
    uint64_t sum = 0;
    // Every entry is checked to lie inside the value and to be at least a
    // header long, so the walk moves forward and ends.
    while (pos + kEntryHeaderSize <= valueLength) {
        const uint8_t* entry = indexRoot + pos;
        const uint16_t entryLength = le16(entry + 0x08);
        if (entryLength < kEntryHeaderSize || pos + entryLength > valueLength)
            return;
        sum += entryLength;
        if (sum > indexLength)
            return;
        auto* item = new (std::nothrow) CIndexEntry(entry, entryLength);
        if (!item)
            return;
        if (!Append(item)) {
            delete item;
            return;
        }
        if (le16(entry + 0x0C) & kLastEntry)
            return;
        pos += entryLength;
    }
}
