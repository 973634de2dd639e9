// The --fs option of vallora-recover: which volume access sweeps the source.
#include "CChildProcess.h"
#include "CDiskImageMaker.h"
#include "CJpegMaker.h"
#include "CTempDir.h"
#include "ParseArgs.h"
#include "cli/CCliOptions.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

const std::string kProgram = VALLORA_RECOVER;

size_t countFiles(const std::string& folder) {
    return CTempDir::photosIn(folder).size();
}

} // namespace

TEST(FsOption, ParsesTheChoices) {
    using Choice = CVolumeOpener::Choice;
    CCliOptions options;
    std::string error;
    ASSERT_TRUE(parseArgs({"card.img", "out"}, options, error));
    EXPECT_EQ(options.fileSystem, Choice::Auto);
    for (auto [args, choice] :
         {std::pair{std::vector<std::string>{"--fs", "raw", "a", "b"}, Choice::Raw},
          {{"--fs=fat32", "a", "b"}, Choice::Fat32},
          {{"a", "--fs", "ntfs", "b"}, Choice::Ntfs},
          {{"--fs", "exfat", "a", "b"}, Choice::ExFat},
          {{"--fs=fat", "a", "b"}, Choice::Fat},
          {{"--fs", "ext", "a", "b"}, Choice::Ext},
          {{"--fs", "raw", "--fs", "auto", "a", "b"}, Choice::Auto}}) {
        CCliOptions chosen;
        ASSERT_TRUE(parseArgs(args, chosen, error)) << error;
        EXPECT_EQ(chosen.fileSystem, choice);
    }
    for (auto [args, says] :
         {std::pair{std::vector<std::string>{"a", "b", "--fs"}, "needs a value"},
          {{"--fs", "FAT32", "a", "b"}, "invalid file system 'FAT32'"},
          {{"--fs=", "a", "b"}, "invalid file system"},
          {{"--fs", "ext4", "a", "b"}, "use auto, raw, fat, fat32, exfat, ntfs or ext"}}) {
        CCliOptions bad;
        EXPECT_FALSE(parseArgs(args, bad, error));
        EXPECT_NE(error.find(says), std::string::npos) << error;
    }
    EXPECT_NE(CCliOptions::helpText().find("--fs TYPE"), std::string::npos);
}

TEST(FsOption, Fat32CardSweepsOnlyFreeClustersUnlessRawIsAsked) {
    for (const char* tool : {"mkfs.vfat", "mcopy", "mdel"})
        if (!CDiskImageMaker::haveTool(tool))
            GTEST_SKIP() << tool << " is not installed";
    CTempDir dir;
    const std::string img = CDiskImageMaker::quote(dir.file("card.img"));
    ASSERT_TRUE(CDiskImageMaker::run("truncate -s 40M " + img + " && mkfs.vfat -F 32 " + img));
    std::vector<std::vector<unsigned char>> photos;
    for (int i = 0; i < 3; ++i) {
        photos.push_back(CJpegMaker::make(CJpegMaker::Kind::Exif, 160, 120, uint32_t(i + 7)));
        const std::string name = "P" + std::to_string(i) + ".JPG";
        CTempDir::writeFile(dir.file(name), photos.back());
        ASSERT_TRUE(CDiskImageMaker::run("mcopy -i " + img + " " +
                                         CDiskImageMaker::quote(dir.file(name)) + " ::/" + name));
    }
    ASSERT_TRUE(CDiskImageMaker::run("mdel -i " + img + " ::/P1.JPG"));

    fs::create_directory(dir.file("out"));
    std::string out, err;
    ASSERT_EQ(
        CChildProcess::run({kProgram, "-q", dir.file("card.img"), dir.file("out")}, &out, &err), 0)
        << err;
    EXPECT_NE(err.find("File system: FAT32\nAccess: FAT32 (auto)\nSector size: 512 bytes\n"),
              std::string::npos)
        << err;
    EXPECT_NE(err.find("Clusters: "), std::string::npos);
    ASSERT_EQ(countFiles(dir.file("out")), 1u);
    EXPECT_EQ(CTempDir::readFile(CTempDir::photosIn(dir.file("out")).at(0)), photos[1]);

    fs::create_directory(dir.file("raw"));
    ASSERT_EQ(
        CChildProcess::run({kProgram, "-q", "--fs", "raw", dir.file("card.img"), dir.file("raw")},
                           &out, &err),
        0)
        << err;
    EXPECT_NE(err.find("Access: raw (chosen)"), std::string::npos) << err;
    EXPECT_EQ(countFiles(dir.file("raw")), 3u);
}

TEST(FsOption, SourceThatIsNotFat32IsRefusedWithAHint) {
    CTempDir dir;
    CTempDir::writeFile(dir.file("blank.img"), std::vector<unsigned char>(1 << 20, 0));
    fs::create_directory(dir.file("out"));
    std::string out, err;
    EXPECT_EQ(CChildProcess::run(
                  {kProgram, "--fs", "fat32", dir.file("blank.img"), dir.file("out")}, &out, &err),
              3);
    EXPECT_NE(err.find("as FAT32: the boot sector gives 0 sectors per cluster (--fs raw"),
              std::string::npos)
        << err;
    EXPECT_EQ(countFiles(dir.file("out")), 0u);
}
