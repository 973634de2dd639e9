#include "ntfs/CAttr_IndexRoot.h"

#include "ntfs/tagNtfsLayout.h"

#include <new>

using Root = tagNtfsIndexRoot;
using Entry = tagNtfsIndexEntry;

CAttr_IndexRoot::CAttr_IndexRoot(CByteView header, CFileRecord* record)
    : CAttrResident(header, record) {
    ParseEntries();
}

void CAttr_IndexRoot::ParseEntries() {
    if (valueLength < Root::kHeaderSize ||
        value.le32(Root::kIndexedTypeOffset) != tagNtfsAttrType::kFileName)
        return;
    const uint32_t indexLength = value.le32(Root::kNodeHeaderOffset + Root::kIndexLengthInNode);
    uint64_t pos = Root::kNodeHeaderOffset +
                   uint64_t(value.le32(Root::kNodeHeaderOffset + Root::kEntriesOffsetInNode));
    uint64_t sum = 0;
    // Every entry is checked to lie inside the value and to be at least a
    // header long, so the walk moves forward and ends.
    while (pos + Entry::kHeaderSize <= valueLength) {
        const uint16_t entryLength = value.le16(pos + Entry::kLengthOffset);
        if (entryLength < Entry::kHeaderSize || pos + entryLength > valueLength)
            return;
        sum += entryLength;
        if (sum > indexLength)
            return;
        auto* item = new (std::nothrow) CIndexEntry(value.sub(pos, entryLength));
        if (!item)
            return;
        if (!Append(item)) {
            delete item;
            return;
        }
        if (value.le16(pos + Entry::kFlagsOffset) & Entry::kLastEntry)
            return;
        pos += entryLength;
    }
}
