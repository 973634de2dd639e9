#pragma once

#include <cstdint>

// One decoded data run of a non-resident attribute.
struct tagDataRun_Entry {
    int64_t lcn = 0;       // first logical cluster on the volume; -1 for a sparse run
    uint64_t clusters = 0; // clusters in the run
    uint64_t startVcn = 0; // first virtual cluster, counted from the attribute's start
    uint64_t lastVcn = 0;  // last virtual cluster, inclusive
};
