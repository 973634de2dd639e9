#pragma once

#include <cstdint>
#include <string>

// A $FILE_NAME value (an attribute value or an index key): its name,
// upper-cased.
class CFileName {
public:
    // value: the $FILE_NAME bytes, of which valueLength are readable.
    CFileName(const uint8_t* value, uint32_t valueLength);
    virtual ~CFileName() = default;

    const uint8_t* FileNameValue() const { return fileName; }
    const std::u16string& UpperName() const { return upperName; }
    uint32_t UpperLength() const { return upperLength; }

protected:
    const uint8_t* fileName;
    std::u16string upperName;
    uint32_t upperLength = 0;
};
