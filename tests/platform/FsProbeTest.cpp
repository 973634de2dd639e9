#include "CDiskImageMaker.h"
#include "CTempDir.h"
#include "platform/CFsProbe.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

namespace {

struct tagProbeCase {
    const char* name;
    const char* tool;
    const char* format; // shell command; %s is the image
    const char* expected;
};

class FsProbe : public ::testing::TestWithParam<tagProbeCase> {};

TEST_P(FsProbe, NamesTheFileSystemByPathAndByDescriptor) {
    const tagProbeCase& c = GetParam();
    if (*c.tool && !CDiskImageMaker::haveTool(c.tool))
        GTEST_SKIP() << c.tool << " is not installed";
    CTempDir dir;
    const std::string image = dir.file("volume.img");
    ASSERT_TRUE(CDiskImageMaker::run("truncate -s 16M " + CDiskImageMaker::quote(image)));
    if (*c.format) {
        char command[256];
        std::snprintf(command, sizeof command, c.format, CDiskImageMaker::quote(image).c_str());
        ASSERT_TRUE(CDiskImageMaker::run(command)) << command;
    }
    EXPECT_EQ(CFsProbe::probePath(image), c.expected);

    int fd = ::open(image.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ::lseek(fd, 12345, SEEK_SET); // the descriptor's position does not matter
    EXPECT_EQ(CFsProbe::probeDescriptor(fd), c.expected);
    EXPECT_EQ(::lseek(fd, 0, SEEK_CUR), 12345); // and is left as it was
    ::close(fd);
}

const tagProbeCase kProbeCases[] = {
    {"Fat32", "mkfs.vfat", "mkfs.vfat -F 32 %s", "FAT32"},
    {"Fat16", "mkfs.vfat", "mkfs.vfat -F 16 %s", "FAT16"},
    {"Fat12", "mkfs.vfat", "mkfs.vfat -F 12 %s", "FAT12"},
    {"Ext4", "mke2fs", "mke2fs -q -t ext4 %s", "ext4"},
    {"Ntfs", "mkntfs", "mkntfs -q -F %s", "NTFS"},
    {"ExFat", "mkfs.exfat", "mkfs.exfat %s", "exfat"},
    {"Nothing", "", "", ""},
};

INSTANTIATE_TEST_SUITE_P(Images, FsProbe, ::testing::ValuesIn(kProbeCases),
                         [](const auto& test) { return std::string(test.param.name); });

TEST(FsProbeNames, OnlyNtfsAndTheFatWidthsAreRenamed) {
    EXPECT_EQ(CFsProbe::volumeName("ntfs", ""), "NTFS");
    EXPECT_EQ(CFsProbe::volumeName("vfat", "FAT32"), "FAT32");
    EXPECT_EQ(CFsProbe::volumeName("vfat", "FAT16"), "FAT16");
    EXPECT_EQ(CFsProbe::volumeName("vfat", "FAT12"), "FAT12");
    EXPECT_EQ(CFsProbe::volumeName("vfat", ""), "vfat");
    EXPECT_EQ(CFsProbe::volumeName("exfat", "1.0"), "exfat");
    EXPECT_EQ(CFsProbe::volumeName("", ""), "");
}

TEST(FsProbeNames, UnreadableSourcesGiveNoName) {
    EXPECT_EQ(CFsProbe::probePath("/nonexistent/vallora.img"), "");
    EXPECT_EQ(CFsProbe::probeDescriptor(-1), "");
    CTempDir dir;
    EXPECT_EQ(CFsProbe::probePath(dir.path()), ""); // a directory
}

} // namespace

TEST(FsProbeSerial, TheFileSystemsOwnIdentifier) {
    if (!CDiskImageMaker::haveTool("mkfs.vfat"))
        GTEST_SKIP() << "mkfs.vfat is not installed";
    CTempDir dir;
    const std::string image = CDiskImageMaker::quote(dir.file("volume.img"));
    const std::string blank = CDiskImageMaker::quote(dir.file("blank.img"));
    ASSERT_TRUE(CDiskImageMaker::run("truncate -s 16M " + image + " " + blank +
                                     " && mkfs.vfat -F 32 -i 1a2b3c4d " + image + " >/dev/null"));
    for (const auto& [path, serial] :
         {std::pair{dir.file("volume.img"), "1A2B-3C4D"}, std::pair{dir.file("blank.img"), ""}}) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        ::lseek(fd, 777, SEEK_SET);
        EXPECT_EQ(CFsProbe::volumeSerial(fd), serial) << path;
        EXPECT_EQ(::lseek(fd, 0, SEEK_CUR), 777);
        ::close(fd);
    }
    EXPECT_EQ(CFsProbe::volumeSerial(-1), "");
}
