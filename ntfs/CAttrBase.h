#pragma once

#include "platform/CByteView.h"

#include <cstdint>

class CDevice;
class CFileRecord;

// One attribute of a file record, whatever its storage: the size of its
// data and reads of that data at an offset.
class CAttrBase {
public:
    // header: the attribute's bytes in its record image, from its header to
    // the next attribute.
    CAttrBase(CByteView header, CFileRecord* record);
    // Never reads the header: the image it points into may already be gone.
    virtual ~CAttrBase() = default;
    CAttrBase(const CAttrBase&) = delete;
    CAttrBase& operator=(const CAttrBase&) = delete;

    virtual bool IsDataValid() const = 0;
    // Size of the data in bytes; allocatedSize, when given, receives the
    // allocated size.
    virtual uint64_t DataSize(uint64_t* allocatedSize = nullptr) const = 0;
    // Reads up to length bytes of the data at offset. False when offset lies
    // beyond the data or a read fails; true with fewer bytes at the end of
    // the data.
    virtual bool ReadAt(uint64_t offset, void* buffer, uint32_t length, uint32_t& bytesRead) = 0;

    uint32_t Type() const { return type; }
    uint8_t NameLength() const { return nameLength; }
    bool IsNonResident() const { return nonResident; }
    const CByteView& Header() const { return header; }
    // Bytes from the header to the next attribute.
    uint32_t Length() const { return static_cast<uint32_t>(header.size()); }
    CFileRecord* Record() const { return record; }

protected:
    CByteView header;
    uint16_t bytesPerSector;
    uint32_t clusterSize;
    uint32_t indexBlockSize;
    CDevice* device;
    CFileRecord* record;

private:
    uint32_t type;
    uint8_t nameLength;
    bool nonResident;
};
