#include "ntfs/CDeletedDataFinder.h"

#include "ntfs/CAttrNonResident.h"
#include "ntfs/CFileRecord.h"
#include "ntfs/CNTFSVolume.h"
#include "ntfs/tagNtfsLayout.h"
#include "platform/CByteView.h"
#include "platform/CDevice.h"

#include <algorithm>
#include <memory>
#include <new>

CDeletedDataFinder::CDeletedDataFinder(CNTFSVolume& volume) : volume(volume) {}

bool CDeletedDataFinder::forEach(const std::function<bool(const tagDeletedData&)>& visit) {
    CAttrBase* mft = volume.MftData();
    const uint32_t recordSize = volume.FileRecordSize();
    if (!mft || recordSize == 0 || recordSize > kReadBytes)
        return false;
    // A hostile size (or sparse runs) cannot make the walk longer than the
    // device: the MFT lies on it.
    const uint64_t mftBytes = std::min(mft->DataSize(), volume.Device()->byteSize());
    const uint32_t chunk = kReadBytes - kReadBytes % recordSize;
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[chunk]);
    if (!buffer)
        return false;
    CFileRecord record(&volume);
    record.SetAttributeMask(tagNtfsAttrType::maskBit(tagNtfsAttrType::kStandardInformation) |
                            tagNtfsAttrType::maskBit(tagNtfsAttrType::kData));
    tagDeletedData found;
    for (uint64_t offset = 0; offset < mftBytes; offset += chunk) {
        const uint32_t want = uint32_t(std::min<uint64_t>(chunk, mftBytes - offset));
        uint32_t got = 0;
        if (!mft->ReadAt(offset, buffer.get(), want, got) || got != want)
            return false;
        const CByteView bytes(buffer.get(), got);
        for (uint32_t at = 0; at + recordSize <= got; at += recordSize) {
            const CByteView header = bytes.sub(at, recordSize);
            if (!header.equals(tagNtfsRecordHeader::kMagicOffset, "FILE",
                               tagNtfsRecordHeader::kMagicLength) ||
                (header.le16(tagNtfsRecordHeader::kFlagsOffset) & tagNtfsRecordHeader::kInUse))
                continue;
            const uint64_t number = (offset + at) / recordSize;
            if (deletedData(number, header.data(), record, found) && !visit(found))
                return true;
        }
    }
    return true;
}

bool CDeletedDataFinder::deletedData(uint64_t number, const uint8_t* bytes, CFileRecord& record,
                                     tagDeletedData& found) {
    if (!record.TakeRecord(number, bytes) || !record.LoadAttributes())
        return false;
    auto* data = dynamic_cast<CAttrNonResident*>(record.FirstUnnamedData());
    if (!data || !data->IsDataValid() || data->StartingVcn() != 0)
        return false;
    found.record = number;
    found.dataSize = data->DataSize();
    found.runs.clear();
    const uint64_t clusterSize = volume.ClusterSize();
    uint64_t covered = 0;
    CSList<tagDataRun_Entry>& runs = data->Runs();
    for (tagDataRun_Entry* run = runs.First(); run; run = runs.Next()) {
        if (run->lcn < 0 || run->clusters > UINT64_MAX / clusterSize)
            return false;
        const uint64_t bytesOfRun = run->clusters * clusterSize;
        if (covered >= found.dataSize)
            break; // runs past the data (preallocated clusters) are not its bytes
        found.runs.push_back(*run);
        if (__builtin_add_overflow(covered, bytesOfRun, &covered))
            return false;
    }
    return found.dataSize > 0 && covered >= found.dataSize;
}
