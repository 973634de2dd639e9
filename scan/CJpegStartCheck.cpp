#include "scan/CJpegStartCheck.h"

#include "scan/CJpegMarkers.h"

#include <algorithm>

namespace {

using M = tagJpegMarker;

// Layout of the first bytes of a JPEG file: FF D8, then the first segment's
// marker and its length field.
constexpr uint32_t kFirstSegment = 2;
constexpr uint32_t kSegmentHeader = 4; // FF, marker code, 16-bit length
constexpr uint32_t kLengthField = 2;   // the length counts itself, not the marker
// An APPn identifier: printable ASCII of kMinIdentifier to kMaxIdentifier
// characters, NUL-terminated ("JFIF", "Exif", "ICC_PROFILE", "MPF", "Adobe",
// "Photoshop 3.0", "http://ns.adobe.com/xap/1.0/").
constexpr uint32_t kMinIdentifier = 2;
constexpr uint32_t kMaxIdentifier = 48;
// Quantisation tables: one byte of precision and id, then 64 entries of one
// or two bytes. Huffman tables: one byte of class and id, 16 code counts,
// then the symbols.
constexpr uint32_t kQuantEntries = 64;
constexpr uint32_t kHuffmanCounts = 16;
constexpr uint32_t kMaxHuffmanSymbols = 256;
constexpr uint32_t kMaxTableId = 3;
// Frame header: precision, height (2), width (2), component count, then 3
// bytes per component (id, sampling factors, table).
constexpr uint32_t kFrameFixed = 6;
constexpr uint32_t kFrameComponent = 3;
constexpr uint32_t kMaxComponents = 4;
// Scan header: the length field, component count, 2 bytes per component,
// then 3 bytes of spectral selection and approximation.
constexpr uint32_t kScanFixed = 6;
constexpr uint32_t kScanComponent = 2;
constexpr uint32_t kRestartIntervalLength = 4;

bool isFirstMarker(unsigned char m) {
    return M::isApp(m) || m == M::kCom || m == M::kDqt || m == M::kDht || M::isFrame(m);
}

} // namespace

bool CJpegStartCheck::isStart(const unsigned char* bytes, uint32_t available) {
    if (available < 16 || bytes[0] != M::kPrefix || bytes[1] != M::kSoi || bytes[2] != M::kPrefix ||
        !isFirstMarker(bytes[3]))
        return false;
    uint32_t p = kFirstSegment;
    while (p + kSegmentHeader <= available) {
        if (bytes[p] != M::kPrefix)
            return false;
        const unsigned char marker = bytes[p + 1];
        const uint32_t length = M::readBE16(bytes + p + 2);
        if (length < kLengthField)
            return false;
        if (marker == M::kSos) {
            // The scan header ends the check: the start is complete.
            if (p + kSegmentHeader + 1 > available)
                return true;
            const uint32_t components = bytes[p + kSegmentHeader];
            return components >= 1 && components <= kMaxComponents &&
                   length == kScanFixed + kScanComponent * components;
        }
        if (!(M::isTableOrMisc(marker) || M::isFrame(marker)) ||
            !segmentIsPlausible(bytes, available, p, marker, length))
            return false;
        p += kLengthField + length;
    }
    return true;
}

bool CJpegStartCheck::segmentIsPlausible(const unsigned char* bytes, uint32_t available, uint32_t p,
                                         unsigned char marker, uint32_t length) {
    const uint32_t payloadAt = p + kSegmentHeader;
    const uint32_t payloadLength = length - kLengthField;
    const uint32_t visible = payloadAt < available ? available - payloadAt : 0;
    const unsigned char* payload = bytes + payloadAt;
    if (M::isApp(marker))
        return appIdentifierIsPlausible(payload, visible, payloadLength);
    if (marker == M::kDqt || marker == M::kDht)
        return tablesFit(payload, visible, payloadLength, marker == M::kDht);
    if (marker == M::kDri)
        return length == kRestartIntervalLength;
    if (M::isFrame(marker)) {
        if (payloadLength < kFrameFixed)
            return false;
        if (visible < kFrameFixed)
            return true;
        const unsigned precision = payload[0];
        const uint32_t width = M::readBE16(payload + 3);
        const uint32_t components = payload[5];
        if ((precision != 8 && precision != 12 && precision != 16) || width == 0 ||
            components < 1 || components > kMaxComponents ||
            payloadLength != kFrameFixed + kFrameComponent * components)
            return false;
        for (uint32_t c = 0; c < components; ++c) {
            const uint32_t at = kFrameFixed + kFrameComponent * c;
            if (at + kFrameComponent > visible)
                break;
            const unsigned sampling = payload[at + 1];
            const unsigned h = sampling >> 4, v = sampling & 0x0F;
            if (h < 1 || h > 4 || v < 1 || v > 4 || payload[at + 2] > kMaxTableId)
                return false;
        }
        return true;
    }
    return true; // COM, DNL, DAC: any contents
}

bool CJpegStartCheck::appIdentifierIsPlausible(const unsigned char* payload, uint32_t visible,
                                               uint32_t payloadLength) {
    const uint32_t limit = std::min({visible, payloadLength, kMaxIdentifier + 1});
    for (uint32_t i = 0; i < limit; ++i) {
        const unsigned char c = payload[i];
        if (c == 0)
            return i >= kMinIdentifier;
        if (c < 0x20 || c > 0x7E)
            return false;
    }
    // Cut off by the end of the sector: what could be seen was plausible.
    return limit == visible && visible < payloadLength && visible < kMaxIdentifier + 1;
}

bool CJpegStartCheck::tablesFit(const unsigned char* payload, uint32_t visible,
                                uint32_t payloadLength, bool huffman) {
    uint32_t q = 0;
    while (q < payloadLength) {
        if (q >= visible)
            return true;
        const unsigned kind = payload[q] >> 4, id = payload[q] & 0x0F;
        if (kind > 1 || id > kMaxTableId)
            return false;
        if (!huffman) {
            q += 1 + kQuantEntries * (kind + 1);
            continue;
        }
        if (q + 1 + kHuffmanCounts > visible)
            return true;
        uint32_t symbols = 0;
        for (uint32_t i = 0; i < kHuffmanCounts; ++i)
            symbols += payload[q + 1 + i];
        if (symbols == 0 || symbols > kMaxHuffmanSymbols)
            return false;
        q += 1 + kHuffmanCounts + symbols;
    }
    return q == payloadLength;
}
