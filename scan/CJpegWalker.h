#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

// Follows the structure of one JPEG file through its bytes, given in order
// and in pieces of any size: the marker segments by their lengths, the
// entropy-coded data (FF 00 stuffing, restart markers, the tables and scan
// headers between the scans of a progressive file) up to the end marker,
// and for a multi-picture file (an MPF index in APP2) the images the index
// places behind the primary one. No image data is decoded.
class CJpegWalker {
public:
    enum class State { Walking, Complete, Broken };
    // A file still walking at this length is given up as truncated.
    static constexpr uint64_t kMaxLength = uint64_t(128) << 20;

    // Walks the next bytes. Returns how many were used: all of them while
    // the file goes on, fewer when it completes or breaks among them.
    size_t walk(const unsigned char* data, size_t count);

    State state() const { return current; }
    // Bytes walked so far.
    uint64_t position() const { return pos; }
    // Complete: the file's length, up to and with its last end marker.
    uint64_t length() const { return fileLength; }
    // Complete: the length of the primary image, up to its end marker.
    uint64_t primaryLength() const { return primaryEnd; }
    // Broken: the offset of the first byte that does not fit the structure
    // (the FF of a marker that cannot stand there, or the byte itself).
    uint64_t breakPosition() const { return brokenAt; }
    // One past the last non-zero byte walked: where a truncated file's
    // data ends.
    uint64_t dataEnd() const { return lastData; }
    // True once the header led to a scan (entropy-coded data was reached).
    bool reachedScan() const { return scans > 0; }
    // True while inside entropy-coded data, not at a marker.
    bool inEntropyData() const { return current == State::Walking && phase == Phase::Entropy; }
    // True when both are inside entropy-coded data of the same scan, with
    // the same restart marker due: walked on over the same bytes, they end
    // alike.
    bool sameScanState(const CJpegWalker& other) const {
        return inEntropyData() && other.inEntropyData() && scans == other.scans &&
               nextRestart == other.nextRestart;
    }

private:
    enum class Phase : uint8_t {
        Soi,
        SoiCode,
        Marker,
        MarkerCode,
        Length,
        Payload,
        Entropy,
        EntropyMarker,
        Tail,
    };

    void breakAt(uint64_t at);
    void complete(uint64_t end);
    void startSegment(unsigned char marker);
    void finishSegment();
    void endOfPrimary(uint64_t end);
    void readMpfIndex();
    // Walks bytes of the multi-picture tail; false when one does not hold
    // the marker the index promised there.
    bool tailBytesMatch(const unsigned char* data, size_t count);

    State current = State::Walking;
    Phase phase = Phase::Soi;
    uint64_t pos = 0;
    uint64_t markerAt = 0;
    uint64_t brokenAt = 0;
    uint64_t fileLength = 0;
    uint64_t primaryEnd = 0;
    uint64_t lastData = 0;
    unsigned char segmentMarker = 0;
    uint32_t lengthBytes = 0;
    uint32_t segmentLength = 0;
    uint32_t remaining = 0;
    uint32_t scans = 0;
    // The restart marker due next in this scan (they count 0 to 7 over and
    // over from each scan's start).
    unsigned char nextRestart = 0;
    bool frameSeen = false;

    // APP2 payloads are kept while walked, to read an MPF index from them.
    std::vector<unsigned char> captured;
    uint64_t capturedAt = 0;
    bool capturing = false;
    // Markers the MPF index promises behind the primary image: (offset, byte).
    std::vector<std::pair<uint64_t, unsigned char>> promised;
    uint64_t tailEnd = 0;
    size_t nextPromise = 0;
};
