#pragma once

#include "scan/CJpegWalker.h"

#include <cstdint>
#include <memory>
#include <vector>

// A file whose walk has ended, by its place on the volume.
struct tagCarvedFile {
    uint32_t startSector = 0;
    uint64_t length = 0;        // bytes from the first byte of startSector
    uint64_t primaryLength = 0; // bytes of the primary image (complete files)
    bool complete = false;      // false: truncated or broken, only kept as a partial file
};

// The thorough mode's follower of the sector stream. Every sector that
// begins with a wide JPEG start (CJpegStartCheck) and does not lie inside
// the file being followed begins a candidate, whose structure is walked to
// its exact end (CJpegWalker). A start inside the file being followed (an
// Exif thumbnail, an MPF preview) is walked beside it: when the outer file
// ends well, or breaks after the inner one ended, the inner one was part of
// it; when the outer file breaks while the inner one is still going on, or
// the start lies at or after where the outer file stops, the inner one is a
// file of its own (a newer photo written over an older one).
class CThoroughTracker {
public:
    explicit CThoroughTracker(uint32_t sectorSize);
    ~CThoroughTracker();

    // Offers the next sector of the stream (sectorSize bytes).
    void feedSector(uint32_t sector, const unsigned char* bytes);
    // The stream breaks (a used cluster, an unreadable run, the end of the
    // sweep): the file being followed is cut off there.
    void dropCandidate();
    bool following() const { return main != nullptr; }

    // Files whose walk has ended, in order; the caller takes them.
    std::vector<tagCarvedFile> finished;

    // Starts followed at once inside one file, beyond which further starts
    // are taken as part of it.
    static constexpr size_t kMaxInner = 8;

private:
    struct tagFollowed {
        uint32_t startSector;
        CJpegWalker walker;
        bool walking() const { return walker.state() == CJpegWalker::State::Walking; }
    };

    // Absolute byte offsets, so that files with different starts compare.
    uint64_t startOf(const tagFollowed& f) const { return uint64_t(f.startSector) * sectorSize; }
    uint64_t endOf(const tagFollowed& f) const;
    void feed(tagFollowed& f, uint32_t sector, const unsigned char* bytes);
    // Hands on every ended outer file and puts the inner file that outlives
    // it in its place.
    void settle();
    void emit(const tagFollowed& f, bool cutOff);

    uint32_t sectorSize;
    std::unique_ptr<tagFollowed> main;
    std::vector<std::unique_ptr<tagFollowed>> inner;
};
