// A damaged or vanishing source: the sweep goes on past what it cannot read,
// never makes images from stale bytes, and ends quickly when the source
// goes away.
#include "CFaultyDevice.h"
#include "CJpegMaker.h"
#include "CRecordingFrontEnd.h"
#include "CTempDir.h"
#include "platform/CFileDevice.h"
#include "scan/CScanner.h"
#include "volume/CRawVolumeAccess.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kSectors = 100000; // three runs: 1..40000, 40001..80000, 80001..99999

struct Photo {
    uint32_t sector;
    std::vector<unsigned char> bytes;
    std::string name() const { return std::to_string(sector + 1982) + ".jpg"; }
};

// An image of zeros holding photos at the given sectors.
std::vector<Photo> makeCard(const std::string& path, const std::vector<uint32_t>& sectors) {
    std::vector<unsigned char> image(size_t(kSectors) * 512, 0);
    std::vector<Photo> photos;
    for (uint32_t s : sectors) {
        Photo p{s, CJpegMaker::make(CJpegMaker::Kind::Exif, 160, 120, s)};
        std::copy(p.bytes.begin(), p.bytes.end(), image.begin() + size_t(s) * 512);
        photos.push_back(p);
    }
    CTempDir::writeFile(path, image);
    return photos;
}

struct Sweep {
    CTempDir dir;
    std::shared_ptr<CFaultyDevice> device;
    std::vector<Photo> photos;
    std::unique_ptr<CRawVolumeAccess> raw;
    std::unique_ptr<CRecordingFrontEnd> ui;
    std::unique_ptr<CScanner> scanner;

    explicit Sweep(const std::vector<uint32_t>& at) {
        photos = makeCard(dir.file("card.img"), at);
        device = std::make_shared<CFaultyDevice>(CFileDevice::open(dir.file("card.img")));
        fs::create_directory(dir.file("out"));
    }
    // Sweeps the faulty device and writes what was found into out/.
    CScanner& sweepAndWrite() {
        raw = std::make_unique<CRawVolumeAccess>(device);
        ui = std::make_unique<CRecordingFrontEnd>(dir.file("out"));
        scanner = std::make_unique<CScanner>(raw.get());
        scanner->sweep(ui.get());
        scanner->recoverAll();
        return *scanner;
    }
    bool recovered(const Photo& p) const {
        return fs::exists(dir.file("out/" + p.name())) &&
               CTempDir::readFile(dir.file("out/" + p.name())) == p.bytes;
    }
};

} // namespace

TEST(FaultTolerance, BadSectorsAndShortReadsCostOnlyWhatTheyTouch) {
    enum Fault { BadSector, ShortRead };
    for (Fault fault : {BadSector, ShortRead}) {
        Sweep sweep({10, 20000, 45000, 85000});
        const uint64_t badByte = uint64_t(20003) * 512 + 100; // inside the second photo
        if (fault == BadSector)
            sweep.device->badRanges = {{badByte, badByte + 1}};
        else
            sweep.device->shortReadsAt = {badByte};
        // The writer reads the good photos again; the fault stays where it is.
        CScanner& scanner = sweep.sweepAndWrite();
        EXPECT_TRUE(sweep.recovered(sweep.photos[0]));
        EXPECT_FALSE(fs::exists(sweep.dir.file("out/" + sweep.photos[1].name())));
        EXPECT_TRUE(sweep.recovered(sweep.photos[2]));
        EXPECT_TRUE(sweep.recovered(sweep.photos[3]));
        EXPECT_EQ(scanner.filesWritten(), 3u);
        EXPECT_EQ(scanner.unreadableSectors(), 1u) << "fault " << fault;
        EXPECT_FALSE(scanner.sourceLost());
    }
}

TEST(FaultTolerance, LargeBadStretchIsBoundedInFailedReads) {
    Sweep sweep({10, 85000});
    sweep.device->badRanges = {{uint64_t(40001) * 512, uint64_t(80001) * 512}}; // a whole run
    CScanner& scanner = sweep.sweepAndWrite();
    EXPECT_TRUE(sweep.recovered(sweep.photos[0]));
    EXPECT_TRUE(sweep.recovered(sweep.photos[1]));
    EXPECT_EQ(scanner.unreadableSectors(), 40000u);
    EXPECT_LE(sweep.device->reads, 3 + long(CScanner::kMaxFailedReadsPerRun) * 2 + 2);
}

TEST(FaultTolerance, VanishedSourceEndsTheSweepAtOnceAndWritesNothingFalse) {
    Sweep sweep({10, 45000, 85000});
    sweep.device->vanishAfterReads = 1; // the first run is read, then the card is gone
    CRawVolumeAccess raw(sweep.device);
    CRecordingFrontEnd ui(sweep.dir.file("out"));
    CScanner scanner(&raw);
    scanner.run(&ui);
    EXPECT_TRUE(scanner.sourceLost());
    EXPECT_EQ(scanner.filesFound(), 1u);
    // One failed read ends the sweep; one more shows the photo cannot be read again.
    EXPECT_EQ(sweep.device->reads, 3);
    ASSERT_EQ(scanner.writeFailures().size(), 1u);
    EXPECT_NE(scanner.writeFailures()[0].reason.find("cannot read"), std::string::npos);
    EXPECT_TRUE(fs::is_empty(sweep.dir.file("out")));
    EXPECT_EQ(ui.summaries[0].second, "扫描终止");
}

// A dead card fails every read: the sweep ends as a lost source after a
// long failing stretch instead of trying every sector for hours, what was
// found before is written, the failing ranges are kept, and the read error
// is printed once for the whole run of failures.
TEST(FaultTolerance, DeadSourceEndsTheSweepAsLostAfterALongFailingStretch) {
    constexpr uint32_t kCardSectors = 600000; // 293 MiB, sparse
    CTempDir dir;
    const auto photo = CJpegMaker::make(CJpegMaker::Kind::Exif, 160, 120, 7);
    std::vector<unsigned char> head(10 * 512 + photo.size(), 0);
    std::copy(photo.begin(), photo.end(), head.begin() + 10 * 512);
    CTempDir::writeFile(dir.file("card.img"), head);
    ASSERT_EQ(::truncate(dir.file("card.img").c_str(), off_t(kCardSectors) * 512), 0);
    auto device = std::make_shared<CFaultyDevice>(CFileDevice::open(dir.file("card.img")));
    device->badRanges = {{uint64_t(40001) * 512, uint64_t(kCardSectors) * 512}};
    fs::create_directory(dir.file("out"));
    CRawVolumeAccess raw(device);
    CRecordingFrontEnd ui(dir.file("out"));
    CScanner scanner(&raw);
    testing::internal::CaptureStdout();
    scanner.run(&ui);
    const std::string printed = testing::internal::GetCapturedStdout();

    EXPECT_TRUE(scanner.sourceDead());
    EXPECT_TRUE(scanner.sourceLost());
    EXPECT_EQ(ui.summaries.at(0).second, "扫描终止");
    EXPECT_EQ(CTempDir::readFile(dir.file("out/1992.jpg")), photo);
    // Stopped after about 64 MiB of failures, not at the end of the card.
    const uint64_t deadSectors = CScanner::kDeadStretchBytes / 512;
    EXPECT_GE(scanner.unreadableSectors(), deadSectors);
    EXPECT_LT(scanner.unreadableSectors(), deadSectors + CScanner::kBufferSectors);
    EXPECT_LT(device->reads, 400) << "the sweep kept retrying a dead card";
    ASSERT_EQ(scanner.unreadableRanges().size(), 1u);
    EXPECT_EQ(scanner.unreadableRanges()[0].first, 40001u);
    size_t lines = 0;
    for (size_t at = printed.find("Error reading from the device"); at != std::string::npos;
         at = printed.find("Error reading from the device", at + 1))
        ++lines;
    EXPECT_EQ(lines, 1u) << printed;
}
