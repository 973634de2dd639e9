#pragma once

#include "ntfs/CFileName.h"

// One entry of an index whose keys are $FILE_NAME values.
class CIndexEntry : public CFileName {
public:
    // entry: the raw index entry, of which available bytes are readable.
    CIndexEntry(const uint8_t* entry, uint32_t available);
    ~CIndexEntry() override;

    const uint8_t* Entry() const { return entry; }

protected:
    bool ownsEntry = false;
    const uint8_t* entry;
};
