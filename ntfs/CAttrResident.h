#pragma once

#include "ntfs/CAttrBase.h"

// An attribute whose value lies inside the record image.
class CAttrResident : public CAttrBase {
public:
    // True when the resident header and its value lie inside the attribute.
    static bool HeaderFits(const CByteView& header);

    CAttrResident(CByteView header, CFileRecord* record);

    bool IsDataValid() const override { return true; }
    uint64_t DataSize(uint64_t* allocatedSize = nullptr) const override;
    bool ReadAt(uint64_t offset, void* buffer, uint32_t length, uint32_t& bytesRead) override;

    const CByteView& Value() const { return value; }
    uint32_t ValueLength() const { return valueLength; }

protected:
    CByteView value;
    uint32_t valueLength;
};
