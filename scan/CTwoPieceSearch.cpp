#include "scan/CTwoPieceSearch.h"

#include "scan/CJpegMarkers.h"

#include <algorithm>
#include <cstring>

namespace {

using M = tagJpegMarker;

// The end of a walk from one cluster of the window, reused for the later
// clusters the walk entered in the state the cut left (in entropy-coded
// data, with the same restart marker due): their walks end at the same
// marker.
struct tagWalkEnd {
    bool known = false;
    bool complete = false;
    uint64_t end = 0;        // window offset after the last byte
    uint64_t primaryEnd = 0; // window offset after the primary image
};

// True when every FF among the bytes (but the last) is followed by what may
// follow it in a scan's entropy-coded data: a stuffed zero, a restart
// marker or the end marker. Noise fails most often within 512 bytes.
bool looksLikeScanData(const unsigned char* bytes, size_t count) {
    for (size_t k = 0; k + 1 < count;) {
        const void* hit = std::memchr(bytes + k, M::kPrefix, count - 1 - k);
        if (!hit)
            return true;
        const size_t at = size_t(static_cast<const unsigned char*>(hit) - bytes);
        const unsigned char next = bytes[at + 1];
        if (next != M::kStuffed && !M::isRestart(next) && next != M::kEoi)
            return false;
        k = at + 2;
    }
    return true;
}

} // namespace

CTwoPieceSearch::CTwoPieceSearch(CPieceReader::Reader reader, uint32_t sectorSize,
                                 const CFreeSpaceMap& map, CJpegValidator& validator,
                                 const std::atomic<bool>* cancel)
    : input(std::move(reader), sectorSize), sectorSize(sectorSize), map(map), validator(validator),
      cancel(cancel) {}

std::vector<CTwoPieceSearch::tagCut> CTwoPieceSearch::cutsOf(const tagCarvedFile& file,
                                                             uint64_t stop) {
    // The cluster boundaries inside the file up to stop; gaps first.
    std::vector<uint64_t> gaps, boundaries;
    uint64_t offset = 0;
    for (size_t p = 0; p < file.pieces.size() && offset < stop; ++p) {
        const tagFilePiece& piece = file.pieces[p];
        if (p > 0)
            gaps.push_back(offset);
        // The piece's sectors that begin a cluster.
        const uint64_t firstWhole = (piece.skip + sectorSize - 1) / sectorSize;
        for (uint64_t s = firstWhole; piece.skip + piece.length > s * sectorSize; ++s) {
            const uint64_t at = offset + s * sectorSize - piece.skip;
            if (at >= stop)
                break;
            if (at > 0 && map.beginsCluster(piece.sector + s))
                boundaries.push_back(at);
        }
        offset += piece.length;
    }
    std::vector<uint64_t> chosen;
    for (auto it = gaps.rbegin(); it != gaps.rend() && chosen.size() < kMaxCuts; ++it)
        chosen.push_back(*it);
    for (auto it = boundaries.rbegin(); it != boundaries.rend() && chosen.size() < kMaxCuts; ++it)
        if (std::find(chosen.begin(), chosen.end(), *it) == chosen.end())
            chosen.push_back(*it);
    std::vector<uint64_t> ascending = chosen;
    std::sort(ascending.begin(), ascending.end());

    // One walk through the file, kept at each chosen boundary where it is
    // inside entropy-coded data.
    std::vector<tagCut> cuts;
    if (ascending.empty())
        return cuts;
    const std::vector<tagFilePiece> prefix =
        CPieceReader::slice(file.pieces, 0, ascending.back(), sectorSize);
    input.start(prefix, ascending.back());
    CJpegWalker walker;
    size_t next = 0;
    uint64_t lastSector = 0;
    while (next < ascending.size() && walker.state() == CJpegWalker::State::Walking) {
        const unsigned char* data = nullptr;
        size_t count = 0;
        if (!input.next(data, count) || count == 0)
            break;
        const uint64_t chunkSector = input.lastSector();
        const uint32_t chunkSkip = input.lastSkip();
        size_t used = 0;
        while (used < count && next < ascending.size()) {
            const size_t n =
                size_t(std::min<uint64_t>(count - used, ascending[next] - walker.position()));
            walker.walk(data + used, n);
            used += n;
            if (walker.state() != CJpegWalker::State::Walking)
                break;
            lastSector = chunkSector + uint32_t((chunkSkip + used - 1) / sectorSize);
            if (walker.position() == ascending[next]) {
                if (walker.inEntropyData())
                    cuts.push_back({ascending[next], lastSector, walker});
                ++next;
            }
        }
    }
    // In the order chosen: gaps first, then the latest boundaries.
    std::vector<tagCut> ordered;
    for (uint64_t at : chosen)
        for (const tagCut& cut : cuts)
            if (cut.at == at)
                ordered.push_back(cut);
    // A boundary is the end of the first piece only when the cluster before
    // it looks like scan data: a cut inside the foreign data joins a
    // stretch of it to a continuation shifted to match, which libjpeg may
    // decode just as well.
    std::vector<tagCut> plausible;
    const uint64_t clusterSize = map.clusterBytes();
    std::vector<unsigned char> bytes;
    for (const tagCut& cut : ordered) {
        const uint64_t from = cut.at > clusterSize ? cut.at - clusterSize : 0;
        const std::vector<tagFilePiece> before =
            CPieceReader::slice(file.pieces, from, cut.at - from, sectorSize);
        input.start(before, cut.at - from);
        bytes.clear();
        const unsigned char* data = nullptr;
        size_t count = 0;
        while (input.next(data, count) && count > 0)
            bytes.insert(bytes.end(), data, data + count);
        if (bytes.size() == cut.at - from && looksLikeScanData(bytes.data(), bytes.size()))
            plausible.push_back(cut);
    }
    return plausible;
}

bool CTwoPieceSearch::complete(tagCarvedFile& file, uint64_t stop) {
    if (!file.reachedScan || budgetLeft == 0 || map.clusterBytes() == 0)
        return false;
    const std::vector<tagCut> cuts = cutsOf(file, std::min(stop, file.length));
    if (cuts.empty())
        return false;
    // One window for every cut: the free clusters after the lowest one.
    uint64_t lowest = cuts.front().sector, highest = lowest;
    for (const tagCut& cut : cuts) {
        lowest = std::min(lowest, cut.sector);
        highest = std::max(highest, cut.sector);
    }
    const uint64_t spread = std::min<uint64_t>((highest - lowest) * sectorSize, kWindowBytes);
    if (!readWindow(lowest, kWindowBytes + spread))
        return false;
    for (const tagCut& cut : cuts) {
        uint32_t decodesLeft = kMaxDecodesPerCut;
        if (cancelled() || budgetLeft == 0)
            return false;
        if (tryCut(file, cut, decodesLeft)) {
            ++completed;
            return true;
        }
    }
    return false;
}

bool CTwoPieceSearch::readWindow(uint64_t afterSector, uint64_t bytes) {
    following = map.freeAfter(afterSector, bytes);
    uint64_t total = 0;
    for (const tagFilePiece& piece : following)
        total += piece.length;
    window.resize(size_t(total));
    input.start(following, total);
    for (size_t filled = 0;;) {
        const unsigned char* data = nullptr;
        size_t count = 0;
        if (!input.next(data, count))
            return false;
        if (count == 0)
            return true;
        std::copy(data, data + count, window.begin() + long(filled));
        filled += count;
    }
}

uint64_t CTwoPieceSearch::windowOffsetAfter(uint64_t sector) const {
    uint64_t offset = 0;
    for (const tagFilePiece& piece : following) {
        const uint64_t sectors = piece.length / sectorSize;
        if (piece.sector > sector)
            return offset;
        if (piece.sector + sectors > sector) {
            // Inside this piece: the next cluster after the one holding sector.
            const uint64_t perCluster = map.clusterBytes() / sectorSize;
            return offset + ((sector - piece.sector) / perCluster + 1) * map.clusterBytes();
        }
        offset += piece.length;
    }
    return offset;
}

bool CTwoPieceSearch::tryCut(tagCarvedFile& file, const tagCut& cut, uint32_t& decodesLeft) {
    const uint64_t total = window.size();
    const uint64_t from = windowOffsetAfter(cut.sector);
    // The clusters whose walk reaches an end marker: the ones where a walk
    // began (the cluster after data that broke off) first, then the ones a
    // walk from an earlier cluster went through.
    struct tagJoin {
        uint64_t at, end, primaryEnd;
    };
    std::vector<tagJoin> joins, passedThrough;
    const uint64_t clusterSize = map.clusterBytes();
    tagWalkEnd memo;
    std::vector<bool> passable(size_t((total - from) / clusterSize) + 1, false);
    const uint64_t to = std::min(total, from + kWindowBytes);
    for (uint64_t at = from; at + clusterSize <= to; at += clusterSize) {
        if (cancelled())
            return false;
        const unsigned char* here = window.data() + at;
        // Another file's start is not the rest of this one.
        if (here[0] == M::kPrefix && here[1] == M::kSoi)
            continue;
        const size_t index = size_t((at - from) / clusterSize);
        const bool reused = memo.known && at < memo.end && passable[index];
        if (!reused) {
            // Walked a cluster at a time, noting the clusters it enters in
            // the state the cut left (their own walks end where this one
            // does).
            CJpegWalker walker = cut.walker;
            uint64_t pos = at;
            while (walker.state() == CJpegWalker::State::Walking && pos < to) {
                const size_t n = size_t(std::min<uint64_t>(clusterSize, to - pos));
                pos += walker.walk(window.data() + pos, n);
                if (pos < to && (pos - from) % clusterSize == 0)
                    passable[size_t((pos - from) / clusterSize)] = walker.sameScanState(cut.walker);
            }
            memo = {};
            if (walker.state() == CJpegWalker::State::Walking)
                continue; // goes on past the window
            memo.known = true;
            memo.complete = walker.state() == CJpegWalker::State::Complete;
            memo.end = pos;
            if (memo.complete) {
                memo.end = at + (walker.length() - cut.at);
                memo.primaryEnd = at + (walker.primaryLength() - cut.at);
            }
        }
        if (memo.complete)
            (reused ? passedThrough : joins).push_back({at, memo.end, memo.primaryEnd});
    }
    // In the order they lie: the first cluster of a photo's second piece
    // comes before the ones a walk from it went through.
    joins.insert(joins.end(), passedThrough.begin(), passedThrough.end());
    std::stable_sort(joins.begin(), joins.end(),
                     [](const tagJoin& a, const tagJoin& b) { return a.at < b.at; });

    for (const tagJoin& join : joins) {
        // So must the second piece's first cluster (up to the end marker).
        if (!looksLikeScanData(window.data() + join.at,
                               size_t(std::min(clusterSize, join.end - join.at))))
            continue;
        const uint64_t length = cut.at + (join.end - join.at);
        const uint64_t primary = cut.at + (join.primaryEnd - join.at);
        if (cancelled() || decodesLeft == 0 || budgetLeft < primary)
            return false;
        std::vector<tagFilePiece> pieces = CPieceReader::slice(file.pieces, 0, cut.at, sectorSize);
        for (const tagFilePiece& piece :
             CPieceReader::slice(following, join.at, join.end - join.at, sectorSize))
            CPieceReader::append(pieces, piece.sector, piece.skip, piece.length, sectorSize);
        --decodesLeft;
        ++decodes;
        budgetLeft -= primary;
        const CJpegValidator::Verdict verdict = validator.check(pieces, primary);
        if (verdict == CJpegValidator::Verdict::Decodes) {
            file.pieces = std::move(pieces);
            file.length = length;
            file.primaryLength = primary;
            file.complete = true;
            return true;
        }
        if (verdict == CJpegValidator::Verdict::Cancelled)
            return false;
    }
    return false;
}
