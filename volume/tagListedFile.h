#pragma once

#include <cstdint>
#include <utility>
#include <vector>

// A deleted file whose clusters the file system's records still list.
struct tagListedFile {
    uint64_t length = 0; // bytes of the file
    // (first cluster, clusters) in file order, holding at least length bytes.
    std::vector<std::pair<uint64_t, uint64_t>> runs;
};
