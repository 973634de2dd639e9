#pragma once

#include <cstdint>
#include <string>

class CDevice;

// What tells one source from another when an interrupted sweep is taken up
// again: the device's size and sector size, its file system and that file
// system's own identifier, and a digest of its first bytes (boot sectors,
// superblocks and the start of the allocation tables) and of small pieces
// spread over the rest (sources with nothing at their start, such as raw
// images, still differ there).
struct tagSourceIdentity {
    uint64_t byteSize = 0;
    uint32_t sectorSize = 0;
    std::string fileSystem; // as detected; "" for none
    std::string serial;     // the file system's UUID or serial; "" for none
    std::string digest;     // SHA-256 (hex) of the first kHeadBytes and the samples
};

class CSourceIdentity {
public:
    // Bytes at the start of the source that the digest covers (all of a
    // smaller source).
    static constexpr uint32_t kHeadBytes = 1u << 20;
    // Pieces of kSampleBytes at kSamples places evenly spread after the head.
    static constexpr uint32_t kSamples = 64;
    static constexpr uint32_t kSampleBytes = 4096;

    // The identity of an open source; false when its bytes cannot be read.
    static bool of(CDevice& device, tagSourceIdentity& identity);
    // "" when a and b are the same source, else what differs, for a person
    // ("its size is 100 bytes, not 200").
    static std::string difference(const tagSourceIdentity& recorded,
                                  const tagSourceIdentity& found);
};
