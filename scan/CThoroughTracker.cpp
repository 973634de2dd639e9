#include "scan/CThoroughTracker.h"

#include "scan/CJpegMarkers.h"
#include "scan/CJpegStartCheck.h"
#include "scan/CPieceReader.h"

#include <algorithm>
#include <cstring>
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace {

using M = tagJpegMarker;

// Calls found(k) for every k < count, in order, where bytes[k] and
// bytes[k + 1] are FF D8 (bytes[count] must be readable), until it returns
// true; returns that k, else count. Where the
// processor has them, 32 (AVX2) or 16 (SSE2) pairs are compared at once;
// the rest is found with memchr.
template <typename F> size_t soiTail(const unsigned char* bytes, size_t k, size_t count, F& found) {
    while (k < count) {
        const void* hit = std::memchr(bytes + k + 1, M::kSoi, count - k);
        if (!hit)
            break;
        const size_t d8 = size_t(static_cast<const unsigned char*>(hit) - bytes);
        if (bytes[d8 - 1] == M::kPrefix && found(d8 - 1))
            return d8 - 1;
        k = d8;
    }
    return count;
}

#if defined(__x86_64__) || defined(__i386__)
template <typename F>
__attribute__((target("avx2"))) size_t forEachSoiAvx2(const unsigned char* bytes, size_t count,
                                                      F& found) {
    const __m256i prefix = _mm256_set1_epi8(char(M::kPrefix));
    const __m256i soi = _mm256_set1_epi8(char(M::kSoi));
    size_t k = 0;
    for (; k + 32 <= count; k += 32) {
        const __m256i here = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + k));
        const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + k + 1));
        auto mask = unsigned(_mm256_movemask_epi8(
            _mm256_and_si256(_mm256_cmpeq_epi8(here, prefix), _mm256_cmpeq_epi8(next, soi))));
        for (; mask != 0; mask &= mask - 1)
            if (found(k + size_t(__builtin_ctz(mask))))
                return k + size_t(__builtin_ctz(mask));
    }
    return soiTail(bytes, k, count, found);
}

// Asked before main runs: the processor's features are read first.
const bool kHaveAvx2 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
}();
#endif

template <typename F> size_t forEachSoi(const unsigned char* bytes, size_t count, F&& found) {
    size_t k = 0;
#if defined(__x86_64__) || defined(__i386__)
    if (kHaveAvx2)
        return forEachSoiAvx2(bytes, count, found);
#endif
#ifdef __SSE2__
    const __m128i prefix = _mm_set1_epi8(char(M::kPrefix));
    const __m128i soi = _mm_set1_epi8(char(M::kSoi));
    for (; k + 16 <= count; k += 16) {
        const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + k));
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + k + 1));
        auto mask = unsigned(_mm_movemask_epi8(
            _mm_and_si128(_mm_cmpeq_epi8(here, prefix), _mm_cmpeq_epi8(next, soi))));
        for (; mask != 0; mask &= mask - 1)
            if (found(k + size_t(__builtin_ctz(mask))))
                return k + size_t(__builtin_ctz(mask));
    }
#endif
    return soiTail(bytes, k, count, found);
}

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

void CThoroughTracker::feedSectors(uint64_t first, uint64_t count, const unsigned char* bytes) {
    for (uint64_t k = 0; k < count;) {
        const unsigned char* here = bytes + size_t(k) * sectorSize;
        if (!main) {
            // Nothing followed: the sectors before the next FF D8 FF only
            // move the stream on.
            const size_t span = size_t(count - k) * sectorSize;
            const size_t hit =
                forEachSoi(here, span, [&](size_t at) { return here[at + 2] == M::kPrefix; });
            const uint64_t quiet = hit / sectorSize;
            if (quiet > 0) {
                noteSectors(first + k, quiet);
                streamAt += quiet * sectorSize;
                forgetSegmentsBefore(streamAt);
                k += quiet;
                continue;
            }
        }
        feedSector(first + k, here);
        ++k;
    }
}

void CThoroughTracker::noteSectors(uint64_t sector, uint64_t count) {
    if (!segments.empty() && segments.back().sector + segments.back().count == sector &&
        segments.back().at + segments.back().count * sectorSize == streamAt)
        segments.back().count += count;
    else
        segments.push_back({streamAt, sector, count});
}

void CThoroughTracker::feedSector(uint64_t sector, const unsigned char* bytes) {
    noteSectors(sector, 1);

    if (main) {
        feed(*main, bytes, sectorSize);
        for (auto& f : inner)
            feed(*f, bytes, sectorSize);
    }
    // Every FF D8 FF that begins in this sector, the ones that run into the
    // next sector included.
    forEachSoi(bytes, sectorSize, [&](size_t k) {
        if (bytes[k + 2] == M::kPrefix)
            takeStart(uint32_t(k), bytes);
        return false;
    });
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
