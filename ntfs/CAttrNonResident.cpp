#include "ntfs/CAttrNonResident.h"

#include "ntfs/tagNtfsLayout.h"
#include "platform/CDevice.h"

#include <algorithm>
#include <cstring>
#include <new>

using Attr = tagNtfsAttrHeader;

bool CAttrNonResident::HeaderFits(const CByteView& header) {
    return header.size() >= Attr::kNonResidentSize &&
           header.le16(Attr::kRunsOffsetOffset) <= header.size();
}

CAttrNonResident::CAttrNonResident(CByteView header, CFileRecord* record)
    : CAttrBase(header, record), startingVcn(header.le64(Attr::kStartingVcnOffset)),
      lastVcn(header.le64(Attr::kLastVcnOffset)),
      allocatedSize(header.le64(Attr::kAllocatedSizeOffset)),
      dataSize(header.le64(Attr::kDataSizeOffset)) {
    runsValid = DecodeRuns();
}

CAttrNonResident::~CAttrNonResident() {
    clusterBuffer.reset();
    runs.Clear();
}

uint64_t CAttrNonResident::DataSize(uint64_t* allocated) const {
    if (allocated)
        *allocated = allocatedSize;
    return dataSize;
}

CAttrNonResident::EntryResult CAttrNonResident::DecodeRunEntry(size_t& pos, uint64_t& count,
                                                               int64_t& delta) const {
    const uint8_t h = header.u8(pos);
    const unsigned countBytes = h & tagNtfsRun::kLengthBytesMask;
    const unsigned deltaBytes = h >> tagNtfsRun::kDeltaBytesShift;
    if (countBytes > tagNtfsRun::kMaxFieldBytes || deltaBytes > tagNtfsRun::kMaxFieldBytes)
        return EntryResult::Stop;
    if (!header.has(pos, 1u + countBytes + deltaBytes))
        return EntryResult::Truncated;
    ++pos;
    count = 0;
    for (unsigned i = 0; i < countBytes; ++i)
        count |= uint64_t(header.u8(pos + i)) << (8 * i);
    if (count >> 63)
        return EntryResult::Stop;
    pos += countBytes;
    if (deltaBytes == 0) {
        delta = 0;
        return EntryResult::Decoded;
    }
    uint64_t value = (header.u8(pos + deltaBytes - 1) & 0x80) ? ~uint64_t(0) : 0;
    for (unsigned i = 0; i < deltaBytes; ++i) {
        value &= ~(uint64_t(0xFF) << (8 * i));
        value |= uint64_t(header.u8(pos + i)) << (8 * i);
    }
    delta = static_cast<int64_t>(value);
    pos += deltaBytes;
    return EntryResult::Decoded;
}

bool CAttrNonResident::DecodeRuns() {
    // The mapping pairs end at a 0 byte, which must lie inside the attribute.
    size_t pos = header.le16(Attr::kRunsOffsetOffset);
    if (pos >= header.size())
        return false;
    if (header.u8(pos) == tagNtfsRun::kEnd)
        return true;
    const uint64_t vcnRange = lastVcn - startingVcn;
    int64_t lcn = 0;
    uint64_t vcn = 0;
    for (;;) {
        uint64_t count = 0;
        int64_t delta = 0;
        EntryResult result = DecodeRunEntry(pos, count, delta);
        if (result == EntryResult::Stop)
            return true;
        if (result == EntryResult::Truncated || count == 0)
            return false;
        if (__builtin_add_overflow(lcn, delta, &lcn) || lcn < 0)
            return false;
        if (vcn > vcnRange || count - 1 > vcnRange - vcn) {
            runs.Clear();
            return false;
        }
        auto* entry = new (std::nothrow) tagDataRun_Entry;
        if (!entry)
            return false;
        entry->lcn = delta == 0 ? -1 : lcn;
        entry->clusters = count;
        entry->startVcn = vcn;
        entry->lastVcn = vcn + count - 1;
        if (!runs.Append(entry)) {
            delete entry;
            return false;
        }
        vcn += count;
        if (pos >= header.size())
            return false;
        if (header.u8(pos) == tagNtfsRun::kEnd)
            return true;
    }
}

bool CAttrNonResident::ReadLcnRange(int64_t lcn, uint64_t n, uint8_t* buffer) {
    const uint64_t bytes = n * clusterSize; // callers keep this within their buffer
    if (lcn == -1) {
        std::memset(buffer, 0, bytes);
        return true;
    }
    if (lcn < 0 || uint64_t(lcn) > UINT64_MAX / clusterSize)
        return false;
    uint32_t got = 0;
    int error = 0;
    return device->readAt(uint64_t(lcn) * clusterSize, buffer, static_cast<uint32_t>(bytes), got,
                          error) &&
           got == bytes;
}

bool CAttrNonResident::ReadVcnRange(uint64_t vcn, uint64_t n, uint8_t* buffer, uint32_t bufferSize,
                                    uint32_t& bytesRead) {
    uint64_t delivered = 0;
    bytesRead = 0;
    const uint64_t total = lastVcn - startingVcn + 1;
    if (n > total || vcn > total - n)
        return false;
    if (bufferSize / clusterSize < n)
        return false;
    for (tagDataRun_Entry* run = runs.First(); run && n != 0; run = runs.Next()) {
        if (vcn < run->startVcn || vcn > run->lastVcn)
            continue;
        const uint64_t k = std::min(n, run->lastVcn - vcn + 1);
        int64_t lcn = -1;
        if (run->lcn != -1) {
            const uint64_t first = uint64_t(run->lcn) + (vcn - run->startVcn);
            if (first > uint64_t(INT64_MAX))
                break;
            lcn = static_cast<int64_t>(first);
        }
        if (!ReadLcnRange(lcn, k, buffer))
            break;
        buffer += k * clusterSize;
        delivered += k;
        n -= k;
        vcn += k;
    }
    bytesRead = static_cast<uint32_t>(delivered * clusterSize);
    return true;
}

bool CAttrNonResident::ReadOneCluster(uint64_t vcn) {
    if (!clusterBuffer) {
        clusterBuffer.reset(new (std::nothrow) uint8_t[clusterSize]);
        if (!clusterBuffer)
            return false;
    }
    uint32_t got = 0;
    return ReadVcnRange(vcn, 1, clusterBuffer.get(), clusterSize, got) && got == clusterSize;
}

bool CAttrNonResident::ReadAt(uint64_t offset, void* out, uint32_t length, uint32_t& bytesRead) {
    bytesRead = 0;
    if (length == 0)
        return true;
    if (offset > dataSize)
        return false;
    if (length > dataSize - offset)
        length = static_cast<uint32_t>(dataSize - offset);
    if (length == 0)
        return true; // at the end of the data
    const bool read = ReadRange(offset, static_cast<uint8_t*>(out), length, bytesRead);
    if (clusterSize > kKeptClusterBuffer)
        clusterBuffer.reset();
    return read;
}

bool CAttrNonResident::ReadRange(uint64_t offset, uint8_t* buffer, uint32_t length,
                                 uint32_t& bytesRead) {
    uint64_t vcn = offset / clusterSize;
    const uint32_t r = static_cast<uint32_t>(offset % clusterSize);
    if (r != 0) {
        if (!ReadOneCluster(vcn))
            return false;
        const uint32_t m = std::min(length, clusterSize - r);
        std::memcpy(buffer, clusterBuffer.get() + r, m);
        buffer += m;
        length -= m;
        bytesRead += m;
        vcn += 1;
    }
    if (length == 0)
        return true;
    const uint32_t w = length / clusterSize;
    if (w != 0) {
        const uint32_t bytes = w * clusterSize;
        uint32_t got = 0;
        if (!ReadVcnRange(vcn, w, buffer, bytes, got) || got != bytes)
            return false;
        buffer += bytes;
        bytesRead += bytes;
        vcn += w;
        length %= clusterSize;
        if (length == 0)
            return true;
    }
    if (!ReadOneCluster(vcn))
        return false;
    std::memcpy(buffer, clusterBuffer.get(), length);
    bytesRead += length;
    return true;
}

bool CAttrNonResident::AppendPiece(CAttrNonResident& piece) {
    if (!runsValid || !piece.runsValid || lastVcn == UINT64_MAX ||
        piece.startingVcn != lastVcn + 1 || piece.lastVcn < piece.startingVcn)
        return false;
    // A piece's runs count VCNs from its own start.
    const uint64_t base = piece.startingVcn - startingVcn;
    for (tagDataRun_Entry* run = piece.runs.First(); run; run = piece.runs.Next()) {
        auto* entry = new (std::nothrow) tagDataRun_Entry(*run);
        if (!entry || !runs.Append(entry)) {
            delete entry;
            runsValid = false; // half joined: no read may trust the runs
            return false;
        }
        entry->startVcn += base;
        entry->lastVcn += base;
    }
    lastVcn = piece.lastVcn;
    return true;
}
