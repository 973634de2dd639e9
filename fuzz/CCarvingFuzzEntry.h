#pragma once

#include <cstddef>
#include <cstdint>

// One fuzz input run through the sweep and the carving rules: the first
// byte picks the sectors per cluster and the second which clusters are in
// use; the rest is the volume. Every found image is checked against the
// rules (it begins with a start signature and its last byte closes FF D9);
// a violation aborts.
class CCarvingFuzzEntry {
public:
    static void run(const uint8_t* data, size_t size);
};
