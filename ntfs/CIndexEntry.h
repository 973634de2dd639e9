#pragma once

#include "ntfs/CFileName.h"

// One entry of an index whose keys are $FILE_NAME values.
class CIndexEntry : public CFileName {
public:
    // entry: the raw index entry, as far as it is readable.
    explicit CIndexEntry(CByteView entry);

    const CByteView& Entry() const { return entry; }

protected:
    CByteView entry;
};
