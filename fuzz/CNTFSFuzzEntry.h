#pragma once

#include <cstddef>
#include <cstdint>

// One fuzz input run through the NTFS reader: the bytes are a volume image.
// It is opened, records 0 to 31 are read with all their attributes and some
// of their data, and the allocation bitmap is loaded into an NTFS access.
class CNTFSFuzzEntry {
public:
    static void run(const uint8_t* data, size_t size);
};
