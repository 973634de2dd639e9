#pragma once

#include <cstdint>

// The wide JPEG start: FF D8 FF at the first byte of a sector, followed by
// any marker a JPEG file may begin with (APPn, COM, DQT, DHT, SOFn), and
// the segments that can be seen in the sector well formed: plausible
// lengths, an identifier in every APPn segment, table and frame headers
// whose fields fit their lengths.
class CJpegStartCheck {
public:
    // bytes holds available readable bytes (a whole sector, at least 16).
    static bool isStart(const unsigned char* bytes, uint32_t available);

private:
    // Checks the segment whose marker is at p; false when it is malformed.
    // Fields that lie beyond available are taken on trust.
    static bool segmentIsPlausible(const unsigned char* bytes, uint32_t available, uint32_t p,
                                   unsigned char marker, uint32_t length);
    static bool appIdentifierIsPlausible(const unsigned char* payload, uint32_t visible,
                                         uint32_t payloadLength);
    static bool tablesFit(const unsigned char* payload, uint32_t visible, uint32_t payloadLength,
                          bool huffman);
};
