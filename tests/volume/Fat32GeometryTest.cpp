// FAT32 geometry that is legal but wrong, and a FAT size that claims far
// more than the volume holds: a warning before the sweep, and a FAT read
// bounded by the clusters the data area can hold.
#include "CDiskImageMaker.h"
#include "CFaultyDevice.h"
#include "CHandmadeFat32.h"
#include "CTempDir.h"
#include "platform/CFileDevice.h"
#include "volume/CFAT32VolumeAccess.h"
#include "volume/CSweepWarnings.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Writes bytes at offset into the file at path.
void patch(const std::string& path, off_t offset, const std::vector<unsigned char>& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), offset), ssize_t(bytes.size()));
    ::close(fd);
}

std::unique_ptr<CFAT32VolumeAccess> openQuietly(const std::string& path) {
    ::testing::internal::CaptureStdout();
    auto access = std::make_unique<CFAT32VolumeAccess>(CFileDevice::open(path));
    ::testing::internal::GetCapturedStdout();
    return access;
}

} // namespace

TEST(Fat32Geometry, WrongClusterSizeIsToldByTheRootDirectory) {
    for (const char* tool : {"mkfs.vfat", "mmd", "mcopy"})
        if (!CDiskImageMaker::haveTool(tool))
            GTEST_SKIP() << tool << " is not installed";
    CTempDir dir;
    const std::string img = dir.file("card.img");
    const std::string q = CDiskImageMaker::quote(img);
    CTempDir::writeFile(dir.file("photo.jpg"), std::vector<unsigned char>(3000, 0x42));
    ASSERT_TRUE(CDiskImageMaker::run("truncate -s 40M " + q + " && mkfs.vfat -F 32 -s 1 " + q +
                                     " && mmd -i " + q + " ::/DCIM && mcopy -i " + q + " " +
                                     CDiskImageMaker::quote(dir.file("photo.jpg")) +
                                     " ::/DCIM/photo.jpg"));
    const auto original = CTempDir::readFile(img);
    struct Case {
        const char* label;
        size_t offset;
        std::vector<unsigned char> bytes;
        const char* says; // "" for no warning
    } cases[] = {
        {"as formatted", 0x0D, {1}, ""},
        {"128 sectors per cluster on a volume formatted with 1",
         0x0D,
         {128},
         "does not hold that folder"},
        {"2 sectors per cluster", 0x0D, {2}, "does not hold that folder"},
        {"root directory far past the volume",
         0x2C,
         {0x00, 0x00, 0x00, 0x0F},
         "outside the volume"},
        {"root directory on the folder's file", 0x2C, {0x04, 0, 0, 0}, "does not look like"},
    };
    for (const auto& c : cases) {
        CTempDir::writeFile(img, original);
        patch(img, off_t(c.offset), c.bytes);
        auto access = openQuietly(img);
        const std::string warning = access->rootDirectoryWarning();
        if (*c.says == '\0')
            EXPECT_EQ(warning, "") << c.label;
        else
            EXPECT_NE(warning.find(c.says), std::string::npos) << c.label << ": " << warning;
    }
}

TEST(Fat32Geometry, HugeFatSizeFieldReadsOnlyWhatTheDataAreaNeeds) {
    // One FAT that claims 2^21 sectors (1 GiB), on a sparse 1.5 GiB image:
    // the data area behind it holds 131072 clusters of 8 sectors.
    CTempDir dir;
    tagFat32Layout layout;
    layout.fats = 1;
    layout.fatSectors = 1;
    layout.dataSectors = 8;
    auto bytes = CHandmadeFat32::make(layout, {});
    bytes.resize(512);
    CHandmadeFat32::put32(bytes, 0x24, 1u << 21);
    CTempDir::writeFile(dir.file("huge-fat.img"), bytes);
    const off_t size = (off_t(32) + (off_t(1) << 21) + 8 * 131072) * 512;
    ASSERT_EQ(::truncate(dir.file("huge-fat.img").c_str(), size), 0);
    auto access = openQuietly(dir.file("huge-fat.img"));
    EXPECT_EQ(access->firstClusterPastDevice(), 2u + 131072);
    // Entries held: the clusters on the volume, in whole sectors, not the
    // 268 million the size field claims.
    EXPECT_LE(access->getClusterCount(), 2u + 131072 + 128);
    EXPECT_GE(access->getClusterCount(), 2u + 131072);
    EXPECT_FALSE(access->isClusterUsed(131073));
    EXPECT_TRUE(access->isClusterUsed(131074));
}

TEST(SweepWarnings, UnreadableBootSectorUnderAutoIsNotASilentRawSweep) {
    CTempDir dir;
    CTempDir::writeFile(dir.file("card.img"), std::vector<unsigned char>(64 * 512, 0));
    auto device = std::make_shared<CFaultyDevice>(CFileDevice::open(dir.file("card.img")));
    using Choice = CVolumeOpener::Choice;
    using Kind = CVolumeOpener::Kind;
    EXPECT_EQ(CSweepWarnings::rawFallback(*device, Choice::Auto, Kind::Raw), "");
    device->badRanges = {{0, 512}};
    const std::string warning = CSweepWarnings::rawFallback(*device, Choice::Auto, Kind::Raw);
    EXPECT_NE(warning.find("boot sector"), std::string::npos) << warning;
    EXPECT_NE(warning.find("Input/output error"), std::string::npos) << warning;
    EXPECT_NE(warning.find("every sector is swept"), std::string::npos) << warning;
    // Chosen on purpose, a raw sweep needs no warning.
    EXPECT_EQ(CSweepWarnings::rawFallback(*device, Choice::Raw, Kind::Raw), "");
}
