#pragma once

#include "scan/CFreeSpaceMap.h"
#include "scan/CJpegValidator.h"
#include "scan/CJpegWalker.h"
#include "scan/CPieceReader.h"
#include "scan/CThoroughTracker.h"

#include <atomic>
#include <cstdint>
#include <optional>
#include <vector>

// Completes a photo whose data stops fitting (its structure breaks, or it
// stops decoding) a little after a cluster boundary: the photo is taken to
// end its first piece at that boundary, and its next piece to begin at one
// of the free clusters that follow within kWindowBytes (wrapping round to
// the volume's start, as allocation does). Each such cluster is tried by
// walking the structure on from it (which passes over most clusters within
// a few hundred bytes, and checks the order of restart markers); the joins
// that reach an end marker are decoded, and the first that decodes, and is
// clearly smoother than the same joins a cluster or two early or late, is
// the photo. A join that decodes on a while and stops decoding again may be
// a middle piece: the search goes on from there, for up to kMaxPieces
// pieces. The work is bounded per photo and per scan.
class CTwoPieceSearch {
public:
    static constexpr uint64_t kWindowBytes = uint64_t(32) << 20;
    // Cluster boundaries tried as the end of the first piece, going back
    // from where the data stopped fitting (the boundaries where the
    // stream jumped over used clusters are tried first).
    static constexpr size_t kMaxCuts = 4;
    // Joins that reach an end marker decoded at most for one boundary
    // tried, and bytes decoded for joins in one scan.
    static constexpr uint32_t kMaxDecodesPerCut = 4;
    static constexpr uint64_t kScanDecodeBudget = uint64_t(4) << 30;
    // A join that decodes is weighed against the joins shifted by up to
    // kMaxShift clusters either way (decoded at full scale); it is taken
    // when its roughness is at most kClearlySmoother times the next best.
    static constexpr uint32_t kMaxShift = 2;
    static constexpr double kClearlySmoother = 0.9;
    // A photo is searched in up to kMaxPieces pieces: a join that decodes
    // on for kMinMiddleBytes (and a cluster) or more but stops decoding
    // again is searched on from there, with at most kMaxDecodesPerPhoto
    // decodes for the photo in all.
    static constexpr uint32_t kMaxPieces = 3;
    static constexpr uint64_t kMinMiddleBytes = 8192;
    // Joins decoded at most for one boundary as a middle piece.
    static constexpr uint32_t kMaxMiddlesPerCut = 1;
    static constexpr uint32_t kMaxDecodesPerPhoto = 64;
    // Windows searched at most for one photo (one for each piece looked
    // for, and for each middle piece given up).
    static constexpr uint32_t kMaxSearchesPerPhoto = 2;

    CTwoPieceSearch(CPieceReader::Reader reader, uint32_t sectorSize, const CFreeSpaceMap& map,
                    CJpegValidator& validator, const std::atomic<bool>* cancel);

    // file stops fitting at byte stop. True when a join decodes: file then
    // holds the photo (complete, with its pieces and lengths).
    bool complete(tagCarvedFile& file, uint64_t stop);

    // Joins decoded, and photos completed, so far.
    uint32_t joinsDecoded() const { return decodes; }
    uint32_t photosCompleted() const { return completed; }

private:
    struct tagCut {
        uint64_t at;        // file offset of the boundary
        uint64_t sector;    // the sector of the byte before it
        CJpegWalker walker; // the walk up to it
    };
    // The boundaries after byte after and before stop where the file's
    // first piece may end.
    std::vector<tagCut> cutsOf(const tagCarvedFile& file, uint64_t stop, uint64_t after);
    // Reads the free clusters after afterSector, up to bytes, into window.
    bool readWindow(uint64_t afterSector, uint64_t bytes);
    // The window offset of the first cluster after the one holding sector.
    uint64_t windowOffsetAfter(uint64_t sector) const;
    // A join of the file's first cutAt bytes to a piece that decodes on
    // but breaks off again: the file's pieces so joined, up to length.
    struct tagPartialJoin {
        std::vector<tagFilePiece> pieces;
        uint64_t length;
        uint64_t cutAt;
        uint64_t fault;       // where it stops decoding
        double roughness = 0; // of the rows decoded before (none: 0)
    };
    // Tries the joins at cut that reach an end marker; true (and file
    // completed) when one decodes. Collects the joins that decode on a
    // while and stop decoding again into partials, when given.
    bool tryCut(tagCarvedFile& file, const tagCut& cut, uint32_t& decodesLeft,
                std::vector<tagPartialJoin>* partials);
    // Searches the next piece of file, which stops decoding at stop and is
    // in pieceCount pieces so far, the last one beginning at byte after.
    bool extend(tagCarvedFile& file, uint64_t stop, uint64_t after, uint32_t pieceCount,
                uint32_t& decodesLeft);
    struct tagDecoded {
        bool decodes;  // to the end marker at length
        uint64_t upTo; // where it stops decoding (length when it decodes)
    };
    // Decodes the first length bytes of pieces; none when cancelled,
    // unreadable or out of budget.
    std::optional<tagDecoded> decode(const std::vector<tagFilePiece>& pieces, uint64_t length);
    // True when the window's cluster at windowAt is one of the file's
    // first cutAt bytes.
    bool holdsPartOf(const tagCarvedFile& file, uint64_t cutAt, uint64_t windowAt) const;
    // The first cutAt bytes of file joined to the window from joinAt to joinEnd.
    std::vector<tagFilePiece> joined(const tagCarvedFile& file, uint64_t cutAt, uint64_t joinAt,
                                     uint64_t joinEnd) const;
    // pieces (length bytes) with the join at byte at moved by bytes: the
    // piece before it ends later (going on into the free clusters after it)
    // or earlier, the one after it begins as much later or earlier (in the
    // free clusters before it). None where that cannot be.
    std::optional<std::vector<tagFilePiece>> shifted(const std::vector<tagFilePiece>& pieces,
                                                     uint64_t length, uint64_t at,
                                                     int64_t by) const;
    struct tagShifted {
        std::vector<tagFilePiece> pieces;
        uint64_t joinAt;  // where the join lies now
        uint64_t upTo;    // where it stops decoding
        double roughness; // of what was decoded
    };
    // The join at byte at of pieces (length bytes) and the ones shifted by
    // up to kMaxShift clusters either way, decoded at full scale up to
    // decoded: of those that decode (to the end marker when whole; on for
    // a while past the join for a middle piece), the smoothest, or none
    // when it is not clearly the smoothest. rowsSeen: whether rows came
    // out to weigh them by.
    std::optional<tagShifted> smoothestShift(const std::vector<tagFilePiece>& pieces,
                                             uint64_t length, uint64_t decoded, uint64_t at,
                                             bool whole, bool& rowsSeen);
    // A middle piece weighed so by the rows decoded before it stops
    // decoding; itself when no rows come out before the end (a progressive
    // image).
    std::optional<tagPartialJoin> settledMiddle(const tagPartialJoin& partial);
    // Each of the joins at joinsAt of a photo that decodes weighed so: the
    // pieces with the smoothest of each, or none.
    std::optional<std::vector<tagFilePiece>> settled(std::vector<tagFilePiece> pieces,
                                                     uint64_t length, uint64_t primary,
                                                     const std::vector<uint64_t>& joinsAt);
    bool cancelled() const { return cancel && cancel->load(std::memory_order_relaxed); }

    CPieceReader input;
    uint32_t sectorSize;
    const CFreeSpaceMap& map;
    CJpegValidator& validator;
    const std::atomic<bool>* cancel;
    std::vector<tagFilePiece> following; // where the window lies
    std::vector<unsigned char> window;
    std::vector<uint64_t> joinPoints; // the joins of the pieces searched on
    uint32_t searchesLeft = 0;        // for the photo being searched
    uint64_t budgetLeft = kScanDecodeBudget;
    uint32_t decodes = 0;
    uint32_t completed = 0;
};
