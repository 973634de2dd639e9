#pragma once

#include "ntfs/tagDataRun_Entry.h"

#include <cstdint>
#include <vector>

// The unnamed data of a deleted file as its MFT record still lists it.
struct tagDeletedData {
    uint64_t record = 0;                // its number in the MFT
    uint64_t dataSize = 0;              // bytes of data
    std::vector<tagDataRun_Entry> runs; // in VCN order, none sparse, covering dataSize
};
