#pragma once

#include "volume/CVolumeOpener.h"

#include <cstddef>
#include <cstdint>

// One fuzz input run through a volume access's metadata reader: the bytes
// are the start of a volume image on a device of at least kDeviceBytes (the
// rest reads as zeros, so a seed needs only the image's metadata). The
// access is built; when it stands, every cluster's allocation is asked and
// some free clusters are read.
class CVolumeFuzzEntry {
public:
    static constexpr uint64_t kDeviceBytes = 8u << 20;
    static void run(CVolumeOpener::Kind kind, const uint8_t* data, size_t size);
};
