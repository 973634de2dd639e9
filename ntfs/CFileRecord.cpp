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
#include "ntfs/tagNtfsLayout.h"
#include "platform/CDevice.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

using Attr = tagNtfsAttrHeader;
using Type = tagNtfsAttrType;

namespace {

// Makes an attribute of class R or N by the non-resident flag, once the
// header has been checked to fit its storage form.
template <template <class> class A>
CAttrBase* makeEither(const CByteView& header, CFileRecord* record) {
    if (header.u8(Attr::kNonResidentOffset) == 0) {
        if (!CAttrResident::HeaderFits(header))
            return nullptr;
        return new (std::nothrow) A<CAttrResident>(header, record);
    }
    if (!CAttrNonResident::HeaderFits(header))
        return nullptr;
    return new (std::nothrow) A<CAttrNonResident>(header, record);
}

template <class A> CAttrBase* makeResident(const CByteView& header, CFileRecord* record) {
    if (!CAttrResident::HeaderFits(header) || !A::ValueFits(header))
        return nullptr;
    return new (std::nothrow) A(header, record);
}

} // namespace

CFileRecord::CFileRecord(CNTFSVolume* volume) : volume(volume) {}

CFileRecord::~CFileRecord() {
    ReleaseAttributes();
    image.reset();
}

CByteView CFileRecord::ImageView() const {
    return image ? CByteView(image.get(), volume->FileRecordSize()) : CByteView();
}

CSList<CAttrBase>& CFileRecord::Attributes(uint32_t type) {
    uint32_t index = Type::listOf(type);
    if (index >= Type::kLists) {
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
    failure = Failure::ReadError;
    if (number > UINT64_MAX / size)
        return nullptr;
    const uint64_t dataOffset = number * size;
    std::unique_ptr<uint8_t[]> bytes(new (std::nothrow) uint8_t[size]);
    if (!bytes) {
        failure = Failure::NoMemory;
        return nullptr;
    }
    uint32_t got = 0;
    if (number >= tagNtfsRecordNumber::kFirstThroughMftRuns && volume->MftData()) {
        if (!volume->MftData()->ReadAt(dataOffset, bytes.get(), size, got) || got != size)
            return nullptr;
        failure = Failure::None;
        return bytes;
    }
    if (dataOffset > UINT64_MAX - volume->MftOffset())
        return nullptr;
    int error = 0;
    if (!volume->Device()->readAt(volume->MftOffset() + dataOffset, bytes.get(), size, got,
                                  error) ||
        got != size)
        return nullptr;
    failure = Failure::None;
    return bytes;
}

bool CFileRecord::ApplyFixups(uint8_t* bytes) const {
    const uint32_t size = volume->FileRecordSize();
    const CByteView record(bytes, size);
    const uint32_t stride = tagNtfsRecordHeader::kFixupStride;
    const uint32_t strides = size / stride;
    // The update sequence number and one replacement value per stride.
    const CByteView usa = record.sub(record.le16(tagNtfsRecordHeader::kUpdateSequenceOffsetOffset),
                                     2 * (size_t(strides) + 1));
    const std::vector<uint8_t> saved(usa.data(), usa.data() + usa.size());
    for (uint32_t i = 0; i < strides; ++i) {
        const size_t tail = size_t(i + 1) * stride - 2;
        if (!record.equals(tail, saved.data(), 2))
            return false;
        bytes[tail] = saved[2 + 2 * i];
        bytes[tail + 1] = saved[3 + 2 * i];
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
    return AcceptImage(number, std::move(bytes));
}

bool CFileRecord::TakeRecord(uint64_t number, const uint8_t* source) {
    ReleaseAttributes();
    image.reset();
    recordNumber = kNoRecord;
    const uint32_t size = volume->FileRecordSize();
    std::unique_ptr<uint8_t[]> bytes(new (std::nothrow) uint8_t[size]);
    if (!bytes) {
        failure = Failure::NoMemory;
        return false;
    }
    std::memcpy(bytes.get(), source, size);
    return AcceptImage(number, std::move(bytes));
}

bool CFileRecord::AcceptImage(uint64_t number, std::unique_ptr<uint8_t[]> bytes) {
    recordNumber = number;
    failure = Failure::Corrupt;
    const CByteView record(bytes.get(), volume->FileRecordSize());
    try {
        if (!record.equals(tagNtfsRecordHeader::kMagicOffset, "FILE",
                           tagNtfsRecordHeader::kMagicLength) ||
            !ApplyFixups(bytes.get()))
            return false;
    } catch (const CByteRangeError&) {
        return false; // the update sequence lies outside the record
    }
    failure = Failure::None;
    image = std::move(bytes);
    return true;
}

bool CFileRecord::LoadAttributes() {
    ReleaseAttributes();
    if (!image)
        return false;
    failure = Failure::None;
    try {
        return WalkAttributes(ImageView());
    } catch (const CByteRangeError&) {
        ReleaseAttributes();
        failure = Failure::Corrupt;
        return false;
    }
}

bool CFileRecord::WalkAttributes(const CByteView& record) {
    const uint32_t size = static_cast<uint32_t>(record.size());
    uint32_t pos = record.le16(tagNtfsRecordHeader::kFirstAttributeOffsetOffset);
    // Each step moves at least one common header forward, so the walk ends
    // within size / 16 steps; a header that does not fit ends it.
    while (uint64_t(pos) + 4 <= size) {
        const uint32_t type = record.le32(pos + Attr::kTypeOffset);
        if (type == tagNtfsRecordHeader::kEndMarker)
            return true;
        if (uint64_t(pos) + 8 > size)
            return true;
        const uint32_t length = record.le32(pos + Attr::kLengthOffset);
        if (length < Attr::kCommonSize || uint64_t(pos) + length > size)
            return true;
        if (attributeMask & Type::maskBit(type)) {
            if (!AddAttribute(record.sub(pos, length)))
                return false;
            // List 0 may also hold other types of its range (0x11..0x1F);
            // only a $STANDARD_INFORMATION carries the flags.
            if (auto* info = dynamic_cast<CAttr_StdInfo*>(attributes[0].First())) {
                if (info->FileAttributes() &
                    (tagNtfsStdInfo::kEncrypted | tagNtfsStdInfo::kCompressed)) {
                    failure = Failure::Unsupported;
                    return false;
                }
            }
        }
        pos += length;
    }
    return true;
}

bool CFileRecord::AddAttribute(const CByteView& header) {
    const uint32_t index = Type::listOf(header.le32(Attr::kTypeOffset));
    failure = Failure::Corrupt;
    if (index >= Type::kLists)
        return false;
    CAttrBase* attribute = CreateAttribute(header);
    if (!attribute)
        return false;
    if (!attributes[index].Append(attribute)) {
        delete attribute;
        failure = Failure::NoMemory;
        return false;
    }
    failure = Failure::None;
    return true;
}

CAttrBase* CFileRecord::CreateAttribute(const CByteView& header) {
    switch (header.le32(Attr::kTypeOffset)) {
    case Type::kStandardInformation:
        return makeResident<CAttr_StdInfo>(header, this);
    case Type::kAttributeList:
        return makeEither<CAttr_AttrList>(header, this);
    case Type::kFileName:
        return makeResident<CAttr_FileName>(header, this);
    case Type::kVolumeName:
        return makeResident<CAttr_VolName>(header, this);
    case Type::kVolumeInformation:
        return makeResident<CAttr_VolInfo>(header, this);
    case Type::kData:
        return makeEither<CAttr_Data>(header, this);
    case Type::kIndexRoot:
        return makeResident<CAttr_IndexRoot>(header, this);
    case Type::kIndexAllocation:
        if (!CAttrNonResident::HeaderFits(header))
            return nullptr;
        return new (std::nothrow) CAttr_IndexAlloc(header, this);
    case Type::kBitmap:
        return makeEither<CAttr_Bitmap>(header, this);
    default:
        if (header.u8(Attr::kNonResidentOffset) == 0) {
            if (!CAttrResident::HeaderFits(header))
                return nullptr;
            return new (std::nothrow) CAttrResident(header, this);
        }
        if (!CAttrNonResident::HeaderFits(header))
            return nullptr;
        return new (std::nothrow) CAttrNonResident(header, this);
    }
}

CAttrBase* CFileRecord::FirstUnnamedData() {
    CSList<CAttrBase>& list = attributes[Type::listOf(Type::kData)];
    for (CAttrBase* attribute = list.First(); attribute; attribute = list.Next())
        if (attribute->NameLength() == 0)
            return attribute;
    return nullptr;
}

CAttrBase* CFileRecord::UnnamedData() {
    std::vector<CAttrBase*> pieces;
    CSList<CAttrBase>& list = attributes[Type::listOf(Type::kData)];
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
