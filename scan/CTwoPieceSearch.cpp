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
                                                             uint64_t stop, uint64_t after) {
    // The cluster boundaries inside the file up to stop; gaps first.
    std::vector<uint64_t> gaps, boundaries;
    uint64_t offset = 0;
    for (size_t p = 0; p < file.pieces.size() && offset < stop; ++p) {
        const tagFilePiece& piece = file.pieces[p];
        if (p > 0 && offset > after)
            gaps.push_back(offset);
        // The piece's sectors that begin a cluster.
        const uint64_t firstWhole = (piece.skip + sectorSize - 1) / sectorSize;
        for (uint64_t s = firstWhole; piece.skip + piece.length > s * sectorSize; ++s) {
            const uint64_t at = offset + s * sectorSize - piece.skip;
            if (at >= stop)
                break;
            if (at > after && map.beginsCluster(piece.sector + s))
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
    stop = std::min(stop, file.length);
    if (!file.complete) {
        // The structure walk may go on well past the end of the first
        // piece (foreign bytes can pass for markers between scans); the
        // data usually stops decoding much sooner.
        const std::optional<tagDecoded> decoded = decode(file.pieces, file.length);
        if (!decoded)
            return false;
        stop = std::min(stop, decoded->upTo);
    }
    uint32_t decodesLeft = kMaxDecodesPerPhoto;
    searchesLeft = kMaxSearchesPerPhoto;
    if (!extend(file, stop, 0, 1, decodesLeft))
        return false;
    ++completed;
    return true;
}

std::optional<CTwoPieceSearch::tagDecoded>
CTwoPieceSearch::decode(const std::vector<tagFilePiece>& pieces, uint64_t length) {
    if (cancelled() || budgetLeft < length)
        return std::nullopt;
    budgetLeft -= length;
    ++decodes;
    const CJpegValidator::Verdict verdict = validator.check(pieces, length);
    if (verdict == CJpegValidator::Verdict::Cancelled ||
        verdict == CJpegValidator::Verdict::Unreadable)
        return std::nullopt;
    const bool whole = verdict != CJpegValidator::Verdict::Corrupt;
    return tagDecoded{verdict == CJpegValidator::Verdict::Decodes,
                      whole ? length : validator.stoppedAt()};
}

bool CTwoPieceSearch::extend(tagCarvedFile& file, uint64_t stop, uint64_t after,
                             uint32_t pieceCount, uint32_t& decodesLeft) {
    if (searchesLeft == 0)
        return false;
    --searchesLeft;
    const std::vector<tagCut> cuts = cutsOf(file, stop, after);
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
    // Joins that end the photo first, for every cut; the ones that only
    // go on decoding are kept (as pieces: the window is read again
    // further on) and tried afterwards, each searched on from where it
    // stops decoding.
    std::vector<tagPartialJoin> partials;
    for (const tagCut& cut : cuts) {
        if (cancelled() || budgetLeft == 0)
            return false;
        const bool done =
            tryCut(file, cut, decodesLeft, pieceCount < kMaxPieces ? &partials : nullptr);
        if (done)
            return true;
    }
    // The smoothest first, where rows come out before the fault (a
    // sequential image: a join a cluster early or late, with a cluster of
    // foreign data or without one of its own, decodes as far but shows a
    // band); otherwise the ones that decode furthest first.
    for (tagPartialJoin& partial : partials) {
        if (cancelled() || budgetLeft < partial.length)
            return false;
        budgetLeft -= partial.length;
        ++decodes;
        validator.check(partial.pieces, partial.length, true);
        partial.roughness = validator.rowsDecoded() > 0 ? validator.roughness() : 0;
    }
    std::stable_sort(partials.begin(), partials.end(),
                     [](const tagPartialJoin& a, const tagPartialJoin& b) {
                         if (a.roughness != b.roughness)
                             return a.roughness < b.roughness;
                         return a.fault - a.cutAt > b.fault - b.cutAt;
                     });
    for (const tagPartialJoin& partial : partials) {
        if (decodesLeft == 0 || cancelled())
            return false;
        // It must decode further than the file did.
        if (partial.fault <= stop)
            continue;
        // A join a cluster early or late decodes as far: the smoothest of
        // them is searched on.
        const std::optional<tagPartialJoin> middle = settledMiddle(partial);
        if (!middle)
            continue;
        tagCarvedFile longer = file;
        longer.pieces = middle->pieces;
        longer.length = middle->length;
        longer.complete = false;
        joinPoints.push_back(middle->cutAt);
        const bool done = extend(longer, middle->fault, middle->cutAt, pieceCount + 1, decodesLeft);
        joinPoints.pop_back();
        if (done) {
            file = std::move(longer);
            return true;
        }
    }
    return false;
}

bool CTwoPieceSearch::readWindow(uint64_t afterSector, uint64_t bytes) {
    // The free clusters after the sector, and then (as allocation wraps
    // round) the ones from the volume's start.
    following = map.freeAfter(afterSector, bytes);
    uint64_t total = 0;
    for (const tagFilePiece& piece : following)
        total += piece.length;
    if (total < bytes)
        for (const tagFilePiece& piece : map.freeBefore(afterSector, bytes - total)) {
            following.push_back(piece);
            total += piece.length;
        }
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
    uint64_t previous = 0;
    for (const tagFilePiece& piece : following) {
        const uint64_t sectors = piece.length / sectorSize;
        // After the sector, or where the window wraps round to the start.
        if (piece.sector > sector || piece.sector < previous)
            return offset;
        if (piece.sector + sectors > sector) {
            // Inside this piece: the next cluster after the one holding sector.
            const uint64_t perCluster = map.clusterBytes() / sectorSize;
            return offset + ((sector - piece.sector) / perCluster + 1) * map.clusterBytes();
        }
        previous = piece.sector;
        offset += piece.length;
    }
    return offset;
}

bool CTwoPieceSearch::holdsPartOf(const tagCarvedFile& file, uint64_t cutAt,
                                  uint64_t windowAt) const {
    const std::vector<tagFilePiece> at =
        CPieceReader::slice(following, windowAt, map.clusterBytes(), sectorSize);
    if (at.empty())
        return false;
    const uint64_t sector = at.front().sector;
    for (const tagFilePiece& piece : CPieceReader::slice(file.pieces, 0, cutAt, sectorSize))
        if (sector >= piece.sector &&
            (sector - piece.sector) * sectorSize < piece.skip + piece.length)
            return true;
    return false;
}

bool CTwoPieceSearch::tryCut(tagCarvedFile& file, const tagCut& cut, uint32_t& decodesLeft,
                             std::vector<tagPartialJoin>* partials) {
    const uint64_t total = window.size();
    const uint64_t from = windowOffsetAfter(cut.sector);
    // The clusters whose walk reaches an end marker, or (when partials
    // are asked for) goes on as far as a middle piece must decode.
    struct tagJoin {
        uint64_t at, end, primaryEnd;
        bool complete; // reaches an end marker
        int rank = 0;  // the order tried in
    };
    std::vector<tagJoin> joins;
    const uint64_t clusterSize = map.clusterBytes();
    // A middle piece decodes on for this much at least (so it walks on as far).
    const uint64_t leastMiddle = std::max<uint64_t>(clusterSize, kMinMiddleBytes);
    tagWalkEnd memo;
    std::vector<bool> passable(size_t((total - from) / clusterSize) + 1, false);
    const uint64_t to = std::min(total, from + kWindowBytes);
    for (uint64_t at = from; at + clusterSize <= to; at += clusterSize) {
        if (cancelled())
            return false;
        const unsigned char* here = window.data() + at;
        // Another file's start is not the rest of this one, nor is the
        // rest of the stream the file went on into, nor a cluster of one
        // byte over and over (zeros decode as image data for ever).
        if ((here[0] == M::kPrefix && here[1] == M::kSoi) || at == from ||
            std::all_of(here, here + clusterSize, [here](unsigned char b) { return b == here[0]; }))
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
        if (memo.complete || (partials && memo.end >= at + leastMiddle))
            joins.push_back({at, memo.end, memo.primaryEnd, memo.complete});
    }
    // Joins that reach an end marker first, in the order they lie (the
    // first cluster of the piece that ends the photo comes before the ones
    // a walk from it went through); then the others, the first cluster of
    // a free run first (a piece written into a hole begins one).
    std::vector<uint64_t> runStarts;
    for (uint64_t offset = 0; const tagFilePiece& piece : following) {
        runStarts.push_back(offset);
        offset += piece.length;
    }
    for (tagJoin& join : joins) {
        const bool runStart = std::binary_search(runStarts.begin(), runStarts.end(), join.at);
        join.rank = join.complete ? 0 : runStart ? 1 : 2;
    }
    std::stable_sort(joins.begin(), joins.end(), [](const tagJoin& a, const tagJoin& b) {
        if (a.rank != b.rank)
            return a.rank < b.rank;
        // Of the others, the longest walks first: a piece walks on to its end.
        return !a.complete && a.end - a.at > b.end - b.at;
    });
    uint32_t endingsLeft = kMaxDecodesPerCut;
    uint32_t middlesLeft = partials ? kMaxMiddlesPerCut : 0;

    for (const tagJoin& join : joins) {
        uint32_t& left = join.complete ? endingsLeft : middlesLeft;
        if (endingsLeft == 0 && middlesLeft == 0)
            break;
        // So must the next piece's first cluster (up to the end marker).
        if (left == 0 ||
            !looksLikeScanData(window.data() + join.at,
                               size_t(std::min(clusterSize, join.end - join.at))) ||
            holdsPartOf(file, cut.at, join.at))
            continue;
        const uint64_t length = cut.at + (join.end - join.at);
        const uint64_t primary = join.complete ? cut.at + (join.primaryEnd - join.at) : length;
        if (cancelled() || decodesLeft == 0)
            return false;
        --left;
        --decodesLeft;
        const std::vector<tagFilePiece> pieces = joined(file, cut.at, join.at, join.end);
        const std::optional<tagDecoded> decoded = decode(pieces, primary);
        if (!decoded)
            return false;
        if (join.complete && decoded->decodes) {
            // Each piece may end a cluster early or late, the next beginning
            // as much early or late: the shifted joins keep the length and
            // may decode as well.
            std::vector<uint64_t> joinsAt = joinPoints;
            joinsAt.push_back(cut.at);
            std::optional<std::vector<tagFilePiece>> best =
                settled(pieces, length, primary, joinsAt);
            if (!best)
                return false;
            file.pieces = std::move(*best);
            file.length = length;
            file.primaryLength = primary;
            file.complete = true;
            return true;
        }
        // A join that decodes on for a while, and stops decoding well
        // before any end marker it reached, may be a middle piece: searched
        // on from where it stops decoding.
        if (partials && decoded->upTo >= cut.at + leastMiddle &&
            (!join.complete || decoded->upTo + leastMiddle <= primary))
            partials->push_back({pieces, length, cut.at, decoded->upTo});
    }
    return false;
}

std::vector<tagFilePiece> CTwoPieceSearch::joined(const tagCarvedFile& file, uint64_t cutAt,
                                                  uint64_t joinAt, uint64_t joinEnd) const {
    std::vector<tagFilePiece> pieces = CPieceReader::slice(file.pieces, 0, cutAt, sectorSize);
    for (const tagFilePiece& piece :
         CPieceReader::slice(following, joinAt, joinEnd - joinAt, sectorSize))
        CPieceReader::append(pieces, piece.sector, piece.skip, piece.length, sectorSize);
    return pieces;
}

std::optional<std::vector<tagFilePiece>>
CTwoPieceSearch::shifted(const std::vector<tagFilePiece>& pieces, uint64_t length, uint64_t at,
                         int64_t by) const {
    const uint64_t moved = uint64_t(by < 0 ? -by : by);
    if (by == 0)
        return pieces;
    if (moved >= at || at + moved >= length)
        return std::nullopt;
    // The join lies at a cluster boundary of the file.
    const std::vector<tagFilePiece> after = CPieceReader::slice(pieces, at, 1, sectorSize);
    if (after.empty() || after.front().skip != 0 || !map.beginsCluster(after.front().sector))
        return std::nullopt;
    std::vector<tagFilePiece> result;
    std::vector<tagFilePiece> extra;
    if (by > 0) {
        // The first piece goes on into the free clusters after its end; the
        // second begins later.
        const std::vector<tagFilePiece> last = CPieceReader::slice(pieces, at - 1, 1, sectorSize);
        extra = map.freeAfter(last.front().sector, moved);
        result = CPieceReader::slice(pieces, 0, at, sectorSize);
    } else {
        // The first piece ends earlier; the second begins in the free
        // clusters before it.
        extra = map.freeEndingBefore(after.front().sector, moved);
        result = CPieceReader::slice(pieces, 0, at - moved, sectorSize);
    }
    uint64_t extraBytes = 0;
    for (const tagFilePiece& piece : extra)
        extraBytes += piece.length;
    if (extraBytes != moved)
        return std::nullopt;
    const uint64_t resume = by > 0 ? at + moved : at;
    for (const tagFilePiece& piece : extra)
        CPieceReader::append(result, piece.sector, piece.skip, piece.length, sectorSize);
    for (const tagFilePiece& piece :
         CPieceReader::slice(pieces, resume, length - resume, sectorSize))
        CPieceReader::append(result, piece.sector, piece.skip, piece.length, sectorSize);
    return result;
}

std::optional<CTwoPieceSearch::tagShifted>
CTwoPieceSearch::smoothestShift(const std::vector<tagFilePiece>& pieces, uint64_t length,
                                uint64_t decoded, uint64_t at, bool whole, bool& rowsSeen) {
    const int64_t cluster = int64_t(map.clusterBytes());
    std::vector<tagShifted> smooth;
    rowsSeen = false;
    for (int64_t k = -int64_t(kMaxShift); k <= int64_t(kMaxShift); ++k) {
        std::optional<std::vector<tagFilePiece>> variant = shifted(pieces, length, at, k * cluster);
        if (!variant)
            continue;
        if (cancelled() || budgetLeft < decoded)
            return std::nullopt;
        budgetLeft -= decoded;
        ++decodes;
        const CJpegValidator::Verdict verdict = validator.check(*variant, decoded, true);
        // Rows come out while a sequential image decodes (a progressive one
        // shows none before its end).
        rowsSeen = rowsSeen || validator.rowsDecoded() > 0;
        const uint64_t joinAt = uint64_t(int64_t(at) + k * cluster);
        const uint64_t least = joinAt + std::max<uint64_t>(map.clusterBytes(), kMinMiddleBytes);
        const bool fits =
            whole ? verdict == CJpegValidator::Verdict::Decodes
                  : verdict == CJpegValidator::Verdict::Corrupt && validator.stoppedAt() >= least;
        if (fits)
            smooth.push_back(
                {std::move(*variant), joinAt, validator.stoppedAt(), validator.roughness()});
    }
    if (smooth.empty())
        return std::nullopt;
    std::sort(smooth.begin(), smooth.end(),
              [](const tagShifted& a, const tagShifted& b) { return a.roughness < b.roughness; });
    // Taken only when clearly the smoothest.
    if (smooth.size() > 1 && smooth[0].roughness > smooth[1].roughness * kClearlySmoother)
        return std::nullopt;
    return std::move(smooth.front());
}

std::optional<CTwoPieceSearch::tagPartialJoin>
CTwoPieceSearch::settledMiddle(const tagPartialJoin& partial) {
    bool rowsSeen = false;
    std::optional<tagShifted> best = smoothestShift(partial.pieces, partial.length, partial.length,
                                                    partial.cutAt, false, rowsSeen);
    if (!rowsSeen)
        return partial; // nothing to weigh them by
    if (!best)
        return std::nullopt;
    return tagPartialJoin{std::move(best->pieces), partial.length, best->joinAt, best->upTo};
}

std::optional<std::vector<tagFilePiece>>
CTwoPieceSearch::settled(std::vector<tagFilePiece> pieces, uint64_t length, uint64_t primary,
                         const std::vector<uint64_t>& joinsAt) {
    for (const uint64_t at : joinsAt) {
        bool rowsSeen = false;
        std::optional<tagShifted> best =
            smoothestShift(pieces, length, primary, at, true, rowsSeen);
        if (!best)
            return std::nullopt;
        pieces = std::move(best->pieces);
    }
    return pieces;
}
