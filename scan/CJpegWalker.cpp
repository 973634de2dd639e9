#include "scan/CJpegWalker.h"

#include "scan/CJpegMarkers.h"

#include <algorithm>
#include <cstring>

namespace {

using M = tagJpegMarker;

// The multi-picture index: APP2 with the identifier "MPF\0", then a TIFF
// header ("II*\0" or "MM\0*", the offset of the first directory) whose
// offsets count from its own first byte. The directory's entry 0xB002
// points at 16-byte image entries: attributes, size, offset, two links.
constexpr unsigned char kMpfIdentifier[] = {'M', 'P', 'F', 0};
constexpr size_t kTiffHeader = 8;
constexpr size_t kDirectoryEntry = 12;
constexpr uint16_t kMpEntryTag = 0xB002;
constexpr size_t kMpEntry = 16;
constexpr size_t kMpEntrySizeAt = 4;
constexpr size_t kMpEntryOffsetAt = 8;
constexpr size_t kMaxMpImages = 64;
constexpr size_t kMaxCaptured = 65535;

// Checked reads of the TIFF structure inside an MPF payload.
class CTiffReader {
public:
    CTiffReader(const unsigned char* bytes, size_t size) : bytes(bytes), size(size) {
        bigEndian = size >= kTiffHeader && bytes[0] == 'M' && bytes[1] == 'M';
        valid = size >= kTiffHeader && (bigEndian || (bytes[0] == 'I' && bytes[1] == 'I'));
    }
    bool read16(size_t at, uint32_t& value) const {
        if (at > size || size - at < 2)
            return false;
        value = bigEndian ? uint32_t(bytes[at]) << 8 | bytes[at + 1]
                          : uint32_t(bytes[at + 1]) << 8 | bytes[at];
        return true;
    }
    bool read32(size_t at, uint32_t& value) const {
        uint32_t a, b;
        if (!read16(at, a) || !read16(at + 2, b))
            return false;
        value = bigEndian ? a << 16 | b : b << 16 | a;
        return true;
    }
    bool valid;

private:
    const unsigned char* bytes;
    size_t size;
    bool bigEndian;
};

} // namespace

void CJpegWalker::breakAt(uint64_t at) {
    current = State::Broken;
    brokenAt = at;
}

void CJpegWalker::complete(uint64_t end) {
    current = State::Complete;
    fileLength = end;
}

size_t CJpegWalker::walk(const unsigned char* data, size_t count) {
    size_t i = 0;
    while (i < count && current == State::Walking) {
        if (pos >= kMaxLength) {
            breakAt(pos);
            break;
        }
        const unsigned char b = data[i];
        switch (phase) {
        case Phase::Soi:
            if (b != M::kPrefix) {
                breakAt(pos);
                continue;
            }
            phase = Phase::SoiCode;
            break;
        case Phase::SoiCode:
            if (b != M::kSoi) {
                breakAt(pos - 1);
                continue;
            }
            phase = Phase::Marker;
            break;
        case Phase::Marker:
            if (b != M::kPrefix) {
                breakAt(pos);
                continue;
            }
            markerAt = pos;
            phase = Phase::MarkerCode;
            break;
        case Phase::MarkerCode:
        case Phase::EntropyMarker: {
            const bool inScan = phase == Phase::EntropyMarker;
            if (b == M::kPrefix) { // fill byte
                markerAt = pos;
                break;
            }
            if (inScan && b == M::kStuffed) {
                phase = Phase::Entropy;
                break;
            }
            if (inScan && M::isRestart(b)) {
                // Restart markers out of turn: the data is not this scan's.
                if (b != M::kRst0 + nextRestart) {
                    breakAt(markerAt);
                    continue;
                }
                nextRestart = (nextRestart + 1) % 8;
                phase = Phase::Entropy;
                break;
            }
            if (b == M::kEoi && scans > 0) {
                ++pos;
                ++i;
                endOfPrimary(pos);
                continue;
            }
            const bool frameAllowed = !inScan && !frameSeen && scans == 0;
            if (b == M::kSos || M::isTableOrMisc(b) || (frameAllowed && M::isFrame(b))) {
                startSegment(b);
                break;
            }
            {
                breakAt(markerAt);
                continue;
            }
        }
        case Phase::Length:
            segmentLength = segmentLength << 8 | b;
            if (++lengthBytes < 2)
                break;
            if (segmentLength < 2) {
                breakAt(markerAt);
                continue;
            }
            remaining = segmentLength - 2;
            capturing = segmentMarker == M::kApp2 && primaryEnd == 0 && promised.empty();
            if (capturing) {
                captured.clear();
                capturedAt = pos + 1;
            }
            phase = Phase::Payload;
            if (remaining == 0) {
                ++pos;
                ++i;
                finishSegment();
                continue;
            }
            break;
        case Phase::Payload: {
            const size_t n = std::min<size_t>(remaining, count - i);
            if (capturing && captured.size() + n <= kMaxCaptured)
                captured.insert(captured.end(), data + i, data + i + n);
            i += n;
            pos += n;
            remaining -= uint32_t(n);
            if (remaining == 0)
                finishSegment();
            continue;
        }
        case Phase::Entropy: {
            const void* ff = std::memchr(data + i, M::kPrefix, count - i);
            if (!ff) {
                pos += count - i;
                i = count;
                continue;
            }
            const size_t at = size_t(static_cast<const unsigned char*>(ff) - data);
            pos += at - i;
            i = at;
            markerAt = pos;
            phase = Phase::EntropyMarker;
            break;
        }
        case Phase::Tail: {
            const size_t n = size_t(std::min<uint64_t>(tailEnd - pos, count - i));
            if (!tailBytesMatch(data + i, n)) {
                // The index promised more than is there: the file ends
                // with the primary image.
                complete(primaryEnd);
                continue;
            }
            i += n;
            pos += n;
            if (pos == tailEnd)
                complete(tailEnd);
            continue;
        }
        }
        ++pos;
        ++i;
    }
    // Where the data ends, for a file cut short: the last non-zero byte
    // used before any byte that broke the structure.
    const uint64_t first = pos - i; // the file offset of data[0]
    const uint64_t limit = current == State::Broken ? std::min(brokenAt, pos) : pos;
    for (size_t k = limit > first ? size_t(limit - first) : 0; k > 0; --k) {
        if (data[k - 1] != 0) {
            lastData = std::max(lastData, first + k);
            break;
        }
    }
    return i;
}

void CJpegWalker::startSegment(unsigned char marker) {
    segmentMarker = marker;
    segmentLength = 0;
    lengthBytes = 0;
    phase = Phase::Length;
}

void CJpegWalker::finishSegment() {
    if (capturing) {
        capturing = false;
        readMpfIndex();
    }
    if (M::isFrame(segmentMarker))
        frameSeen = true;
    if (segmentMarker == M::kSos) {
        ++scans;
        nextRestart = 0;
        phase = Phase::Entropy;
        return;
    }
    phase = Phase::Marker;
}

void CJpegWalker::endOfPrimary(uint64_t end) {
    primaryEnd = end;
    // The images behind the primary one, when the index names them all there.
    const bool behind = !promised.empty() && promised.front().first >= end;
    if (!behind || tailEnd <= end) {
        complete(end);
        return;
    }
    phase = Phase::Tail;
    nextPromise = 0;
}

bool CJpegWalker::tailBytesMatch(const unsigned char* data, size_t count) {
    while (nextPromise < promised.size() && promised[nextPromise].first < pos + count) {
        const auto& [at, value] = promised[nextPromise];
        if (data[at - pos] != value)
            return false;
        ++nextPromise;
    }
    return true;
}

void CJpegWalker::readMpfIndex() {
    if (captured.size() < sizeof kMpfIdentifier + kTiffHeader ||
        std::memcmp(captured.data(), kMpfIdentifier, sizeof kMpfIdentifier) != 0)
        return;
    const unsigned char* tiff = captured.data() + sizeof kMpfIdentifier;
    const size_t tiffSize = captured.size() - sizeof kMpfIdentifier;
    const uint64_t tiffBase = capturedAt + sizeof kMpfIdentifier;
    CTiffReader reader(tiff, tiffSize);
    uint32_t directory = 0, entries = 0;
    if (!reader.valid || !reader.read32(4, directory) || !reader.read16(directory, entries))
        return;
    for (uint32_t e = 0; e < entries; ++e) {
        const size_t at = size_t(directory) + 2 + kDirectoryEntry * e;
        uint32_t tag = 0, bytes = 0, offset = 0;
        if (!reader.read16(at, tag) || !reader.read32(at + 4, bytes) ||
            !reader.read32(at + 8, offset))
            return;
        if (tag != kMpEntryTag)
            continue;
        const size_t images = std::min<size_t>(bytes / kMpEntry, kMaxMpImages);
        std::vector<std::pair<uint64_t, unsigned char>> found;
        uint64_t end = 0;
        // Entry 0 is the primary image itself.
        for (size_t k = 1; k < images; ++k) {
            const size_t entry = size_t(offset) + kMpEntry * k;
            uint32_t size = 0, start = 0;
            if (!reader.read32(entry + kMpEntrySizeAt, size) ||
                !reader.read32(entry + kMpEntryOffsetAt, start))
                return;
            if (start == 0 || size < 4)
                return;
            const uint64_t first = tiffBase + start, last = first + size;
            if (last > kMaxLength)
                return;
            found.push_back({first, M::kPrefix});
            found.push_back({first + 1, M::kSoi});
            found.push_back({last - 2, M::kPrefix});
            found.push_back({last - 1, M::kEoi});
            end = std::max(end, last);
        }
        std::sort(found.begin(), found.end());
        promised = std::move(found);
        tailEnd = end;
        return;
    }
}
