#include "CDiskImageMaker.h"
#include "CHandmadeFat32.h"
#include "CMemoryDevice.h"
#include "CTempDir.h"
#include "platform/CFileDevice.h"
#include "volume/CFAT32VolumeAccess.h"
#include "volume/CRawVolumeAccess.h"
#include "volume/CVolumeOpenError.h"
#include "volume/CVolumeOpener.h"

#include <gtest/gtest.h>

namespace {

using Choice = CVolumeOpener::Choice;
using Kind = CVolumeOpener::Kind;

TEST(VolumeOpener, ParsesChoices) {
    Choice choice = Choice::Raw;
    for (auto [text, expected] : {std::pair{"auto", Choice::Auto},
                                  {"raw", Choice::Raw},
                                  {"fat32", Choice::Fat32},
                                  {"ntfs", Choice::Ntfs},
                                  {"exfat", Choice::ExFat},
                                  {"fat", Choice::Fat},
                                  {"ext", Choice::Ext}}) {
        ASSERT_TRUE(CVolumeOpener::parseChoice(text, choice)) << text;
        EXPECT_EQ(choice, expected);
        EXPECT_STREQ(CVolumeOpener::choiceText(expected), text);
    }
    choice = Choice::Raw;
    for (const char* bad : {"", "FAT32", "fat16", "exFAT", "ext4", "auto "})
        EXPECT_FALSE(CVolumeOpener::parseChoice(bad, choice)) << bad;
    EXPECT_EQ(choice, Choice::Raw);
}

TEST(VolumeOpener, AutoFollowsOnlyTheExactNames) {
    struct {
        Choice choice;
        const char* fileSystem;
        Kind kind;
    } cases[] = {
        {Choice::Auto, "FAT32", Kind::Fat32}, {Choice::Auto, "NTFS", Kind::Ntfs},
        {Choice::Auto, "fat32", Kind::Raw},   {Choice::Auto, "ntfs", Kind::Raw},
        {Choice::Auto, "vfat", Kind::Raw},    {Choice::Auto, "ext4", Kind::Ext},
        {Choice::Auto, "FAT12", Kind::Fat},   {Choice::Auto, "FAT16", Kind::Fat},
        {Choice::Auto, "exfat", Kind::ExFat}, {Choice::Auto, "ext2", Kind::Ext},
        {Choice::Auto, "ext3", Kind::Ext},    {Choice::Auto, "btrfs", Kind::Raw},
        {Choice::Auto, "jbd", Kind::Raw},     {Choice::Fat, "FAT32", Kind::Fat},
        {Choice::ExFat, "", Kind::ExFat},     {Choice::Ext, "NTFS", Kind::Ext},
        {Choice::Auto, "", Kind::Raw},        {Choice::Raw, "FAT32", Kind::Raw},
        {Choice::Fat32, "ext4", Kind::Fat32}, {Choice::Ntfs, "", Kind::Ntfs},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CVolumeOpener::resolve(c.choice, c.fileSystem), c.kind)
            << CVolumeOpener::choiceText(c.choice) << " " << c.fileSystem;
}

TEST(VolumeOpener, BuildsTheChosenAccessAndCountsFreeClusters) {
    auto device = std::make_shared<CMemoryDevice>(
        CHandmadeFat32::make(tagFat32Layout{}, {{0, 0x0FFFFFF8},
                                                {1, 0x0FFFFFFF},
                                                {2, 0x0FFFFFFF},
                                                {3, 4},
                                                {4, 0x0FFFFFFF},
                                                {900, 0x10000000}}));
    EXPECT_EQ(CVolumeOpener::detect(*device), ""); // no file behind a memory device

    ::testing::internal::CaptureStdout();
    auto fat32 = CVolumeOpener::build(Kind::Fat32, device);
    ::testing::internal::GetCapturedStdout();
    ASSERT_NE(dynamic_cast<CFAT32VolumeAccess*>(fat32.get()), nullptr);
    tagVolumeGeometry g = CVolumeOpener::geometry(Kind::Fat32, *fat32);
    EXPECT_EQ(g.sectorSize, 512u);
    EXPECT_EQ(g.clusterSize, 4096u);
    EXPECT_EQ(g.clusterCount, 128000u);
    EXPECT_EQ(g.freeClusters, 1000u - 4); // clusters 2..1001 lie on the device

    EXPECT_EQ(CVolumeOpener::describe("FAT32", Choice::Auto, Kind::Fat32, g),
              "File system: FAT32\nAccess: FAT32 (auto)\nSector size: 512 bytes\n"
              "Cluster size: 4096 bytes\nClusters: 128000, free: 996\n");

    auto raw = CVolumeOpener::build(Kind::Raw, device);
    ASSERT_NE(dynamic_cast<CRawVolumeAccess*>(raw.get()), nullptr);
    g = CVolumeOpener::geometry(Kind::Raw, *raw);
    EXPECT_EQ(g.clusterCount, device->bytes.size() / 512);
    EXPECT_EQ(g.freeClusters, g.clusterCount);
    EXPECT_NE(CVolumeOpener::describe("", Choice::Raw, Kind::Raw, g)
                  .find("File system: not recognised\nAccess: raw (chosen)\n"),
              std::string::npos);
}

TEST(VolumeOpener, NtfsBuildExplainsARefusal) {
    auto device = std::make_shared<CMemoryDevice>(std::vector<unsigned char>(4096));
    try {
        CVolumeOpener::build(Kind::Ntfs, device);
        FAIL() << "an NTFS access was built";
    } catch (const CVolumeOpenError& e) {
        EXPECT_EQ(e.reason(), "not an NTFS volume (the boot sector does not name NTFS)");
    }
}

TEST(VolumeOpener, FailedFat32BuildThrows) {
    auto device = std::make_shared<CMemoryDevice>(std::vector<unsigned char>(64 * 1024));
    ::testing::internal::CaptureStdout();
    EXPECT_THROW(CVolumeOpener::build(Kind::Fat32, device), CVolumeOpenError);
    ::testing::internal::GetCapturedStdout();
}

TEST(VolumeOpener, OpensAnImageFileByItsDetectedFileSystem) {
    if (!CDiskImageMaker::haveTool("mkfs.vfat"))
        GTEST_SKIP() << "mkfs.vfat is not installed";
    CTempDir dir;
    const std::string image = CDiskImageMaker::quote(dir.file("card.img"));
    ASSERT_TRUE(CDiskImageMaker::run("truncate -s 8M " + image + " && mkfs.vfat -F 32 " + image));
    ::testing::internal::CaptureStdout();
    auto opened = CVolumeOpener::open(CFileDevice::open(dir.file("card.img")), Choice::Auto);
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(opened.fileSystem, "FAT32");
    EXPECT_EQ(opened.kind, Kind::Fat32);
    ASSERT_NE(dynamic_cast<CFAT32VolumeAccess*>(opened.access.get()), nullptr);

    opened = CVolumeOpener::open(CFileDevice::open(dir.file("card.img")), Choice::Raw);
    EXPECT_EQ(opened.fileSystem, "FAT32");
    EXPECT_EQ(opened.kind, Kind::Raw);
    EXPECT_EQ(opened.access->getClusterCount(), 8u * 2048);
}

} // namespace
