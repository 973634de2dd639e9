// The resume file: what is written is read back, what was not written by
// this program is refused, and a resumed sweep tests from its sector on.
#include "CJpegMaker.h"
#include "CMemoryVolumeAccess.h"
#include "CRecordingFrontEnd.h"
#include "scan/CResumeFile.h"
#include "scan/CScanner.h"
#include "scan/CSha256.h"

#include <gtest/gtest.h>

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
