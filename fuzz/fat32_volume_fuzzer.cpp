#include "CVolumeFuzzEntry.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CVolumeFuzzEntry::run(CVolumeOpener::Kind::Fat32, data, size);
    return 0;
}
