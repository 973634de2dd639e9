// The thorough mode on small card images: what the default rules miss or
// cut wrongly is recovered exactly, what is cut short or overwritten is
// only kept as a partial file, duplicates are written once, cancel behaves
// as in the default mode, and the default mode's output stays as it was.
#include "CDiskImageMaker.h"
#include "CRecordingFrontEnd.h"
#include "CTempDir.h"
#include "ThoroughTestCard.h"
#include "scan/CCandidateTracker.h"
#include "scan/CJpegValidator.h"
#include "scan/CScanner.h"
#include "volume/CRawVolumeAccess.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <jpeglib.h>

namespace fs = std::filesystem;
using Card = CThoroughTestCard;
using Files = std::map<std::string, std::vector<unsigned char>>;
using Kind = CJpegMaker::Kind;

namespace {

enum class Mode { Default, Thorough, KeepPartial };

struct tagScan {
    Files files; // by name; partial files as "partial/N.jpg"
    CScanner::Outcome outcome = CScanner::Outcome::Completed;
    uint32_t duplicates = 0;
    uint32_t partials = 0;
    std::string summary;
};

// Runs a whole scan of the card (raw access over an image file) into a
// fresh folder and reads back what was written.
tagScan scan(const Card& card, Mode mode,
             const std::function<void(CRecordingFrontEnd&)>& prepare = {}) {
    CTempDir dir;
    CTempDir::writeFile(dir.file("card.img"), card.bytes);
    fs::create_directory(dir.file("out"));
    CRawVolumeAccess access(dir.file("card.img"), Card::kSector);
    CRecordingFrontEnd ui(dir.file("out"));
    if (prepare)
        prepare(ui);
    CScanner scanner(&access);
    if (mode != Mode::Default)
        scanner.setThorough(mode == Mode::KeepPartial);
    tagScan result;
    result.outcome = scanner.run(&ui);
    for (const auto& entry : fs::recursive_directory_iterator(dir.file("out")))
        if (entry.is_regular_file())
            result.files[fs::relative(entry.path(), dir.file("out")).string()] =
                CTempDir::readFile(entry.path().string());
    result.duplicates = scanner.duplicatesSkipped();
    result.partials = scanner.partialFilesWritten();
    if (!ui.summaries.empty())
        result.summary = ui.summaries.back().first;
    return result;
}

// Bytes up to the last non-zero one.
std::vector<unsigned char> trimmed(std::vector<unsigned char> bytes) {
    while (!bytes.empty() && bytes.back() == 0)
        bytes.pop_back();
    return bytes;
}

std::vector<unsigned char> head(const std::vector<unsigned char>& bytes, size_t length) {
    return {bytes.begin(), bytes.begin() + long(length)};
}

// sectors of noise.
std::vector<unsigned char> noise(size_t sectors, uint32_t seed) {
    std::vector<unsigned char> bytes(sectors * Card::kSector);
    for (auto& b : bytes)
        b = static_cast<unsigned char>((seed = seed * 1103515245 + 12345) >> 16);
    return bytes;
}

// Names and sizes, for failure messages.
std::string listed(const Files& files) {
    std::string text;
    for (const auto& [name, bytes] : files)
        text += name + " (" + std::to_string(bytes.size()) + " bytes) ";
    return text;
}

bool holds(const Files& files, const Files& expected) {
    for (const auto& [name, bytes] : expected) {
        auto it = files.find(name);
        if (it == files.end() || it->second != bytes)
            return false;
    }
    return true;
}

struct tagCase {
    const char* what;
    std::function<Card(Files&)> build; // fills the files the thorough mode must write
};

const tagCase kRecoveredCases[] = {
    {"dirty tail: older data after the end marker in the last sector",
     [](Files& expected) {
         Card card(80);
         const auto photo = CJpegMaker::make(Kind::Exif, 160, 120, 1);
         card.put(4, photo);
         card.dirtyTail(4, photo.size(), 3, 0x11);
         expected[Card::name(4)] = photo;
         return card;
     }},
    {"Exif thumbnail that begins at a sector boundary",
     [](Files& expected) {
         Card card(80);
         const auto photo = makePhotoWithThumbnail(2, Card::kSector);
         card.put(4, photo);
         expected[Card::name(4)] = photo;
         return card;
     }},
    {"XMP segment first",
     [](Files& expected) {
         Card card(80);
         const auto photo = CJpegMaker::make(Kind::Xmp, 160, 120, 3);
         card.put(4, photo);
         expected[Card::name(4)] = photo;
         return card;
     }},
    {"Adobe segment first",
     [](Files& expected) {
         Card card(80);
         const auto photo = CJpegMaker::make(Kind::Adobe, 160, 120, 4);
         card.put(4, photo);
         expected[Card::name(4)] = photo;
         return card;
     }},
    {"progressive with restart markers, dirty tail",
     [](Files& expected) {
         Card card(120);
         CJpegMaker::tagStyle style;
         style.progressive = true;
         style.restartRows = 1;
         const auto photo = CJpegMaker::make(Kind::Jfif, 240, 160, 5, 85, style);
         card.put(4, photo);
         card.dirtyTail(4, photo.size(), 2, 0x7E);
         expected[Card::name(4)] = photo;
         return card;
     }},
    {"MPF camera file whose preview begins at a sector boundary",
     [](Files& expected) {
         Card card(120);
         const auto file = makeMpfCameraFile(6);
         card.put(4, file);
         card.dirtyTail(4, file.size(), 1, 0x33);
         expected[Card::name(4)] = file;
         return card;
     }},
    {"newer photo written over the middle of an older one",
     [](Files& expected) {
         Card card(160);
         const auto older = CJpegMaker::make(Kind::Exif, 320, 240, 7);
         const auto newer = CJpegMaker::make(Kind::Jfif, 120, 90, 8);
         card.put(4, older);
         card.put(10, newer); // its last sector still holds the older photo's bytes
         expected[Card::name(10)] = newer;
         return card;
     }},
};

} // namespace

TEST(ThoroughCarving, RecoversExactlyWhatTheDefaultRulesMissOrCut) {
    for (const auto& c : kRecoveredCases) {
        Files expected;
        const Card card = c.build(expected);
        const tagScan thorough = scan(card, Mode::Thorough);
        EXPECT_EQ(thorough.files, expected) << c.what << ": " << listed(thorough.files);
        EXPECT_EQ(thorough.outcome, CScanner::Outcome::Completed) << c.what;
        const tagScan plain = scan(card, Mode::Default);
        EXPECT_FALSE(holds(plain.files, expected)) << "the default mode already copes: " << c.what;
    }
}

// Photos that do not begin at a sector, or lie in two pieces: every one
// comes back byte for byte, named by its first byte.
const tagCase kPieceCases[] = {
    {"photo at an odd byte offset",
     [](Files& expected) {
         Card card(80);
         const auto photo = CJpegMaker::make(Kind::Exif, 160, 120, 21);
         card.putAt(4 * Card::kSector + 77, photo);
         expected[Card::nameAt(4 * Card::kSector + 77)] = photo;
         return card;
     }},
    {"two photos back to back with no gap",
     [](Files& expected) {
         Card card(120);
         const auto first = CJpegMaker::make(Kind::Jfif, 160, 120, 22);
         const auto second = CJpegMaker::make(Kind::Xmp, 160, 120, 23);
         const size_t at = 4 * Card::kSector;
         card.putAt(at, first);
         card.putAt(at + first.size(), second);
         expected[Card::nameAt(at)] = first;
         expected[Card::nameAt(at + first.size())] = second;
         return card;
     }},
    {"JPEG inside a tar archive that does not begin at a sector",
     [](Files& expected) {
         CTempDir dir;
         const auto photo = CJpegMaker::make(Kind::Jfif, 200, 150, 24);
         CTempDir::writeFile(dir.file("notes.txt"), std::vector<unsigned char>(700, 'n'));
         CTempDir::writeFile(dir.file("IMG_0001.JPG"), photo);
         EXPECT_TRUE(CDiskImageMaker::run("cd " + CDiskImageMaker::quote(dir.path()) +
                                          " && tar cf pack.tar notes.txt IMG_0001.JPG"));
         const auto tar = CTempDir::readFile(dir.file("pack.tar"));
         Card card(uint32_t(tar.size() / Card::kSector) + 40);
         const size_t at = 3 * Card::kSector + 60; // behind a 60-byte header
         card.putAt(at, tar);
         // tar: a 512-byte header before each member, members padded to 512.
         const size_t photoAt = at + 512 + 1024 + 512;
         EXPECT_TRUE(std::equal(photo.begin(), photo.end(), tar.begin() + 2048));
         expected[Card::nameAt(photoAt)] = photo;
         return card;
     }},
    {"two-piece photo with a foreign gap",
     [](Files& expected) {
         Card card(200);
         const auto photo = CJpegMaker::make(Kind::Exif, 320, 240, 25);
         const size_t split = 20 * Card::kSector;
         EXPECT_GT(photo.size(), split + Card::kSector);
         card.put(4, head(photo, split));
         card.put(24, noise(3, 12345));
         card.put(27, {photo.begin() + long(split), photo.end()});
         expected[Card::name(4)] = photo;
         return card;
     }},
    {"three-piece photo with foreign gaps",
     [](Files& expected) {
         Card card(300);
         const auto photo = CJpegMaker::make(Kind::Exif, 480, 360, 27);
         const size_t first = 24 * Card::kSector, second = 48 * Card::kSector;
         EXPECT_GT(photo.size(), second + Card::kSector);
         card.put(4, head(photo, first));
         card.put(28, noise(5, 1));
         card.put(33, {photo.begin() + long(first), photo.begin() + long(second)});
         card.put(57, noise(9, 2));
         card.put(66, {photo.begin() + long(second), photo.end()});
         expected[Card::name(4)] = photo;
         return card;
     }},
    {"photo crossing the cut between two 40000-sector reads, dirty tail",
     [](Files& expected) {
         Card card(40100);
         const auto photo = CJpegMaker::make(Kind::Jfif, 160, 120, 26);
         card.put(39990, photo);
         card.dirtyTail(39990, photo.size(), 2, 0x5A);
         expected[Card::name(39990)] = photo;
         return card;
     }},
};

TEST(ThoroughCarving, PhotosAtAnyByteAndInTwoPiecesComeBackWhole) {
    for (const auto& c : kPieceCases) {
        Files expected;
        const Card card = c.build(expected);
        const tagScan thorough = scan(card, Mode::Thorough);
        EXPECT_EQ(thorough.files, expected)
            << c.what << ": " << listed(thorough.files) << "\nexpected " << listed(expected);
        const tagScan plain = scan(card, Mode::Default);
        EXPECT_FALSE(holds(plain.files, expected)) << "the default mode already copes: " << c.what;
    }
}

TEST(ThoroughCarving, CutOrOverwrittenFilesAreOnlyKeptAsPartialFiles) {
    // A camera file cut off inside its image data (header and thumbnail
    // kept), zeros behind it; and an older photo whose middle a newer one
    // overwrote.
    const auto camera = makePhotoWithThumbnail(9, Card::kSector, 320, 240);
    size_t cut = camera.size() * 2 / 3;
    while (camera[cut - 1] == 0)
        --cut;
    const auto older = CJpegMaker::make(Kind::Exif, 320, 240, 10);
    const auto newer = CJpegMaker::make(Kind::Jfif, 120, 90, 11);
    Card card(400);
    card.put(4, head(camera, cut));
    card.put(200, older);
    card.put(206, newer);

    const tagScan thorough = scan(card, Mode::Thorough);
    EXPECT_EQ(thorough.files, (Files{{Card::name(206), newer}}));
    EXPECT_EQ(thorough.partials, 0u);

    const tagScan keep = scan(card, Mode::KeepPartial);
    const Files expected = {
        {Card::name(206), newer},
        {"partial/" + Card::name(4), head(camera, cut)},
        {"partial/" + Card::name(200), trimmed(head(older, 6 * Card::kSector))},
    };
    EXPECT_EQ(keep.files, expected) << listed(keep.files) << "\nexpected " << listed(expected);
    EXPECT_EQ(keep.partials, 2u);
    EXPECT_NE(keep.summary.find("2个不完整文件存入partial文件夹"), std::string::npos)
        << keep.summary;
}

TEST(ThoroughCarving, APhotoFoundTwiceIsWrittenOnceAndCounted) {
    const auto photo = CJpegMaker::make(Kind::Jfif, 160, 120, 12);
    const auto other = CJpegMaker::make(Kind::Jfif, 160, 120, 13);
    Card card(200);
    card.put(4, photo);
    card.put(60, other);
    card.put(120, photo);
    const tagScan thorough = scan(card, Mode::Thorough);
    EXPECT_EQ(thorough.files, (Files{{Card::name(4), photo}, {Card::name(60), other}}));
    EXPECT_EQ(thorough.duplicates, 1u);
    EXPECT_NE(thorough.summary.find("成功恢复2个文件,跳过1个重复文件"), std::string::npos)
        << thorough.summary;
    EXPECT_EQ(scan(card, Mode::Default).files.size(), 3u);
}

TEST(ThoroughCarving, CancelDuringTheSweepWorksAsInTheDefaultMode) {
    // Two runs of sectors (the sweep reads at most 40000 at once); the stop
    // request comes while the first is being read, so the second is never swept.
    const auto first = CJpegMaker::make(Kind::Jfif, 160, 120, 14);
    const auto second = CJpegMaker::make(Kind::Jfif, 160, 120, 15);
    Card card(41000);
    card.put(100, first);
    card.put(40500, second);
    for (Mode mode : {Mode::Default, Mode::Thorough}) {
        const char* named = mode == Mode::Default ? "default" : "thorough";
        const tagScan stopped = scan(card, mode, [](CRecordingFrontEnd& ui) {
            ui.onProgress = [&ui](uint32_t) { ui.stop = CScanFrontEnd::StopRequest::StopAndWrite; };
        });
        EXPECT_EQ(stopped.outcome, CScanner::Outcome::Stopped) << named;
        EXPECT_EQ(stopped.files, (Files{{Card::name(100), first}})) << named;

        const tagScan abandoned = scan(card, mode, [](CRecordingFrontEnd& ui) {
            ui.onProgress = [&ui](uint32_t) { ui.stop = CScanFrontEnd::StopRequest::Abandon; };
        });
        EXPECT_EQ(abandoned.outcome, CScanner::Outcome::Abandoned) << named;
        EXPECT_TRUE(abandoned.files.empty()) << named;
        EXPECT_TRUE(abandoned.summary.empty()) << named;
    }
}

TEST(ThoroughCarving, DefaultModeOutputOnAMixedCardIsWhatTheCarvingRulesGive) {
    // Every fixture above on one card, with plain photos between them.
    Card card(3000);
    uint32_t at = 8;
    Files intact;
    for (const auto& c : kRecoveredCases) {
        Files expected;
        const Card part = c.build(expected);
        std::copy(part.bytes.begin() + Card::kSector, part.bytes.end(),
                  card.bytes.begin() + long(size_t(at) * Card::kSector));
        for (auto& [name, bytes] : expected)
            intact[Card::name(at - 1 + uint32_t(std::stoul(name)) - 1982)] = bytes;
        at += uint32_t(part.bytes.size() / Card::kSector) + 3;
        const auto plain = CJpegMaker::make(Kind::Jfif, 100, 80, at);
        card.put(at, plain);
        intact[Card::name(at)] = plain;
        at += uint32_t(plain.size() / Card::kSector) + 2;
    }
    ASSERT_LT(at, 3000u);

    // The default carving rules on their own, over the same sector stream.
    card.bytes.resize(card.bytes.size() + 4, 0);
    CCandidateTracker rules(Card::kSector);
    for (uint32_t s = 1; s < 3000; ++s)
        rules.feedSector(s, card.bytes.data() + size_t(s) * Card::kSector);
    Files byRules;
    for (const auto& f : rules.foundFiles) {
        const size_t from = size_t(f->startSector) * Card::kSector;
        const size_t to = size_t(f->lastSector) * Card::kSector + f->endOffset + 1;
        byRules[Card::name(f->startSector)] = {card.bytes.begin() + long(from),
                                               card.bytes.begin() + long(to)};
    }
    card.bytes.resize(card.bytes.size() - 4);
    ASSERT_FALSE(byRules.empty());
    EXPECT_EQ(scan(card, Mode::Default).files, byRules);
    const Files thorough = scan(card, Mode::Thorough).files;
    EXPECT_EQ(thorough, intact) << listed(thorough) << "\nexpected " << listed(intact);
}

// A photo made the way the recall benchmark makes them (a plasma fractal
// coded by cjpeg) in two pieces with noise between: the noise is chosen so
// that the join one sector late (the first piece ending with a sector of
// the noise, the second beginning a sector into its own data) decodes
// without a fault too. Only the photo itself is written.
TEST(ThoroughCarving, AJoinOneSectorOffIsNotWrittenThoughItDecodes) {
    if (!CDiskImageMaker::haveTool("convert") || !CDiskImageMaker::haveTool("cjpeg"))
        GTEST_SKIP() << "needs ImageMagick and cjpeg (tools/install-deps.sh)";
    CTempDir dir;
    ASSERT_TRUE(CDiskImageMaker::run("cd " + CDiskImageMaker::quote(dir.path()) +
                                     " && convert -seed 25 -size 640x480 plasma:fractal"
                                     " -blur 0x0.6 p.ppm && cjpeg -quality 90 p.ppm >p.jpg"));
    const auto photo = CTempDir::readFile(dir.file("p.jpg"));
    const uint32_t split = 40, gap = 4; // sectors
    ASSERT_GT(photo.size(), (split + 8) * Card::kSector);
    const auto cardWith = [&](uint32_t seed) {
        Card card(uint32_t(photo.size() / Card::kSector) + 80);
        card.put(4, head(photo, split * Card::kSector));
        card.put(4 + split, noise(gap, seed));
        card.put(4 + split + gap, {photo.begin() + long(split * Card::kSector), photo.end()});
        return card;
    };
    const auto sectorLateDecodes = [&](const Card& card) {
        CJpegValidator validator(
            [&card](uint64_t first, uint64_t last, void* buffer) {
                std::memcpy(buffer, card.bytes.data() + first * Card::kSector,
                            size_t(last - first + 1) * Card::kSector);
                return true;
            },
            Card::kSector);
        const uint64_t firstPiece = uint64_t(split + 1) * Card::kSector;
        const std::vector<tagFilePiece> late = {
            {4, 0, firstPiece},
            {4 + split + gap + 1, 0, photo.size() - firstPiece + Card::kSector}};
        return validator.check(late, photo.size()) == CJpegValidator::Verdict::Decodes;
    };
    uint32_t seed = 1;
    while (seed < 400 && !sectorLateDecodes(cardWith(seed)))
        ++seed;
    ASSERT_LT(seed, 400u) << "no noise found that lets the join one sector late decode";
    const tagScan thorough = scan(cardWith(seed), Mode::Thorough);
    EXPECT_EQ(thorough.files, (Files{{Card::name(4), photo}})) << listed(thorough.files);
}
