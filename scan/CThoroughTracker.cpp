#include "scan/CThoroughTracker.h"

#include "scan/CJpegMarkers.h"
#include "scan/CJpegStartCheck.h"
#include "scan/CPieceReader.h"

#include <algorithm>
#include <cstring>

namespace {

using M = tagJpegMarker;

} // namespace

CThoroughTracker::CThoroughTracker(uint32_t sectorSize) : sectorSize(sectorSize) {}

CThoroughTracker::~CThoroughTracker() = default;

uint64_t CThoroughTracker::endOf(const tagFollowed& f) const {
    switch (f.walker.state()) {
    case CJpegWalker::State::Complete:
        return f.start + f.walker.length();
    case CJpegWalker::State::Broken:
        return f.start + f.walker.breakPosition();
    default:
        return f.start + f.walker.position();
    }
}

void CThoroughTracker::feed(tagFollowed& f, const unsigned char* bytes, size_t count) {
    if (f.walking())
        f.walker.walk(bytes, count);
}

void CThoroughTracker::feedSector(uint64_t sector, const unsigned char* bytes) {
    if (!segments.empty() && segments.back().sector + segments.back().count == sector &&
        segments.back().at + uint64_t(segments.back().count) * sectorSize == streamAt)
        ++segments.back().count;
    else
        segments.push_back({streamAt, sector, 1});

    if (main) {
        feed(*main, bytes, sectorSize);
        for (auto& f : inner)
            feed(*f, bytes, sectorSize);
    }
    // Every FF D8 FF that begins in this sector, the ones that run into the
    // next sector included: search for the D8 between two FF bytes.
    const unsigned char* from = bytes + 1;
    const unsigned char* end = bytes + sectorSize + 1;
    while (from < end) {
        const void* hit = std::memchr(from, M::kSoi, size_t(end - from));
        if (!hit)
            break;
        const auto* d8 = static_cast<const unsigned char*>(hit);
        if (d8[-1] == M::kPrefix && d8[1] == M::kPrefix)
            takeStart(uint32_t(d8 - 1 - bytes), bytes);
        from = d8 + 1;
    }
    settle();
    streamAt += sectorSize;
    if (!main)
        forgetSegmentsBefore(streamAt);
}

void CThoroughTracker::takeStart(uint32_t offset, const unsigned char* bytes) {
    if (!CJpegStartCheck::isStart(bytes + offset, sectorSize))
        return;
    const uint64_t here = streamAt + offset;
    const bool inside = main && (main->walking() || endOf(*main) > here);
    auto fresh = std::make_unique<tagFollowed>(tagFollowed{here, CJpegWalker()});
    if (!inside)
        settle();
    if (main) {
        // A start inside the file, or inside an inner file that outlived it.
        if (inner.size() < kMaxInner) {
            feed(*fresh, bytes + offset, sectorSize - offset);
            inner.push_back(std::move(fresh));
        }
        return;
    }
    forgetSegmentsBefore(here);
    feed(*fresh, bytes + offset, sectorSize - offset);
    main = std::move(fresh);
}

void CThoroughTracker::settle() {
    while (main && !main->walking()) {
        const uint64_t end = endOf(*main);
        emit(*main, false);
        main.reset();
        // Inner files that began where the outer one stopped, or go on
        // past it, are files of their own; the others were part of it.
        std::vector<std::unique_ptr<tagFollowed>> outliving;
        for (auto& f : inner)
            if (f->start >= end || f->walking() || endOf(*f) > end)
                outliving.push_back(std::move(f));
        inner.clear();
        if (outliving.empty())
            return;
        main = std::move(outliving.front());
        for (size_t k = 1; k < outliving.size(); ++k)
            inner.push_back(std::move(outliving[k]));
    }
}

void CThoroughTracker::dropCandidate() {
    settle();
    if (main)
        emit(*main, true);
    main.reset();
    inner.clear();
    segments.clear();
}

void CThoroughTracker::forgetSegmentsBefore(uint64_t at) {
    while (segments.size() > 1 &&
           segments.front().at + uint64_t(segments.front().count) * sectorSize <= at)
        segments.pop_front();
}

std::vector<tagFilePiece> CThoroughTracker::piecesOf(uint64_t from, uint64_t length) const {
    std::vector<tagFilePiece> pieces;
    const uint64_t to = from + length;
    for (const tagSegment& s : segments) {
        const uint64_t first = std::max(from, s.at);
        const uint64_t last = std::min(to, s.at + uint64_t(s.count) * sectorSize);
        if (first >= last)
            continue;
        const uint64_t inSegment = first - s.at;
        CPieceReader::append(pieces, s.sector + inSegment / sectorSize,
                             uint32_t(inSegment % sectorSize), last - first, sectorSize);
    }
    return pieces;
}

void CThoroughTracker::emit(const tagFollowed& f, bool cutOff) {
    tagCarvedFile file;
    const CJpegWalker& w = f.walker;
    file.reachedScan = w.reachedScan();
    if (!cutOff && w.state() == CJpegWalker::State::Complete) {
        file.complete = true;
        file.length = w.length();
        file.primaryLength = w.primaryLength();
    } else {
        const uint64_t stop = cutOff ? w.position() : w.breakPosition();
        file.length = std::min(stop, w.dataEnd());
    }
    if (file.length == 0)
        return;
    file.pieces = piecesOf(f.start, file.length);
    if (file.pieces.empty())
        return;
    file.startSector = file.pieces.front().sector;
    file.startByte = file.pieces.front().skip;
    finished.push_back(std::move(file));
}
