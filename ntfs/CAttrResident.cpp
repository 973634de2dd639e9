#include "ntfs/CAttrResident.h"

#include "ntfs/NtfsBytes.h"

#include <algorithm>
#include <cstring>

using ntfsbytes::le16;
using ntfsbytes::le32;

bool CAttrResident::HeaderFits(const uint8_t* header, uint32_t length) {
    if (length < kHeaderSize)
        return false;
    return uint64_t(le16(header + 0x14)) + le32(header + 0x10) <= length;
}

CAttrResident::CAttrResident(const uint8_t* header, uint32_t length, CFileRecord* record)
    : CAttrBase(header, length, record), residentHeader(header),
      value(header + le16(header + 0x14)), valueLength(le32(header + 0x10)) {}

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
    std::memcpy(buffer, value + offset, n);
    bytesRead = n;
    return true;
}
