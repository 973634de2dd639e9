#pragma once

#include "scan/CFreeSpaceMap.h"
#include "scan/CJpegValidator.h"
#include "scan/CJpegWalker.h"
#include "scan/CPieceReader.h"
#include "scan/CThoroughTracker.h"

#include <atomic>
#include <cstdint>
#include <vector>

// Completes a photo whose data stops fitting (its structure breaks, or it
// stops decoding) a little after a cluster boundary: the photo is taken to
// end its first piece at that boundary, and its second piece to begin at
// one of the free clusters that follow within kWindowBytes. Each such
// cluster is tried by walking the structure on from it (which passes over
// most clusters within a few hundred bytes, and checks the order of
// restart markers); the joins that reach an end marker are decoded, and the
// first that decodes is the photo. The work is bounded per photo and per
// scan.
class CTwoPieceSearch {
public:
    static constexpr uint64_t kWindowBytes = uint64_t(32) << 20;
    // Cluster boundaries tried as the end of the first piece, going back
    // from where the data stopped fitting (the boundaries where the
    // stream jumped over used clusters are tried first).
    static constexpr size_t kMaxCuts = 4;
    // Joins decoded at most for one boundary tried (so kMaxCuts times as
    // many for one photo), and bytes decoded for joins in one scan.
    static constexpr uint32_t kMaxDecodesPerCut = 4;
    static constexpr uint64_t kScanDecodeBudget = uint64_t(4) << 30;

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
    std::vector<tagCut> cutsOf(const tagCarvedFile& file, uint64_t stop);
    // Reads the free clusters after afterSector, up to bytes, into window.
    bool readWindow(uint64_t afterSector, uint64_t bytes);
    // The window offset of the first cluster after the one holding sector.
    uint64_t windowOffsetAfter(uint64_t sector) const;
    bool tryCut(tagCarvedFile& file, const tagCut& cut, uint32_t& decodesLeft);
    bool cancelled() const { return cancel && cancel->load(std::memory_order_relaxed); }

    CPieceReader input;
    uint32_t sectorSize;
    const CFreeSpaceMap& map;
    CJpegValidator& validator;
    const std::atomic<bool>* cancel;
    std::vector<tagFilePiece> following; // where the window lies
    std::vector<unsigned char> window;
    uint64_t budgetLeft = kScanDecodeBudget;
    uint32_t decodes = 0;
    uint32_t completed = 0;
};
