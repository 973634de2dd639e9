// The resume file: what is written is read back, what was not written by
// this program is refused, and a resumed sweep tests from its sector on.
#include "CJpegMaker.h"
#include "CMemoryVolumeAccess.h"
#include "CRecordingFrontEnd.h"
#include "CTempDir.h"
#include "platform/CFolderDescriptor.h"
#include "scan/CResumeFile.h"
#include "scan/CScanner.h"
#include "scan/CSha256.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

namespace {

tagResumeState sampleState() {
    tagResumeState state;
    state.sourcePath = "/media/my card/100%\nodd";
    state.source = {1u << 30, 512, "FAT32", "1A2B-3C4D", std::string(64, 'a')};
    state.fileSystemChoice = CVolumeOpener::Choice::Fat32;
    state.imageSectorSize = 4096;
    state.report = false;
    state.photoDates = true;
    state.forceOutput = true;
    state.clusterCount = 262144;
    state.clusterSize = 4096;
    state.nextCluster = 1000;
    state.nextSector = 8005;
    state.writtenBefore = 7;
    state.pending = {{64, 80, 17}, {9000, 9000, 511}};
    return state;
}

// text with its digest line, as the program closes a resume file.
std::string signedText(const std::string& body) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(body.data());
    return body + "sha256 " + CSha256::of(bytes, body.size()) + "\n";
}

std::string bodyOf(const std::string& text) {
    return text.substr(0, text.rfind("sha256 "));
}

} // namespace

TEST(ResumeFile, WhatIsWrittenIsReadBack) {
    const tagResumeState state = sampleState();
    const std::string text = CResumeFile::compose(state);
    EXPECT_EQ(text.find("source-path /media/my%20card/100%25%0Aodd\n"), 17u) << text;
    tagResumeState read;
    std::string error;
    ASSERT_TRUE(CResumeFile::parse(text, read, error)) << error;
    EXPECT_EQ(read.sourcePath, state.sourcePath);
    EXPECT_EQ(read.source.serial, "1A2B-3C4D");
    EXPECT_EQ(read.source.byteSize, state.source.byteSize);
    EXPECT_EQ(read.fileSystemChoice, CVolumeOpener::Choice::Fat32);
    EXPECT_EQ(read.imageSectorSize, 4096u);
    EXPECT_FALSE(read.report);
    EXPECT_TRUE(read.forceOutput);
    EXPECT_EQ(read.nextCluster, 1000u);
    EXPECT_EQ(read.nextSector, 8005u);
    EXPECT_EQ(read.writtenBefore, 7u);
    ASSERT_EQ(read.pending.size(), 2u);
    EXPECT_EQ(read.pending[1].startSector, 9000u);
    EXPECT_EQ(read.pending[1].endOffset, 511u);
}

TEST(ResumeFile, TextsNotWrittenByTheProgramAreRefused) {
    const std::string body = bodyOf(CResumeFile::compose(sampleState()));
    auto edited = [&body](const std::string& from, const std::string& to) {
        std::string text = body;
        text.replace(text.find(from), from.size(), to);
        return signedText(text);
    };
    const struct {
        const char* what;
        std::string text;
        const char* says;
    } cases[] = {
        {"empty", "", "not a Vallora resume file"},
        {"no digest", body, "damaged"},
        {"text after the digest", signedText(body) + "x\n", "damaged"},
        {"a negative number", edited("next-cluster 1000", "next-cluster -1"), "not a number"},
        {"a number too large", edited("written 7", "written 99999999999"), "not a number"},
        {"an unknown choice", edited("option-fs fat32", "option-fs floppy"), "option-fs"},
        {"a flag that is not one", edited("option-report 0", "option-report 2"), "not 0 or 1"},
        {"a line left out", edited("cluster-size 4096\n", ""), "is not 'cluster-size'"},
        {"a stray line", signedText(body + "extra 1\n"), "is not 'found'"},
        {"an image ending before it starts", edited("found 64 80 17", "found 80 64 17"),
         "not a found image"},
        {"an image with a fourth field", edited("found 64 80 17", "found 64 80 17 1"),
         "not a found image"},
        {"a bad escape", edited("my%20card", "my%2"), "badly escaped"},
        {"a position past the end", edited("next-cluster 1000", "next-cluster 262145"),
         "outside the volume"},
        {"a digest that is not one", edited(std::string(64, 'a'), "abc"), "SHA-256"},
    };
    for (const auto& c : cases) {
        tagResumeState state;
        std::string error;
        EXPECT_FALSE(CResumeFile::parse(c.text, state, error)) << c.what;
        EXPECT_NE(error.find(c.says), std::string::npos) << c.what << ": " << error;
    }
}

TEST(ResumeFile, FuzzCorpusIsReadSafelyAndItsSeedsAreResumeFiles) {
    size_t seeds = 0;
    for (const auto& entry : std::filesystem::directory_iterator(VALLORA_RESUME_CORPUS)) {
        const auto bytes = CTempDir::readFile(entry.path().string());
        tagResumeState state;
        std::string error;
        const bool read = CResumeFile::parse(std::string(bytes.begin(), bytes.end()), state, error);
        if (entry.path().filename().string().rfind("seed-", 0) == 0) {
            EXPECT_TRUE(read) << entry.path() << ": " << error;
            ++seeds;
        }
    }
    EXPECT_GE(seeds, 1u);
}

TEST(ResumeFile, ResumedSweepTestsFromItsSectorInsideACluster) {
    // Clusters of 8 sectors; cluster 10 holds a small photo at sector 81
    // and the start of one at 84, where the interrupted sweep stood.
    CMemoryVolumeAccess volume(200, 8);
    const auto before = CJpegMaker::make(CJpegMaker::Kind::Jfif, 16, 16, 1);
    const auto at = CJpegMaker::make(CJpegMaker::Kind::Exif, 16, 16, 2);
    ASSERT_LE(before.size(), 3 * 512u);
    volume.put(81, before);
    volume.put(84, at);
    tagResumeState state;
    state.source.byteSize = 200 * 8 * 512;
    state.clusterCount = 200;
    state.clusterSize = 4096;
    state.nextCluster = 10;
    state.nextSector = 84;
    state.pending = {{8, 9, 100}}; // found before: kept, not looked for
    std::string error;
    ASSERT_TRUE(CResumeFile::fitsVolume(state, volume, error)) << error;
    CScanner scanner(&volume);
    scanner.resumeFrom(state);
    CRecordingFrontEnd frontEnd;
    scanner.sweep(&frontEnd);
    const auto& found = scanner.candidateTracker().foundFiles;
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0]->startSector, 8u);
    EXPECT_EQ(found[1]->startSector, 84u);
    EXPECT_EQ(volume.clusterReads.front().first, 10u);

    // A position inside another cluster, or on a used one, does not fit.
    state.nextSector = 95;
    EXPECT_FALSE(CResumeFile::fitsVolume(state, volume, error));
    state.nextSector = 84;
    volume.used.insert(10);
    EXPECT_FALSE(CResumeFile::fitsVolume(state, volume, error));
}

namespace {

// A card whose reader goes away at cluster lostFrom: every later read fails.
class CUnpluggedVolume : public CMemoryVolumeAccess {
public:
    using CMemoryVolumeAccess::CMemoryVolumeAccess;
    bool readClusters(uint64_t first, uint64_t last, void* buffer) override {
        if (last >= lostFrom) {
            gone = true;
            return false;
        }
        return CMemoryVolumeAccess::readClusters(first, last, buffer);
    }
    bool isSourceLost() override { return gone; }
    uint64_t lostFrom = UINT64_MAX;
    bool gone = false;
};

// Photos at 100, across the first run's end (39990), at 50000 and 90000.
void putPhotos(CMemoryVolumeAccess& volume) {
    uint32_t seed = 1;
    for (uint32_t sector : {100u, 39990u, 50000u, 90000u})
        volume.put(sector, CJpegMaker::make(CJpegMaker::Kind::Jfif, 320, 240, seed++));
}

// Runs a scan into folder that keeps a resume file (taken up from state
// when given); its summary.
std::string scanInto(CMemoryVolumeAccess& volume, const std::string& folder,
                     const tagResumeState* state) {
    std::string error;
    const int folderFd = CFolderDescriptor::open(folder, error);
    EXPECT_GE(folderFd, 0) << error;
    CRecordingFrontEnd ui(folder);
    CScanner scanner(&volume);
    scanner.setOutputDescriptor(folderFd);
    tagResumeState base;
    base.sourcePath = "card";
    base.source.byteSize = 120000 * 512;
    base.source.digest = std::string(64, '0');
    scanner.keepResumeFile(base);
    if (state)
        scanner.resumeFrom(*state);
    scanner.run(&ui);
    CFolderDescriptor::close(folderFd);
    EXPECT_EQ(scanner.resumeFailure(), "");
    return ui.summaries.at(0).first;
}

// The summary's count, without the time it took and what follows.
std::string counted(const std::string& summary) {
    const size_t from = summary.find(',') + 1;
    return summary.substr(from, summary.find_first_of(",\n", from) - from);
}

std::map<std::string, std::vector<unsigned char>> filesIn(const std::string& folder) {
    std::map<std::string, std::vector<unsigned char>> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        files[entry.path().filename().string()] = CTempDir::readFile(entry.path().string());
    return files;
}

} // namespace

TEST(ResumeFile, SourceThatWentAwayIsTakenUpWhereItWasLastRead) {
    CTempDir whole, out;
    CMemoryVolumeAccess healthy(120000, 1);
    putPhotos(healthy);
    EXPECT_EQ(counted(scanInto(healthy, whole.path(), nullptr)), "成功恢复4个文件");
    EXPECT_FALSE(std::filesystem::exists(whole.file(CResumeFile::kFileName)));

    // The reader goes away in the third run: the photos found before are
    // written, and the resume file points behind the last run read.
    CUnpluggedVolume unplugged(120000, 1);
    putPhotos(unplugged);
    unplugged.lostFrom = 80001;
    const std::string stopped = scanInto(unplugged, out.path(), nullptr);
    EXPECT_EQ(counted(stopped), "成功恢复3个文件");
    std::string error;
    const int folderFd = CFolderDescriptor::open(out.path(), error);
    tagResumeState state;
    ASSERT_EQ(CResumeFile::read(folderFd, state, error), CResumeFile::ReadResult::Read) << error;
    CFolderDescriptor::close(folderFd);
    EXPECT_EQ(state.nextSector, 80000u); // the last sector read, held for the next run
    EXPECT_EQ(state.writtenBefore, 3u);
    EXPECT_TRUE(state.pending.empty());

    // Plugged in again: the rest is found, and the folder is the whole scan's.
    EXPECT_EQ(counted(scanInto(healthy, out.path(), &state)), "成功恢复4个文件");
    EXPECT_EQ(filesIn(out.path()), filesIn(whole.path()));
}
