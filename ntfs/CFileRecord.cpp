#include "ntfs/CFileRecord.h"

#include "ntfs/CAttrBase.h"
#include "ntfs/CAttrNonResident.h"
#include "ntfs/CAttrResident.h"
#include "ntfs/CAttr_AttrList.h"
#include "ntfs/CAttr_Bitmap.h"
#include "ntfs/CAttr_Data.h"
#include "ntfs/CAttr_FileName.h"
#include "ntfs/CAttr_IndexAlloc.h"
#include "ntfs/CAttr_IndexRoot.h"
#include "ntfs/CAttr_StdInfo.h"
#include "ntfs/CAttr_VolInfo.h"
#include "ntfs/CAttr_VolName.h"
#include "ntfs/CNTFSVolume.h"
#include "ntfs/NtfsBytes.h"
#include "platform/CDevice.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

using ntfsbytes::le16;
using ntfsbytes::le32;

namespace {

constexpr uint32_t kEndMarker = 0xFFFFFFFF;
constexpr uint32_t kCommonHeaderSize = 16;
constexpr uint32_t kCompressed = 0x800;
constexpr uint32_t kEncrypted = 0x4000;

// Makes an attribute of class R or N by the non-resident flag, once the
// header has been checked to fit its storage form.
template <template <class> class A>
CAttrBase* makeEither(const uint8_t* header, uint32_t length, CFileRecord* record) {
    if (header[0x08] == 0) {
        if (!CAttrResident::HeaderFits(header, length))
            return nullptr;
        return new (std::nothrow) A<CAttrResident>(header, length, record);
    }
    if (!CAttrNonResident::HeaderFits(header, length))
        return nullptr;
    return new (std::nothrow) A<CAttrNonResident>(header, length, record);
}

template <class A>
CAttrBase* makeResident(const uint8_t* header, uint32_t length, CFileRecord* record) {
    if (!CAttrResident::HeaderFits(header, length) || !A::ValueFits(header))
        return nullptr;
    return new (std::nothrow) A(header, length, record);
}

} // namespace

CFileRecord::CFileRecord(CNTFSVolume* volume) : volume(volume) {}

CFileRecord::~CFileRecord() {
    ReleaseAttributes();
    image.reset();
}

CSList<CAttrBase>& CFileRecord::Attributes(uint32_t type) {
    uint32_t index = type / 16 - 1;
    if (index >= 16) {
        noAttributes.Clear();
        return noAttributes;
    }
    return attributes[index];
}

void CFileRecord::ReleaseAttributes() {
    for (auto& list : attributes)
        list.Clear();
    piecesJoined = false;
}

std::unique_ptr<uint8_t[]> CFileRecord::FetchRecordImage(uint64_t number) {
    const uint32_t size = volume->FileRecordSize();
    if (number > UINT64_MAX / size)
        return nullptr;
    const uint64_t dataOffset = number * size;
    std::unique_ptr<uint8_t[]> bytes(new (std::nothrow) uint8_t[size]);
    if (!bytes)
        return nullptr;
    uint32_t got = 0;
    if (number >= 16 && volume->MftData()) {
        if (!volume->MftData()->ReadAt(dataOffset, bytes.get(), size, got) || got != size)
            return nullptr;
        return bytes;
    }
    if (dataOffset > UINT64_MAX - volume->MftOffset())
        return nullptr;
    int error = 0;
    if (!volume->Device()->readAt(volume->MftOffset() + dataOffset, bytes.get(), size, got,
                                  error) ||
        got != size)
        return nullptr;
    return bytes;
}

bool CFileRecord::ApplyFixups(uint8_t* bytes) const {
    const uint32_t size = volume->FileRecordSize();
    const uint32_t strides = size / CNTFSVolume::kFixupStride;
    const uint32_t usaOffset = le16(bytes + 0x04);
    // The update sequence number and one replacement value per stride.
    if (usaOffset + 2 * (uint64_t(strides) + 1) > size)
        return false;
    std::vector<uint8_t> usa(bytes + usaOffset, bytes + usaOffset + 2 * (strides + 1));
    for (uint32_t i = 0; i < strides; ++i) {
        uint8_t* tail = bytes + (i + 1) * CNTFSVolume::kFixupStride - 2;
        if (tail[0] != usa[0] || tail[1] != usa[1])
            return false;
        tail[0] = usa[2 + 2 * i];
        tail[1] = usa[3 + 2 * i];
    }
    return true;
}

bool CFileRecord::ReadRecord(uint64_t number) {
    ReleaseAttributes();
    image.reset();
    std::unique_ptr<uint8_t[]> bytes = FetchRecordImage(number);
    if (!bytes) {
        recordNumber = kNoRecord;
        return false;
    }
    recordNumber = number;
    if (std::memcmp(bytes.get(), "FILE", 4) != 0)
        return false;
    if (!ApplyFixups(bytes.get()))
        return false;
    image = std::move(bytes);
    return true;
}

bool CFileRecord::LoadAttributes() {
    ReleaseAttributes();
    if (!image)
        return false;
    const uint32_t size = volume->FileRecordSize();
    uint32_t pos = le16(image.get() + 0x14);
    // Each step moves at least one common header forward, so the walk ends
    // within size / 16 steps; a header that does not fit ends it.
    while (uint64_t(pos) + 4 <= size) {
        const uint8_t* header = image.get() + pos;
        const uint32_t type = le32(header);
        if (type == kEndMarker)
            return true;
        if (uint64_t(pos) + 8 > size)
            return true;
        const uint32_t length = le32(header + 4);
        if (length < kCommonHeaderSize || uint64_t(pos) + length > size)
            return true;
        const uint32_t index = type / 16 - 1;
        if (attributeMask & (uint32_t(1) << (index % 32))) {
            if (!AddAttribute(header, length))
                return false;
            // List 0 may also hold other types of its range (0x11..0x1F);
            // only a $STANDARD_INFORMATION carries the flags.
            if (auto* info = dynamic_cast<CAttr_StdInfo*>(attributes[0].First())) {
                if (info->FileAttributes() & (kEncrypted | kCompressed))
                    return false;
            }
        }
        pos += length;
    }
    return true;
}

bool CFileRecord::AddAttribute(const uint8_t* header, uint32_t length) {
    const uint32_t index = le32(header) / 16 - 1;
    if (index >= 16)
        return false;
    CAttrBase* attribute = CreateAttribute(header, length);
    if (!attribute)
        return false;
    if (!attributes[index].Append(attribute)) {
        delete attribute;
        return false;
    }
    return true;
}

CAttrBase* CFileRecord::CreateAttribute(const uint8_t* header, uint32_t length) {
    switch (le32(header)) {
    case 0x10:
        return makeResident<CAttr_StdInfo>(header, length, this);
    case 0x20:
        return makeEither<CAttr_AttrList>(header, length, this);
    case 0x30:
        return makeResident<CAttr_FileName>(header, length, this);
    case 0x60:
        return makeResident<CAttr_VolName>(header, length, this);
    case 0x70:
        return makeResident<CAttr_VolInfo>(header, length, this);
    case 0x80:
        return makeEither<CAttr_Data>(header, length, this);
    case 0x90:
        return makeResident<CAttr_IndexRoot>(header, length, this);
    case 0xA0:
        if (!CAttrNonResident::HeaderFits(header, length))
            return nullptr;
        return new (std::nothrow) CAttr_IndexAlloc(header, length, this);
    case 0xB0:
        return makeEither<CAttr_Bitmap>(header, length, this);
    default:
        if (header[0x08] == 0) {
            if (!CAttrResident::HeaderFits(header, length))
                return nullptr;
            return new (std::nothrow) CAttrResident(header, length, this);
        }
        if (!CAttrNonResident::HeaderFits(header, length))
            return nullptr;
        return new (std::nothrow) CAttrNonResident(header, length, this);
    }
}

CAttrBase* CFileRecord::FirstUnnamedData() {
    CSList<CAttrBase>& list = attributes[7];
    for (CAttrBase* attribute = list.First(); attribute; attribute = list.Next())
        if (attribute->NameLength() == 0)
            return attribute;
    return nullptr;
}

CAttrBase* CFileRecord::UnnamedData() {
    std::vector<CAttrBase*> pieces;
    CSList<CAttrBase>& list = attributes[7];
    for (CAttrBase* attribute = list.First(); attribute; attribute = list.Next())
        if (attribute->NameLength() == 0)
            pieces.push_back(attribute);
    if (pieces.size() <= 1)
        return pieces.empty() ? nullptr : pieces.front();
    // Several pieces: all non-resident, one of them starting at VCN 0.
    std::vector<CAttrNonResident*> extents;
    for (CAttrBase* piece : pieces) {
        auto* extent = dynamic_cast<CAttrNonResident*>(piece);
        if (!extent)
            return nullptr;
        extents.push_back(extent);
    }
    std::stable_sort(extents.begin(), extents.end(),
                     [](const CAttrNonResident* a, const CAttrNonResident* b) {
                         return a->StartingVcn() < b->StartingVcn();
                     });
    CAttrNonResident* head = extents.front();
    if (head->StartingVcn() != 0)
        return nullptr;
    if (!piecesJoined) {
        piecesJoined = true;
        // A gap or an overlap ends the join: what lies behind it cannot be
        // placed, and reads there fail instead of returning wrong clusters.
        for (size_t i = 1; i < extents.size(); ++i)
            if (!head->AppendPiece(*extents[i]))
                break;
    }
    return head;
}
