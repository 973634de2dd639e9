#pragma once

#include "platform/CByteView.h"

#include <cstdint>
#include <string>

// A $FILE_NAME value (an attribute value or an index key): its name,
// upper-cased.
class CFileName {
public:
    // value: the $FILE_NAME bytes (empty: no name).
    explicit CFileName(CByteView value);
    virtual ~CFileName() = default;

    const CByteView& FileNameValue() const { return fileName; }
    const std::u16string& UpperName() const { return upperName; }
    uint32_t UpperLength() const { return upperLength; }

protected:
    CByteView fileName;
    std::u16string upperName;
    uint32_t upperLength = 0;
};
