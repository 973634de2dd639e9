// vallora-recover --resume: a sweep killed at any point (SIGKILL, so nothing
// of it runs after the signal) and taken up again writes exactly what an
// uninterrupted sweep writes; a resume file of another source, or a damaged
// one, is refused; a finished sweep leaves none.
#include "CChildProcess.h"
#include "CDiskImageMaker.h"
#include "CJpegMaker.h"
#include "CTempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <random>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const std::string kProgram = VALLORA_RECOVER;
const char kResumeFile[] = ".vallora-resume";
constexpr uint64_t kSector = 512;
constexpr uint64_t kRunSectors = 40000; // the sweep's runs: a checkpoint after each

// An image of imageMiB with photos: one a few sectors before the end of
// every run of the sweep (it is following that photo when it records its
// position), and more at places the seed picks. A raw image, or an empty
// FAT32 volume of 4 KiB clusters (mkfs.vfat) whose free clusters hold the
// photos at sectors inside clusters; false when it cannot be made.
bool makeCard(const std::string& path, uint64_t imageMiB, uint32_t seed, bool fat32) {
    const uint64_t sectors = (imageMiB << 20) / kSector;
    uint64_t firstRun = 1; // the first sector of the sweep's first run
    if (fat32) {
        const std::string quoted = CDiskImageMaker::quote(path);
        if (!CDiskImageMaker::haveTool("mkfs.vfat") ||
            !CDiskImageMaker::run("truncate -s " + std::to_string(imageMiB) + "M " + quoted +
                                  " && mkfs.vfat -F 32 -s 8 " + quoted + " >/dev/null"))
            return false;
        // Boot sector: reserved sectors (u16 at 14), FATs (u8 at 16),
        // sectors per FAT (u32 at 36); cluster 2 (the root folder) comes
        // first, the sweep starts at cluster 3.
        const auto boot = CTempDir::readFile(path);
        auto le = [&boot](size_t at, int bytes) {
            uint64_t value = 0;
            for (int b = bytes - 1; b >= 0; --b)
                value = value << 8 | boot[at + size_t(b)];
            return value;
        };
        firstRun = le(14, 2) + le(16, 1) * le(36, 4) + 8;
    } else {
        CTempDir::writeFile(path, {});
        if (::truncate(path.c_str(), off_t(sectors * kSector)) != 0)
            return false;
    }
    std::vector<std::vector<unsigned char>> photos;
    for (uint32_t k = 0; k < 12; ++k)
        photos.push_back(CJpegMaker::make(k % 3 == 0   ? CJpegMaker::Kind::Exif
                                          : k % 3 == 1 ? CJpegMaker::Kind::Jfif
                                                       : CJpegMaker::Kind::Dqt,
                                          320 + 16 * int(k), 240, 100 + k));
    const int fd = ::open(path.c_str(), O_WRONLY);
    if (fd < 0)
        return false;
    std::mt19937 random(seed);
    uint64_t next = firstRun;
    uint32_t k = 0;
    bool written = true;
    auto place = [&](uint64_t sector) {
        const auto& photo = photos[k++ % photos.size()];
        const uint64_t length = (photo.size() + kSector - 1) / kSector;
        if (sector < next || sector + length + 2 >= sectors)
            return;
        written = written && ::pwrite(fd, photo.data(), photo.size(), off_t(sector * kSector)) ==
                                 ssize_t(photo.size());
        next = sector + length + 1;
    };
    for (uint64_t runEnd = firstRun + kRunSectors; runEnd < sectors; runEnd += kRunSectors) {
        for (int more = 0; more < 6; ++more)
            place(next + random() % ((runEnd - next) / 6 + 1));
        place(runEnd - 21);
    }
    ::close(fd);
    return written;
}

// The folder's files, by name: the photos, and any other file left there.
std::map<std::string, std::vector<unsigned char>> folderFiles(const std::string& folder) {
    std::map<std::string, std::vector<unsigned char>> files;
    for (const auto& entry : fs::directory_iterator(folder))
        files[entry.path().filename().string()] = CTempDir::readFile(entry.path().string());
    return files;
}

// The first value of key in the folder's resume file, or -1 when it has none.
long long resumeValue(const std::string& folder, const std::string& key) {
    std::string text;
    try {
        const auto bytes = CTempDir::readFile(folder + "/" + kResumeFile);
        text.assign(bytes.begin(), bytes.end());
    } catch (const std::exception&) {
        return -1;
    }
    const size_t at = text.find("\n" + key + " ");
    return at == std::string::npos ? -1 : std::atoll(text.c_str() + at + key.size() + 2);
}

size_t photosIn(const std::string& folder) {
    return CTempDir::photosIn(folder).size();
}

// Where a run is killed: once the resume file says the sweep passed
// sector (when sector > 0), or once the folder holds photos photos.
struct tagKillPoint {
    uint64_t sector = 0;
    size_t photos = 0;
};

// Runs argv and kills it with SIGKILL at the point; false when the program
// ended on its own first.
bool runAndKill(const std::vector<std::string>& argv, const std::string& folder,
                const tagKillPoint& point) {
    CChildProcess child(argv);
    for (;;) {
        if (child.ended())
            return false;
        const bool reached = point.sector > 0 ? resumeValue(folder, "next-sector") >=
                                                    static_cast<long long>(point.sector)
                                              : photosIn(folder) >= point.photos;
        if (reached) {
            child.signal(SIGKILL);
            EXPECT_EQ(child.wait(), 128 + SIGKILL);
            return true;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

std::string summaryCount(const std::string& out) {
    const size_t at = out.find("成功恢复");
    return at == std::string::npos ? "" : out.substr(at, out.find("个文件", at) - at);
}

class ResumeTest : public ::testing::Test {
protected:
    void SetUp() override { ::setenv("VALLORA_RESUME_EVERY_MS", "0", 1); }
    void TearDown() override { ::unsetenv("VALLORA_RESUME_EVERY_MS"); }
};

} // namespace

class KilledSweepTest : public ResumeTest, public ::testing::WithParamInterface<bool> {};

TEST_P(KilledSweepTest, KilledAnywhereAndResumedWritesWhatAWholeSweepWrites) {
    CTempDir dir;
    constexpr uint64_t kImageMiB = 192; // 10 runs, so 10 checkpoints in the sweep
    const std::string card = dir.file("card.img");
    if (!makeCard(card, kImageMiB, 7, GetParam()))
        GTEST_SKIP() << "mkfs.vfat cannot make the FAT32 card";
    fs::create_directory(dir.file("whole"));
    std::string wholeOut;
    ASSERT_EQ(
        CChildProcess::run({kProgram, "--no-report", "-q", card, dir.file("whole")}, &wholeOut), 0);
    const auto whole = folderFiles(dir.file("whole"));
    ASSERT_GT(whole.size(), 50u);
    EXPECT_EQ(whole.count(kResumeFile), 0u) << "a finished sweep leaves no resume file";

    // Kill points: in the sweep at a sector the seed picks (the first kill,
    // and for some seeds the resumed run killed again), or while the found
    // photos are written.
    const uint64_t sectors = (kImageMiB << 20) / kSector;
    int killed = 0;
    for (uint32_t seed = 1; seed <= 12; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 random(seed);
        const std::string out = dir.file("out" + std::to_string(seed));
        fs::create_directory(out);
        std::vector<tagKillPoint> points;
        for (int kill = 0; kill < (seed % 3 == 0 ? 2 : 1); ++kill) {
            tagKillPoint point;
            if (seed % 4 == 0)
                point.photos = 1 + random() % (whole.size() - 1);
            else
                point.sector = 1 + random() % sectors;
            points.push_back(point);
        }
        std::vector<std::string> argv = {kProgram, "--no-report", "-q", card, out};
        bool resumable = false;
        for (const tagKillPoint& point : points) {
            if (!runAndKill(argv, out, point))
                break;
            ++killed;
            resumable = true;
            argv = {kProgram, "--resume", "-q", out};
        }
        std::string resumedOut, resumedErr;
        if (resumable) {
            ASSERT_EQ(CChildProcess::run(argv, &resumedOut, &resumedErr), 0) << resumedErr;
            EXPECT_EQ(summaryCount(resumedOut), summaryCount(wholeOut)) << resumedOut;
        }
        EXPECT_EQ(folderFiles(out), whole);
    }
    EXPECT_GE(killed, 12);
}

INSTANTIATE_TEST_SUITE_P(Cards, KilledSweepTest, ::testing::Values(false, true),
                         [](const auto& card) { return card.param ? "Fat32" : "Raw"; });

TEST_F(ResumeTest, StoppedWithCtrlCAndResumed) {
    // Ctrl-C writes what was found and leaves the resume file; --resume
    // finds the rest, and the photos written before are not written again.
    CTempDir dir;
    const std::string card = dir.file("card.img");
    ASSERT_TRUE(makeCard(card, 96, 3, false));
    fs::create_directory(dir.file("whole"));
    ASSERT_EQ(CChildProcess::run({kProgram, "--no-report", "-q", card, dir.file("whole")}), 0);
    fs::create_directory(dir.file("out"));
    {
        CChildProcess child({kProgram, "--no-report", "-q", card, dir.file("out")});
        while (!child.ended() && resumeValue(dir.file("out"), "next-sector") < 100000)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        child.signal(SIGINT);
        const int status = child.wait();
        ASSERT_EQ(status, 5) << child.err();
        EXPECT_NE(child.err().find("vallora-recover --resume " + dir.file("out")),
                  std::string::npos)
            << child.err();
    }
    ASSERT_GE(resumeValue(dir.file("out"), "written"), 1);
    std::string out, err;
    ASSERT_EQ(CChildProcess::run({kProgram, "--resume", card, dir.file("out")}, &out, &err), 0)
        << err;
    EXPECT_EQ(err.find("not written again"), std::string::npos) << err;
    EXPECT_EQ(folderFiles(dir.file("out")), folderFiles(dir.file("whole")));
}

TEST_F(ResumeTest, RefusedResumes) {
    CTempDir dir;
    const std::string card = dir.file("card.img");
    ASSERT_TRUE(makeCard(card, 48, 5, false));
    // Sources that are not the card: one byte changed at its start, and
    // one sector longer.
    fs::copy_file(card, dir.file("changed.img"));
    {
        const int fd = ::open(dir.file("changed.img").c_str(), O_WRONLY);
        ASSERT_EQ(::pwrite(fd, "x", 1, 100), 1);
        ::close(fd);
    }
    fs::copy_file(card, dir.file("longer.img"));
    ASSERT_EQ(::truncate(dir.file("longer.img").c_str(), off_t((48 << 20) + 512)), 0);
    fs::create_directory(dir.file("out"));
    ASSERT_TRUE(runAndKill({kProgram, "--no-report", "-q", card, dir.file("out")}, dir.file("out"),
                           {40000, 0}));
    const auto good = CTempDir::readFile(dir.file("out") + "/" + kResumeFile);
    std::string text(good.begin(), good.end());

    struct tagCase {
        const char* what;
        std::string fileText; // "" removes the file
        std::string source;   // "" for none given
        int status;
        const char* message;
    };
    std::string flipped = text;
    flipped[flipped.find("next-sector ") + 12] ^= 1;
    const std::vector<tagCase> cases = {
        {"another first sector", text, dir.file("changed.img"), 3, "its bytes differ"},
        {"another size", text, dir.file("longer.img"), 3, "its size is"},
        {"a changed byte", flipped, "", 4, "damaged"},
        {"cut short", text.substr(0, text.size() / 2), "", 4, "damaged"},
        {"another file", "hello\n", "", 4, "not a Vallora resume file"},
        {"a newer format", "vallora-resume 9\n", "", 4, "format 9"},
        {"no resume file", "", "", 4, "holds no interrupted sweep"},
    };
    for (const tagCase& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = dir.file("out") + "/" + kResumeFile;
        fs::remove(path);
        if (!c.fileText.empty())
            CTempDir::writeFile(path,
                                std::vector<unsigned char>(c.fileText.begin(), c.fileText.end()));
        std::vector<std::string> argv = {kProgram, "--resume", "-q"};
        if (!c.source.empty())
            argv.push_back(c.source);
        argv.push_back(dir.file("out"));
        std::string err;
        EXPECT_EQ(CChildProcess::run(argv, nullptr, &err), c.status) << err;
        EXPECT_NE(err.find(c.message), std::string::npos) << err;
    }
    // The source given again by name is taken when it is the same.
    CTempDir::writeFile(dir.file("out") + "/" + kResumeFile, good);
    fs::copy_file(card, dir.file("renamed.img"));
    std::string err;
    EXPECT_EQ(
        CChildProcess::run({kProgram, "--resume", "-q", dir.file("renamed.img"), dir.file("out")},
                           nullptr, &err),
        0)
        << err;
    EXPECT_FALSE(fs::exists(dir.file("out") + "/" + kResumeFile));
}
