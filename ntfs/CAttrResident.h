#pragma once

#include "ntfs/CAttrBase.h"

// An attribute whose value lies inside the record image.
class CAttrResident : public CAttrBase {
public:
    static constexpr uint32_t kHeaderSize = 0x18;

    // True when the resident header and its value lie inside the length
    // bytes of the attribute.
    static bool HeaderFits(const uint8_t* header, uint32_t length);

    CAttrResident(const uint8_t* header, uint32_t length, CFileRecord* record);

    bool IsDataValid() const override { return true; }
    uint64_t DataSize(uint64_t* allocatedSize = nullptr) const override;
    bool ReadAt(uint64_t offset, void* buffer, uint32_t length, uint32_t& bytesRead) override;

    const uint8_t* Value() const { return value; }
    uint32_t ValueLength() const { return valueLength; }

protected:
    const uint8_t* residentHeader;
    const uint8_t* value;
    uint32_t valueLength;
};
