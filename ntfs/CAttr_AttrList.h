#pragma once

#include "ntfs/CAttrNonResident.h"
#include "ntfs/CAttrResident.h"
#include "ntfs/CFileRecord.h"
#include "ntfs/CSList.h"
#include "ntfs/NtfsBytes.h"

#include <cstdint>
#include <new>

// $ATTRIBUTE_LIST (0x20), resident or non-resident by B. Its construction
// follows the list's entries: the attributes of the selected types that live
// in other records are loaded from those records and moved into the owner's
// lists. The other records stay alive in childRecords, because the moved
// attributes point into their images.
template <class B> class CAttr_AttrList : public B {
public:
    static constexpr uint32_t kEntrySize = 32;
    // An attribute list never exceeds 256 KiB; the walk reads no further.
    static constexpr uint64_t kMaxListBytes = 256 * 1024;
    // Bounds the records one list may load.
    static constexpr uint32_t kMaxChildRecords = 1024;

    CAttr_AttrList(const uint8_t* header, uint32_t length, CFileRecord* owner)
        : B(header, length, owner) {
        FollowEntries(owner);
    }

    CSList<CFileRecord>& ChildRecords() { return childRecords; }

protected:
    CSList<CFileRecord> childRecords;

private:
    void FollowEntries(CFileRecord* owner) {
        using ntfsbytes::le16;
        using ntfsbytes::le32;
        uint8_t entry[kEntrySize];
        for (uint64_t pos = 0; pos < kMaxListBytes;) {
            uint32_t got = 0;
            if (!this->ReadAt(pos, entry, kEntrySize, got) || got < kEntrySize)
                return;
            const uint32_t t = le32(entry) / 16;
            if (t == 0 || t > 16)
                return;
            // A shorter entry would overlap the next one or never advance.
            const uint16_t entryLength = le16(entry + 0x04);
            if (entryLength < kEntrySize)
                return;
            const uint64_t number =
                uint64_t(le32(entry + 0x10)) | (uint64_t(le16(entry + 0x14)) << 32);
            const uint32_t bit = uint32_t(1) << (t - 1);
            // Entries for the list itself are not followed: an attribute list
            // lives only in its base record, so records reached through it
            // never follow lists of their own.
            if (number != owner->RecordNumber() && t != 2 && (owner->AttributeMask() & bit)) {
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
                owner->Attributes(t * 16).TakeAll(child->Attributes(t * 16));
            }
            pos += entryLength;
        }
    }
};
