#include "CNTFSFuzzEntry.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CNTFSFuzzEntry::run(data, size);
    return 0;
}
