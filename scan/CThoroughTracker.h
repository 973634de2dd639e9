#pragma once

#include "scan/CBaseFile.h"
#include "scan/CJpegWalker.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

// A file whose walk has ended, by its place on the volume.
struct tagCarvedFile {
    uint64_t startSector = 0;         // the sector of the file's first byte
    uint32_t startByte = 0;           // the offset of the first byte in that sector
    uint64_t length = 0;              // bytes of the file
    uint64_t primaryLength = 0;       // bytes of the primary image (complete files)
    bool complete = false;            // false: truncated or broken, only kept as a partial file
    bool reachedScan = false;         // the walk reached entropy-coded data
    bool listed = false;              // the file system's record gave the pieces, not carving
    std::vector<tagFilePiece> pieces; // where the length bytes lie, in order
};

// The thorough mode's follower of the stream of swept sectors (the free
// clusters in order, consecutive or not). Every FF D8 FF at any byte that
// begins a wide JPEG start (CJpegStartCheck) and does not lie inside the
// file being followed begins a candidate, whose structure is walked to its
// exact end (CJpegWalker); after a file's end the search goes on from the
// next byte. A start inside the file being followed (an Exif thumbnail, an
// MPF preview) is walked beside it: when the outer file ends well, or
// breaks after the inner one ended, the inner one was part of it; when the
// outer file breaks while the inner one is still going on, or the start
// lies at or after where the outer file stops, the inner one is a file of
// its own (a newer photo written over an older one).
class CThoroughTracker {
public:
    explicit CThoroughTracker(uint32_t sectorSize);
    ~CThoroughTracker();

    // Offers the next sector of the stream. bytes holds the sector and,
    // behind it, the next sector of the stream (zeros where none follows):
    // 2 * sectorSize readable bytes.
    void feedSector(uint64_t sector, const unsigned char* bytes);
    // Offers count consecutive sectors from first on, the same way (the
    // next sector of the stream readable behind them); stretches without
    // a start while nothing is followed are passed over in one search.
    void feedSectors(uint64_t first, uint64_t count, const unsigned char* bytes);
    // The stream breaks (an unreadable run, the end of the sweep): the file
    // being followed is cut off there.
    void dropCandidate();
    bool following() const { return main != nullptr; }

    // Files whose walk has ended, in order; the caller takes them.
    std::vector<tagCarvedFile> finished;

    // Starts followed at once inside one file, beyond which further starts
    // are taken as part of it.
    static constexpr size_t kMaxInner = 8;

private:
    struct tagFollowed {
        uint64_t start; // stream offset of the first byte
        CJpegWalker walker;
        bool walking() const { return walker.state() == CJpegWalker::State::Walking; }
    };
    // Consecutive sectors of the stream from stream offset at on.
    struct tagSegment {
        uint64_t at;
        uint64_t sector;
        uint64_t count;
    };

    uint64_t endOf(const tagFollowed& f) const;
    void feed(tagFollowed& f, const unsigned char* bytes, size_t count);
    void takeStart(uint32_t offset, const unsigned char* bytes);
    // Hands on every ended outer file and puts the inner file that outlives
    // it in its place.
    void settle();
    void emit(const tagFollowed& f, bool cutOff);
    // Where stream bytes from..from+length lie on the volume.
    std::vector<tagFilePiece> piecesOf(uint64_t from, uint64_t length) const;
    void forgetSegmentsBefore(uint64_t at);
    // Records count sectors from sector on at streamAt in the segments.
    void noteSectors(uint64_t sector, uint64_t count);

    uint32_t sectorSize;
    uint64_t streamAt = 0; // stream offset of the sector being fed
    std::deque<tagSegment> segments;
    std::unique_ptr<tagFollowed> main;
    std::vector<std::unique_ptr<tagFollowed>> inner;
};
