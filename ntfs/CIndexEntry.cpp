#include "ntfs/CIndexEntry.h"

#include "ntfs/tagNtfsLayout.h"

#include <algorithm>

namespace {

// The key ($FILE_NAME value), cut to the bytes the entry holds; empty when
// there is none.
CByteView keyOf(const CByteView& entry) {
    if (entry.size() < tagNtfsIndexEntry::kKeyOffset + 1 ||
        !entry.has(tagNtfsIndexEntry::kKeyLengthOffset, 2))
        return {};
    const size_t length = std::min<size_t>(entry.le16(tagNtfsIndexEntry::kKeyLengthOffset),
                                           entry.size() - tagNtfsIndexEntry::kKeyOffset);
    return entry.sub(tagNtfsIndexEntry::kKeyOffset, length);
}

} // namespace

CIndexEntry::CIndexEntry(CByteView entry) : CFileName(keyOf(entry)), entry(entry) {}
