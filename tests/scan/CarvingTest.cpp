// The JPEG carving rules: start signatures, the header walk, the end search
// and the candidate tracker's five endings.
#include "scan/CCandidateTracker.h"
#include "scan/CJPGFile.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <vector>

namespace {

constexpr uint32_t kSector = 512;

// n sectors back to back, plus the four spare bytes the walk may read.
struct Sectors {
    explicit Sectors(uint32_t n, unsigned char fill = 0) : bytes(n * kSector + 4, 0) {
        std::fill(bytes.begin(), bytes.begin() + n * kSector, fill);
    }
    unsigned char* at(uint32_t k) { return &bytes[k * kSector]; }
    void set(uint32_t offset, std::initializer_list<int> values) {
        for (int v : values)
            bytes[offset++] = static_cast<unsigned char>(v);
    }
    std::vector<unsigned char> bytes;
};

// Start of image, APP0 "JFIF" of length 16, then FF DA at 20.
void writeShortHeader(Sectors& s, uint32_t offset = 0) {
    s.set(offset, {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0, 1});
    s.set(offset + 20, {0xFF, 0xDA, 0x00, 0x08});
}

} // namespace

TEST(JpegStartSignature, RecognisesExactlyTheThreeSignatures) {
    struct Case {
        std::vector<int> head;
        bool starts;
    } cases[] = {
        {{0xFF, 0xD8, 0xFF, 0xDB, 0, 0x43, 0, 0, 0, 0}, true},
        {{0xFF, 0xD8, 0xFF, 0xE0, 0, 0x10, 'J', 'F', 'I', 'F'}, true},
        {{0xFF, 0xD8, 0xFF, 0xE1, 0x12, 0x34, 'E', 'x', 'i', 'f'}, true},
        {{0xFF, 0xD8, 0xFF, 0xE2, 0, 0x10, 'J', 'F', 'I', 'F'}, false},
        {{0xFF, 0xD8, 0xFF, 0xC4, 0, 0x10, 'J', 'F', 'I', 'F'}, false},
        {{0xFF, 0xD8, 0xFF, 0xE0, 0, 0x10, 'J', 'F', 'X', 'X'}, false},
        {{0xFF, 0xD8, 0xFF, 0xE1, 0, 0x10, 'J', 'F', 'I', 'F'}, false},
        {{0xFF, 0xD8, 0xFF, 0xE0, 0, 0x10, 'E', 'x', 'i', 'f'}, false},
        {{0x00, 0xFF, 0xD8, 0xFF, 0xDB, 0, 0, 0, 0, 0}, false},
    };
    for (const auto& c : cases) {
        Sectors s(1);
        for (size_t i = 0; i < c.head.size(); ++i)
            s.bytes[i] = static_cast<unsigned char>(c.head[i]);
        std::unique_ptr<CJPGFile> file(CJPGFile::tryCreate(s.at(0), 77));
        EXPECT_EQ(file != nullptr, c.starts) << "head byte 3: " << c.head[3];
        if (file) {
            EXPECT_EQ(file->startSector, 77u);
            EXPECT_EQ(file->nextSegment, 2u);
            EXPECT_FALSE(file->scanDataReached);
        }
    }
}

TEST(JpegHeaderWalk, WorkedExampleCompletesInSecondSector) {
    Sectors s(2, 0x11);
    s.set(0, {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00, 0x01});
    s.set(20, {0xFF, 0xDB, 0x00, 0x43});
    s.set(89, {0xFF, 0xC0, 0x00, 0x11});
    s.set(108, {0xFF, 0xC4, 0x00, 0xB5});
    s.set(291, {0xFF, 0xDA, 0x00, 0x0C});
    s.bytes[511] = 0x3C;
    s.set(512 + 298, {0x7F, 0xFF, 0xD9});
    std::fill(s.at(1) + 301, s.at(1) + 512, 0);

    std::unique_ptr<CJPGFile> file(CJPGFile::tryCreate(s.at(0), 700));
    ASSERT_TRUE(file);
    EXPECT_EQ(file->testSector(700, s.at(0), kSector), CBaseFile::Verdict::Continue);
    EXPECT_TRUE(file->scanDataReached);
    EXPECT_EQ(file->nextSegment, 291u);
    EXPECT_EQ(file->testSector(701, s.at(1), kSector), CBaseFile::Verdict::Complete);
    EXPECT_EQ(file->lastSector, 701u);
    EXPECT_EQ(file->endOffset, 300u);
    EXPECT_EQ((file->lastSector - file->startSector) * kSector + file->endOffset + 1, 813u);
}

TEST(JpegHeaderWalk, HeaderOnSectorBoundaryIsReadFromTheFollowingSector) {
    Sectors s(2, 0x22);
    s.set(0, {0xFF, 0xD8, 0xFF, 0xE1, 0x01, 0xFC, 'E', 'x', 'i', 'f'});
    s.set(512, {0xFF, 0xDA, 0x00, 0x0C});
    s.set(1024 - 2, {0xFF, 0xD9});

    std::unique_ptr<CJPGFile> file(CJPGFile::tryCreate(s.at(0), 800));
    ASSERT_TRUE(file);
    EXPECT_EQ(file->testSector(800, s.at(0), kSector), CBaseFile::Verdict::Continue);
    EXPECT_EQ(file->nextSegment, 512u);
    EXPECT_TRUE(file->scanDataReached); // seen in sector 801's first bytes
    EXPECT_EQ(file->testSector(801, s.at(1), kSector), CBaseFile::Verdict::Complete);
    EXPECT_EQ(file->endOffset, 511u);
}

TEST(JpegHeaderWalk, SegmentLengthsZeroAndMaximum) {
    {
        Sectors s(1);
        writeShortHeader(s);
        s.set(20, {0xFF, 0xFE, 0x00, 0x00}); // length 0: the walk moves on by 2,
        std::unique_ptr<CJPGFile> file(CJPGFile::tryCreate(s.at(0), 1));
        // onto the length bytes themselves, which are no marker
        EXPECT_EQ(file->testSector(1, s.at(0), kSector), CBaseFile::Verdict::GiveUp);
        EXPECT_EQ(file->nextSegment, 22u);
    }
    {
        Sectors s(1);
        writeShortHeader(s);
        s.set(20, {0xFF, 0xFE, 0xFF, 0xFF}); // length 0xFFFF: on by 65537
        std::unique_ptr<CJPGFile> file(CJPGFile::tryCreate(s.at(0), 1));
        EXPECT_EQ(file->testSector(1, s.at(0), kSector), CBaseFile::Verdict::Continue);
        EXPECT_EQ(file->nextSegment, 20u + 65537u);
        EXPECT_FALSE(file->scanDataReached);
    }
}

TEST(JpegHeaderWalk, NonMarkerAtHeaderAbandons) {
    Sectors s(1);
    writeShortHeader(s);
    s.bytes[20] = 0x00;
    std::unique_ptr<CJPGFile> file(CJPGFile::tryCreate(s.at(0), 1));
    EXPECT_EQ(file->testSector(1, s.at(0), kSector), CBaseFile::Verdict::GiveUp);
}

TEST(JpegEndSearch, WholeImageInOneSector) {
    Sectors s(1);
    writeShortHeader(s);
    s.set(100, {0x12, 0xFF, 0xD9});
    CCandidateTracker tracker(kSector);
    EXPECT_TRUE(tracker.feedSector(5, s.at(0)));
    ASSERT_EQ(tracker.foundFiles.size(), 1u);
    EXPECT_EQ(tracker.foundFiles[0]->startSector, 5u);
    EXPECT_EQ(tracker.foundFiles[0]->lastSector, 5u);
    EXPECT_EQ(tracker.foundFiles[0]->endOffset, 102u);
    EXPECT_EQ(tracker.currentCandidate(), nullptr);
}

TEST(JpegEndSearch, OnlyTheLastNonZeroByteCounts) {
    Sectors s(4, 0x33);
    writeShortHeader(s);
    s.set(512 + 200, {0xFF, 0xD9, 0x00, 0x01}); // non-zero after FF D9: not the end
    std::fill(s.at(1) + 204, s.at(1) + 512, 0);
    std::fill(s.at(2), s.at(2) + 512, 0);
    s.set(1024, {0xFF, 0xD9}); // D9 at position 1 is never taken
    s.set(1536 + 40, {0xFF, 0xD9});
    std::fill(s.at(3) + 42, s.at(3) + 512, 0);

    CCandidateTracker tracker(kSector);
    EXPECT_FALSE(tracker.feedSector(10, s.at(0)));
    EXPECT_FALSE(tracker.feedSector(11, s.at(1)));
    EXPECT_FALSE(tracker.feedSector(12, s.at(2)));
    EXPECT_TRUE(tracker.feedSector(13, s.at(3)));
    EXPECT_EQ(tracker.foundFiles[0]->lastSector, 13u);
    EXPECT_EQ(tracker.foundFiles[0]->endOffset, 41u);
}

TEST(JpegEndSearch, NoEndBeforeStartOfScan) {
    Sectors s(2, 0x55);
    s.set(0, {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x43});
    s.set(71, {0xFF, 0xC4, 0x02, 0x81}); // runs on to 714, in the next sector
    s.set(510, {0xFF, 0xD9});            // ends like an image, but the walk is not done
    s.set(714, {0xFF, 0xDA, 0x00, 0x0C});
    s.set(512 + 300, {0xFF, 0xD9});
    std::fill(s.at(1) + 302, s.at(1) + 512, 0);
    CCandidateTracker tracker(kSector);
    EXPECT_FALSE(tracker.feedSector(0, s.at(0)));
    EXPECT_TRUE(tracker.feedSector(1, s.at(1)));
    EXPECT_EQ(tracker.foundFiles[0]->endOffset, 301u);
}

TEST(CandidateTracker, NewSignatureReplacesEvenACompletingCandidate) {
    Sectors s(2, 0x44);
    writeShortHeader(s);
    // Sector 1 begins a new image and also ends with FF D9: the old candidate
    // is replaced first, and the new one completes here.
    writeShortHeader(s, 512);
    s.set(512 + 60, {0xFF, 0xD9});
    std::fill(s.at(1) + 62, s.at(1) + 512, 0);
    CCandidateTracker tracker(kSector);
    EXPECT_FALSE(tracker.feedSector(40, s.at(0)));
    EXPECT_TRUE(tracker.feedSector(41, s.at(1)));
    ASSERT_EQ(tracker.foundFiles.size(), 1u);
    EXPECT_EQ(tracker.foundFiles[0]->startSector, 41u);
}

TEST(CandidateTracker, DropForgetsTheCandidate) {
    Sectors s(2);
    writeShortHeader(s);
    s.set(512 + 10, {0xFF, 0xD9});
    CCandidateTracker tracker(kSector);
    tracker.feedSector(1, s.at(0));
    ASSERT_NE(tracker.currentCandidate(), nullptr);
    tracker.dropCandidate();
    EXPECT_FALSE(tracker.feedSector(2, s.at(1)));
    EXPECT_TRUE(tracker.foundFiles.empty());
}
