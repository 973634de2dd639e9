#include "CDiskImageMaker.h"
#include "CJpegMaker.h"
#include "CRecordingFrontEnd.h"
#include "CTempDir.h"
#include "CVolumeSweep.h"
#include "platform/CFileDevice.h"
#include "scan/CScanner.h"
#include "volume/CFAT32VolumeAccess.h"
#include "volume/CVolumeOpener.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

// Whole sweeps over images made by the file-system tools: a FAT32 card with
// photos copied in and some deleted again, and an ext4 volume swept raw.

namespace {

using Bytes = std::vector<unsigned char>;

class Fat32CardSweep : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* tool : {"mkfs.vfat", "mcopy", "mdel"})
            if (!CDiskImageMaker::haveTool(tool))
                GTEST_SKIP() << tool << " is not installed";
        photos = CVolumeSweep::makePhotos(8);
        image = dir.file("card.img");
        // mtools takes a FAT of fewer than 65525 clusters for FAT16: 72 MiB of
        // 1 KiB clusters is enough for FAT32.
        const std::string img = CDiskImageMaker::quote(image);
        ASSERT_TRUE(
            CDiskImageMaker::run("truncate -s 72M " + img + " && mkfs.vfat -F 32 -s 2 " + img));
        for (size_t i = 0; i < photos.size(); ++i) {
            const std::string name = "IMG_" + std::to_string(i) + ".JPG";
            CTempDir::writeFile(dir.file(name), photos[i]);
            ASSERT_TRUE(CDiskImageMaker::run(
                "mcopy -i " + img + " " + CDiskImageMaker::quote(dir.file(name)) + " ::/" + name));
        }
        for (size_t i : deleted)
            ASSERT_TRUE(
                CDiskImageMaker::run("mdel -i " + img + " ::/IMG_" + std::to_string(i) + ".JPG"));
    }

    std::vector<Bytes> deletedPhotos() const {
        std::vector<Bytes> wanted;
        for (size_t i : deleted)
            wanted.push_back(photos[i]);
        std::sort(wanted.begin(), wanted.end());
        return wanted;
    }

    CTempDir dir;
    std::vector<Bytes> photos;
    const std::vector<size_t> deleted = {1, 4, 5};
    std::string image;
};

TEST_F(Fat32CardSweep, RecoversExactlyTheDeletedPhotos) {
    tagSweep result = CVolumeSweep::run(image, CVolumeOpener::Choice::Auto, dir, "out");
    EXPECT_EQ(result.fileSystem, "FAT32");
    EXPECT_EQ(result.kind, CVolumeOpener::Kind::Fat32);
    EXPECT_EQ(result.recovered, deletedPhotos()); // byte for byte, and nothing else
    EXPECT_EQ(result.unreadable, 0u);
    EXPECT_EQ(result.output.find("Error"), std::string::npos) << result.output;
}

TEST_F(Fat32CardSweep, RawChoiceSweepsTheAllocatedPhotosToo) {
    tagSweep result = CVolumeSweep::run(image, CVolumeOpener::Choice::Raw, dir, "out");
    EXPECT_EQ(result.kind, CVolumeOpener::Kind::Raw);
    std::vector<Bytes> all = photos;
    std::sort(all.begin(), all.end());
    EXPECT_EQ(result.recovered, all);
}

// A card image cut short: its FAT still describes clusters beyond the end
// of the image, all of them zero. They are not swept, no read fails, and the
// deleted photos on what remains still come back.
TEST_F(Fat32CardSweep, TruncatedImageSweepsOnlyWhatIsThere) {
    std::filesystem::resize_file(image, 8 * 1024 * 1024);
    ::testing::internal::CaptureStdout();
    {
        CFAT32VolumeAccess access(CFileDevice::open(image));
        EXPECT_LT(access.firstClusterPastDevice(), access.getClusterCount() / 2);
        EXPECT_TRUE(access.isClusterUsed(access.firstClusterPastDevice()));
        EXPECT_TRUE(access.isClusterUsed(access.getClusterCount() - 1));
    }
    ::testing::internal::GetCapturedStdout();
    tagSweep result = CVolumeSweep::run(image, CVolumeOpener::Choice::Fat32, dir, "out");
    EXPECT_EQ(result.recovered, deletedPhotos());
    EXPECT_EQ(result.unreadable, 0u);
    EXPECT_EQ(result.output.find("Error"), std::string::npos) << result.output;
}

TEST(OtherFileSystemSweep, Ext4RawChoiceSweepsTheLiveFilesToo) {
    if (!CDiskImageMaker::haveTool("mke2fs"))
        GTEST_SKIP() << "mke2fs is not installed";
    CTempDir dir;
    std::filesystem::create_directory(dir.file("files"));
    std::vector<Bytes> photos = CVolumeSweep::makePhotos(4);
    for (size_t i = 0; i < photos.size(); ++i)
        CTempDir::writeFile(dir.file("files/photo" + std::to_string(i) + ".jpg"), photos[i]);
    const std::string image = dir.file("ext4.img");
    ASSERT_TRUE(CDiskImageMaker::run("mke2fs -q -t ext4 -d " +
                                     CDiskImageMaker::quote(dir.file("files")) + " " +
                                     CDiskImageMaker::quote(image) + " 8M"));
    tagSweep result = CVolumeSweep::run(image, CVolumeOpener::Choice::Raw, dir, "out");
    EXPECT_EQ(result.fileSystem, "ext4");
    EXPECT_EQ(result.kind, CVolumeOpener::Kind::Raw);
    std::sort(photos.begin(), photos.end());
    EXPECT_EQ(result.recovered, photos); // raw: live files are found as well
}

} // namespace
