#pragma once

#include "scan/CPieceReader.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

// Decides whether a carved image decodes, with libjpeg: the image's bytes
// are read from the volume piece by piece and decoded to the end of the
// image. Every sign of corrupt data counts as a failure (libjpeg's
// warnings, which it would otherwise pass over and go on), as does an
// image whose end marker is not where the carving put it. The decoding is
// scaled down to one pixel per block, which still decodes every coefficient
// of the entropy-coded data but spares most of the inverse transform.
class CJpegValidator {
public:
    enum class Verdict {
        Decodes,    // decoded to its end marker without a fault
        Corrupt,    // the data stops decoding, or the end is not where it was carved
        Unreadable, // the volume could not be read
        TooLarge,   // decoding needs more memory than the limit (a huge progressive image)
        Cancelled,  // the scan was abandoned while decoding
    };
    // Reads sectors first..last inclusive into buffer.
    using Reader = std::function<bool(uint64_t first, uint64_t last, void* buffer)>;

    // What libjpeg may hold for one image (the coefficients of a
    // progressive image); larger images are judged TooLarge.
    static constexpr long kMemoryLimit = 64l << 20;

    CJpegValidator(Reader reader, uint32_t sectorSize, const std::atomic<bool>* cancel = nullptr);
    ~CJpegValidator();
    CJpegValidator(const CJpegValidator&) = delete;
    CJpegValidator& operator=(const CJpegValidator&) = delete;
    // Decodes the image of length bytes at the first byte of startSector.
    Verdict check(uint64_t startSector, uint64_t length);
    // Decodes the image made of the first length bytes of pieces; at full
    // scale (every coefficient shown) for a fair roughness().
    Verdict check(const std::vector<tagFilePiece>& pieces, uint64_t length, bool fullScale = false);
    // After a Corrupt verdict: how far libjpeg had read into the image when
    // it found the fault (the fault lies before).
    uint64_t stoppedAt() const { return faultAt; }
    // How rough the image decoded is: the largest mean step between
    // neighbouring rows of it. Data decoded from bytes that are not the
    // image's own makes blocks of noise and bands that jump, so of two
    // joins that decode alike, the right one is the smoother. After a
    // Corrupt verdict, of the rows decoded before the fault (rowsDecoded).
    double roughness() const { return worstStep; }
    uint32_t rowsDecoded() const { return rowsOut; }

private:
    // libjpeg's state for one image; it lives outside the stack frame that
    // libjpeg leaves by a long jump.
    struct tagDecodeState;
    static void fillSource(tagDecodeState& state);
    Verdict verdictAfterError();

    CPieceReader input;
    const std::atomic<bool>* cancel;
    uint64_t faultAt = 0;
    std::vector<unsigned char> row;
    std::vector<unsigned char> above;
    double worstStep = 0;
    uint32_t rowsOut = 0;
    std::unique_ptr<tagDecodeState> state;
};
