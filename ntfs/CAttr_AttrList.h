#pragma once

#include "ntfs/CAttrNonResident.h"
#include "ntfs/CAttrResident.h"
#include "ntfs/CFileRecord.h"
#include "ntfs/CSList.h"
#include "ntfs/tagNtfsLayout.h"

#include <cstdint>
#include <new>

// $ATTRIBUTE_LIST (0x20), resident or non-resident by B. Its construction
// follows the list's entries: the attributes of the selected types that live
// in other records are loaded from those records and moved into the owner's
// lists. The other records stay alive in childRecords, because the moved
// attributes point into their images.
template <class B> class CAttr_AttrList : public B {
public:
    // An attribute list never exceeds 256 KiB; the walk reads no further.
    static constexpr uint64_t kMaxListBytes = 256 * 1024;
    // Bounds the records one list may load.
    static constexpr uint32_t kMaxChildRecords = 1024;

    static bool ValueFits(const CByteView&) { return true; }

    CAttr_AttrList(CByteView header, CFileRecord* owner) : B(header, owner) {
        FollowEntries(owner);
    }

    CSList<CFileRecord>& ChildRecords() { return childRecords; }

protected:
    CSList<CFileRecord> childRecords;

private:
    void FollowEntries(CFileRecord* owner) {
        using Entry = tagNtfsAttrListEntry;
        uint8_t bytes[Entry::kSize];
        const CByteView entry(bytes, sizeof bytes);
        for (uint64_t pos = 0; pos < kMaxListBytes;) {
            uint32_t got = 0;
            if (!this->ReadAt(pos, bytes, Entry::kSize, got) || got < Entry::kSize)
                return;
            const uint32_t type = entry.le32(Entry::kTypeOffset);
            const uint32_t t = type / tagNtfsAttrType::kTypesPerList;
            if (t == 0 || t > tagNtfsAttrType::kLists)
                return;
            // A shorter entry would overlap the next one or never advance.
            const uint16_t entryLength = entry.le16(Entry::kLengthOffset);
            if (entryLength < Entry::kSize)
                return;
            const uint64_t number = uint64_t(entry.le32(Entry::kRecordLowOffset)) |
                                    (uint64_t(entry.le16(Entry::kRecordHighOffset)) << 32);
            // The first type of the entry's list stands for the list.
            const uint32_t listType = t * tagNtfsAttrType::kTypesPerList;
            const uint32_t bit = tagNtfsAttrType::maskBit(listType);
            // Entries for the list itself are not followed: an attribute list
            // lives only in its base record, so records reached through it
            // never follow lists of their own.
            if (number != owner->RecordNumber() && listType != tagNtfsAttrType::kAttributeList &&
                (owner->AttributeMask() & bit)) {
                if (childRecords.Count() >= kMaxChildRecords)
                    return;
                auto* child = new (std::nothrow) CFileRecord(owner->Volume());
                if (!child)
                    return;
                if (!childRecords.Append(child)) {
                    delete child;
                    return;
                }
                child->SetAttributeMask(bit);
                if (!child->ReadRecord(number))
                    return;
                child->LoadAttributes();
                owner->Attributes(listType).TakeAll(child->Attributes(listType));
            }
            pos += entryLength;
        }
    }
};
