// The pieces of the thorough mode: the wide start check, the structure
// walk to the exact end, and validation by decoding.
#include "CJpegMaker.h"
#include "ThoroughTestCard.h"
#include "scan/CJpegStartCheck.h"
#include "scan/CJpegValidator.h"
#include "scan/CJpegWalker.h"

#include <gtest/gtest.h>

#include <cstring>

using Kind = CJpegMaker::Kind;
using Bytes = std::vector<unsigned char>;

namespace {

// A sector holding the first bytes of data.
Bytes sectorOf(const Bytes& data) {
    Bytes sector(512, 0);
    std::copy(data.begin(), data.begin() + long(std::min<size_t>(512, data.size())),
              sector.begin());
    return sector;
}

Bytes withByte(Bytes b, size_t at, unsigned char value) {
    b[at] = value;
    return b;
}

// Walks data in pieces of the given size; returns the walker.
CJpegWalker walkInPieces(const Bytes& data, size_t piece) {
    CJpegWalker walker;
    for (size_t at = 0; at < data.size() && walker.state() == CJpegWalker::State::Walking;
         at += piece)
        walker.walk(data.data() + at, std::min(piece, data.size() - at));
    return walker;
}

Bytes progressiveWithRestarts() {
    CJpegMaker::tagStyle style;
    style.progressive = true;
    style.restartRows = 1;
    return CJpegMaker::make(Kind::Jfif, 96, 64, 3, 85, style);
}

} // namespace

TEST(JpegStartCheck, TakesEveryFirstSegmentAJpegMayBeginWithWhenWellFormed) {
    const Bytes jfif = CJpegMaker::make(Kind::Jfif, 32, 32, 1);
    const Bytes dqt = CJpegMaker::make(Kind::Dqt, 32, 32, 1);
    Bytes com = {0xFF, 0xD8, 0xFF, 0xFE, 0x00, 0x05, 'h', 'i', '!'};
    com.insert(com.end(), dqt.begin() + 2, dqt.end());
    // DHT first: a well-formed table of one code.
    Bytes dht = {0xFF, 0xD8, 0xFF, 0xC4, 0x00, 0x14, 0x00, 1};
    dht.resize(dht.size() + 15, 0);
    dht.push_back(0x00);
    dht.insert(dht.end(), dqt.begin() + 2, dqt.end());
    struct Case {
        const char* what;
        Bytes bytes;
        bool start;
    } cases[] = {
        {"JFIF", jfif, true},
        {"Exif", CJpegMaker::make(Kind::Exif, 32, 32, 1), true},
        {"XMP", CJpegMaker::make(Kind::Xmp, 32, 32, 1), true},
        {"Adobe", CJpegMaker::make(Kind::Adobe, 32, 32, 1), true},
        {"DQT", dqt, true},
        {"COM", com, true},
        {"DHT", dht, true},
        {"progressive, scan header in the first sector", progressiveWithRestarts(), true},
        {"APP0 without an identifier", withByte(jfif, 6, 0x01), false},
        {"APP0 identifier not terminated", withByte(withByte(jfif, 10, 'X'), 11, 'Y'), false},
        {"segment length 1", withByte(withByte(jfif, 4, 0), 5, 1), false},
        {"quantisation table id 7", withByte(dqt, 4 + 2, 0x07), false},
        {"quantisation table length off by one", withByte(dqt, 5, 0x44), false},
        {"second segment without its FF", withByte(jfif, 20, 0x00), false},
        {"end marker first", {0xFF, 0xD8, 0xFF, 0xD9, 0, 0, 0, 0}, false},
        {"scan first", {0xFF, 0xD8, 0xFF, 0xDA, 0, 8, 1, 1}, false},
        {"restart marker first", {0xFF, 0xD8, 0xFF, 0xD0, 0, 8, 1, 1}, false},
        {"no start-of-image", withByte(jfif, 1, 0xD9), false},
    };
    for (const auto& c : cases) {
        const Bytes sector = sectorOf(c.bytes);
        EXPECT_EQ(CJpegStartCheck::isStart(sector.data(), 512), c.start) << c.what;
    }
}

TEST(JpegWalker, EndsAtTheExactEndMarkerInPiecesOfAnySize) {
    const Bytes mpf = makeMpfCameraFile(4);
    struct Case {
        const char* what;
        Bytes file;
        size_t primary;
    } cases[] = {
        {"baseline", CJpegMaker::make(Kind::Exif, 80, 60, 1), 0},
        {"progressive with restart markers", progressiveWithRestarts(), 0},
        {"thumbnail inside", makePhotoWithThumbnail(2, 700), 0},
        {"MPF file", mpf, 0},
    };
    for (auto& c : cases) {
        Bytes onDisk = c.file;
        onDisk.insert(onDisk.end(), 300, 0x5A); // whatever follows
        for (size_t piece : {size_t(1), size_t(7), size_t(512), onDisk.size()}) {
            const CJpegWalker w = walkInPieces(onDisk, piece);
            ASSERT_EQ(w.state(), CJpegWalker::State::Complete) << c.what << ", piece " << piece;
            EXPECT_EQ(w.length(), c.file.size()) << c.what << ", piece " << piece;
        }
    }
    // The MPF file's primary image ends where its preview begins.
    const CJpegWalker w = walkInPieces(mpf, 512);
    EXPECT_EQ(w.primaryLength() % 512, 0u);
    EXPECT_LT(w.primaryLength(), w.length());
    EXPECT_EQ(mpf[w.primaryLength()], 0xFF);
    EXPECT_EQ(mpf[w.primaryLength() + 1], 0xD8);
}

TEST(JpegWalker, BreaksWhereTheStructureStops) {
    const Bytes photo = CJpegMaker::make(Kind::Jfif, 80, 60, 5);
    const size_t middle = photo.size() / 2;
    Bytes overwritten = photo; // a new start in the middle of the data
    const Bytes other = CJpegMaker::make(Kind::Jfif, 40, 30, 6);
    std::copy(other.begin(), other.end(), overwritten.begin() + long(middle));
    Bytes headerOnly(photo.begin(), photo.begin() + 200); // zeros after the header
    headerOnly.resize(2000, 0);
    const Bytes mpf = makeMpfCameraFile(4);
    Bytes brokenTail = mpf; // the preview the index promises is not there
    std::fill(brokenTail.end() - 100, brokenTail.end(), 0x00);
    {
        const CJpegWalker w = walkInPieces(overwritten, 64);
        ASSERT_EQ(w.state(), CJpegWalker::State::Broken);
        EXPECT_EQ(w.breakPosition(), middle);
    }
    {
        const CJpegWalker w = walkInPieces(headerOnly, 64);
        ASSERT_EQ(w.state(), CJpegWalker::State::Broken);
        EXPECT_FALSE(w.reachedScan());
    }
    {
        // The file ends with the primary image, which is complete.
        const CJpegWalker w = walkInPieces(brokenTail, 64);
        ASSERT_EQ(w.state(), CJpegWalker::State::Complete);
        EXPECT_EQ(w.length(), w.primaryLength());
        EXPECT_EQ(w.length() % 512, 0u);
    }
}

TEST(JpegValidator, OnlyImagesThatDecodeToTheirEndPass) {
    const Bytes photo = CJpegMaker::make(Kind::Exif, 160, 120, 7);
    Bytes flipped = photo; // corrupt entropy-coded data in the middle
    for (size_t k = photo.size() / 2; k < photo.size() / 2 + 40; ++k)
        flipped[k] = flipped[k] == 0xFF ? 0xFF : uint8_t(flipped[k] ^ 0x5A);
    Bytes zeroed = photo; // a stretch of the data zeroed
    std::fill(zeroed.begin() + long(photo.size() / 2),
              zeroed.begin() + long(photo.size() / 2 + 600), 0);
    Bytes cut(photo.begin(), photo.end() - 300); // the end marker written early
    cut.push_back(0xFF);
    cut.push_back(0xD9);
    struct Case {
        const char* what;
        Bytes file;
        CJpegValidator::Verdict verdict;
    } cases[] = {
        {"intact", photo, CJpegValidator::Verdict::Decodes},
        {"progressive with restarts", progressiveWithRestarts(), CJpegValidator::Verdict::Decodes},
        {"MPF primary", makeMpfCameraFile(8), CJpegValidator::Verdict::Decodes},
        {"bits flipped", flipped, CJpegValidator::Verdict::Corrupt},
        {"stretch zeroed", zeroed, CJpegValidator::Verdict::Corrupt},
        {"data cut short", cut, CJpegValidator::Verdict::Corrupt},
    };
    for (const auto& c : cases) {
        Bytes disk = c.file;
        disk.resize((disk.size() + 511) / 512 * 512 + 512, 0x42);
        auto reader = [&disk](uint32_t first, uint32_t last, void* buffer) {
            if (size_t(last + 1) * 512 > disk.size())
                return false;
            std::memcpy(buffer, disk.data() + size_t(first) * 512, size_t(last - first + 1) * 512);
            return true;
        };
        CJpegValidator validator(reader, 512);
        CJpegWalker walker;
        walker.walk(c.file.data(), c.file.size());
        const uint64_t length =
            walker.state() == CJpegWalker::State::Complete ? walker.primaryLength() : c.file.size();
        EXPECT_EQ(validator.check(0, length), c.verdict) << c.what;
    }
}
