// libFuzzer target: the sweep and the JPEG carving rules over arbitrary sectors.
#include "CCarvingFuzzEntry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CCarvingFuzzEntry::run(data, size);
    return 0;
}
