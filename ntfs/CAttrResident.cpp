#include "ntfs/CAttrResident.h"

#include "ntfs/tagNtfsLayout.h"

#include <algorithm>

bool CAttrResident::HeaderFits(const CByteView& header) {
    if (header.size() < tagNtfsAttrHeader::kResidentSize)
        return false;
    return header.has(header.le16(tagNtfsAttrHeader::kValueOffsetOffset),
                      header.le32(tagNtfsAttrHeader::kValueLengthOffset));
}

CAttrResident::CAttrResident(CByteView header, CFileRecord* record)
    : CAttrBase(header, record),
      value(header.sub(header.le16(tagNtfsAttrHeader::kValueOffsetOffset),
                       header.le32(tagNtfsAttrHeader::kValueLengthOffset))),
      valueLength(static_cast<uint32_t>(value.size())) {}

uint64_t CAttrResident::DataSize(uint64_t* allocatedSize) const {
    if (allocatedSize)
        *allocatedSize = valueLength;
    return valueLength;
}

bool CAttrResident::ReadAt(uint64_t offset, void* buffer, uint32_t length, uint32_t& bytesRead) {
    bytesRead = 0;
    if (length == 0)
        return true;
    if (offset >= valueLength)
        return false;
    uint32_t n = std::min<uint64_t>(length, valueLength - offset);
    value.copy(offset, buffer, n);
    bytesRead = n;
    return true;
}
