#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

// Little-endian on-disk fields read the same way on any host. Field reads
// assemble the value byte by byte; whole arrays of 32-bit entries are
// converted in place, which is free on a little-endian host.
class CByteOrder {
public:
    static uint16_t readLE16(const unsigned char* p) {
        return static_cast<uint16_t>(p[0] | (p[1] << 8));
    }
    static uint32_t readLE32(const unsigned char* p) {
        return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
               (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
    }
    static uint64_t readLE64(const unsigned char* p) {
        return static_cast<uint64_t>(readLE32(p)) | (static_cast<uint64_t>(readLE32(p + 4)) << 32);
    }

    // A 32-bit value whose bytes were stored little-endian, as a host value.
    static uint32_t fromLittleEndian32(uint32_t stored) {
        if constexpr (std::endian::native == std::endian::little)
            return stored;
        else
            return swap32(stored);
    }
    // Turns count little-endian 32-bit values, read from disk into values,
    // into host values.
    static void littleEndianToHost32(uint32_t* values, size_t count) {
        if constexpr (std::endian::native != std::endian::little) {
            for (size_t i = 0; i < count; ++i)
                values[i] = swap32(values[i]);
        } else {
            (void)values;
            (void)count;
        }
    }

    static uint32_t swap32(uint32_t v) {
        return (v >> 24) | ((v >> 8) & 0x0000FF00u) | ((v << 8) & 0x00FF0000u) | (v << 24);
    }
};
