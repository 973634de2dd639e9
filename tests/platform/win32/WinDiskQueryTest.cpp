#include "CRecordedIoctl.h"
#include "platform/win32/CWinDiskQuery.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <winioctl.h>

namespace {

GET_LENGTH_INFORMATION lengthOf(int64_t bytes) {
    GET_LENGTH_INFORMATION length{};
    length.Length.QuadPart = bytes;
    return length;
}

STORAGE_ACCESS_ALIGNMENT_DESCRIPTOR alignment(DWORD logical, DWORD physical) {
    STORAGE_ACCESS_ALIGNMENT_DESCRIPTOR answer{};
    answer.Version = sizeof answer;
    answer.Size = sizeof answer;
    answer.BytesPerLogicalSector = logical;
    answer.BytesPerPhysicalSector = physical;
    return answer;
}

DISK_GEOMETRY_EX driveGeometry(DWORD sector) {
    DISK_GEOMETRY_EX answer{};
    answer.Geometry.BytesPerSector = sector;
    answer.Geometry.MediaType = RemovableMedia;
    return answer;
}

// A VOLUME_DISK_EXTENTS answer naming the disks, possibly claiming more
// extents than it holds.
std::vector<unsigned char> extents(const std::vector<DWORD>& disks, DWORD claimed) {
    const size_t head = offsetof(VOLUME_DISK_EXTENTS, Extents);
    std::vector<unsigned char> bytes(head + disks.size() * sizeof(DISK_EXTENT), 0);
    std::memcpy(bytes.data(), &claimed, sizeof claimed);
    for (size_t k = 0; k < disks.size(); ++k) {
        DISK_EXTENT extent{};
        extent.DiskNumber = disks[k];
        extent.ExtentLength.QuadPart = 1 << 20;
        std::memcpy(bytes.data() + head + k * sizeof extent, &extent, sizeof extent);
    }
    return bytes;
}

STORAGE_DEVICE_NUMBER deviceNumber(DEVICE_TYPE type, DWORD number) {
    STORAGE_DEVICE_NUMBER answer{};
    answer.DeviceType = type;
    answer.DeviceNumber = number;
    answer.PartitionNumber = 1;
    return answer;
}

} // namespace

TEST(WinDiskQuery, TakesSizeAndSectorSizesFromTheStorageAnswers) {
    // A 4Kn disk: the alignment descriptor answers.
    CRecordedIoctl disk;
    disk.answer(IOCTL_DISK_GET_LENGTH_INFO, lengthOf(int64_t(64) << 30));
    disk.answer(IOCTL_STORAGE_QUERY_PROPERTY, alignment(4096, 4096));
    disk.answer(IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, driveGeometry(512));
    tagWinDiskGeometry geometry;
    std::string reason;
    ASSERT_TRUE(CWinDiskQuery::geometry(disk, geometry, reason)) << reason;
    EXPECT_EQ(geometry.bytes, uint64_t(64) << 30);
    EXPECT_EQ(geometry.logicalSector, 4096u);
    EXPECT_EQ(geometry.physicalSector, 4096u);

    // A card reader whose driver does not answer the property query: the
    // drive geometry gives the sector size.
    CRecordedIoctl card;
    card.answer(IOCTL_DISK_GET_LENGTH_INFO, lengthOf(int64_t(31) << 30));
    card.fail(IOCTL_STORAGE_QUERY_PROPERTY, 50); // ERROR_NOT_SUPPORTED
    card.answer(IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, driveGeometry(512));
    ASSERT_TRUE(CWinDiskQuery::geometry(card, geometry, reason)) << reason;
    EXPECT_EQ(geometry.bytes, uint64_t(31) << 30);
    EXPECT_EQ(geometry.logicalSector, 512u);
    EXPECT_EQ(geometry.physicalSector, 0u);
}

TEST(WinDiskQuery, RefusesAnswersNoDeviceCanGive) {
    struct tagCase {
        const char* what;
        int64_t length;        // 0: the length request fails
        DWORD alignmentSector; // 0: the property request fails
        DWORD geometrySector;  // 0: the geometry request fails
    };
    const tagCase cases[] = {
        {"no length answer", 0, 512, 512},        {"no medium (length 0)", -1, 512, 512},
        {"no sector size at all", 1 << 20, 0, 0}, {"sector size 520", 1 << 20, 0, 520},
        {"sector size 256", 1 << 20, 0, 256},
    };
    for (const auto& c : cases) {
        CRecordedIoctl device;
        if (c.length > 0)
            device.answer(IOCTL_DISK_GET_LENGTH_INFO, lengthOf(c.length));
        else if (c.length < 0)
            device.answer(IOCTL_DISK_GET_LENGTH_INFO, lengthOf(0));
        if (c.alignmentSector)
            device.answer(IOCTL_STORAGE_QUERY_PROPERTY, alignment(c.alignmentSector, 0));
        if (c.geometrySector)
            device.answer(IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, driveGeometry(c.geometrySector));
        tagWinDiskGeometry geometry;
        std::string reason;
        EXPECT_FALSE(CWinDiskQuery::geometry(device, geometry, reason)) << c.what;
        EXPECT_FALSE(reason.empty()) << c.what;
    }
    // A short answer is no answer.
    CRecordedIoctl shortAnswer;
    shortAnswer.answer(IOCTL_DISK_GET_LENGTH_INFO, std::vector<unsigned char>(4, 0xFF));
    tagWinDiskGeometry geometry;
    std::string reason;
    EXPECT_FALSE(CWinDiskQuery::geometry(shortAnswer, geometry, reason));
}

TEST(WinDiskQuery, NamesTheDisksUnderAVolume) {
    std::set<uint32_t> disks;
    // A volume spanning two disks.
    CRecordedIoctl spanned;
    spanned.answer(IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, extents({1, 3}, 2));
    ASSERT_TRUE(CWinDiskQuery::disks(spanned, disks));
    EXPECT_EQ(disks, (std::set<uint32_t>{1, 3}));

    // An answer claiming more extents than it holds is read only as far as
    // it goes.
    disks.clear();
    CRecordedIoctl lying;
    lying.answer(IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, extents({4}, 1000));
    ASSERT_TRUE(CWinDiskQuery::disks(lying, disks));
    EXPECT_EQ(disks, (std::set<uint32_t>{4}));

    // A whole disk has no extents: its device number names it.
    disks.clear();
    CRecordedIoctl disk;
    disk.answer(IOCTL_STORAGE_GET_DEVICE_NUMBER, deviceNumber(FILE_DEVICE_DISK, 2));
    ASSERT_TRUE(CWinDiskQuery::disks(disk, disks));
    EXPECT_EQ(disks, (std::set<uint32_t>{2}));

    // A CD-ROM, or an image file that answers neither, names no disk.
    disks.clear();
    CRecordedIoctl cdrom;
    cdrom.answer(IOCTL_STORAGE_GET_DEVICE_NUMBER, deviceNumber(FILE_DEVICE_CD_ROM, 0));
    EXPECT_FALSE(CWinDiskQuery::disks(cdrom, disks));
    CRecordedIoctl file;
    EXPECT_FALSE(CWinDiskQuery::disks(file, disks));
    EXPECT_TRUE(disks.empty());
}

TEST(WinDiskQuery, AsksForExtendedReadsOnVolumes) {
    CRecordedIoctl volume;
    volume.answer(FSCTL_ALLOW_EXTENDED_DASD_IO, std::vector<unsigned char>());
    EXPECT_TRUE(CWinDiskQuery::allowExtendedReads(volume));
    EXPECT_EQ(volume.asked, std::vector<uint32_t>{FSCTL_ALLOW_EXTENDED_DASD_IO});
    CRecordedIoctl disk;
    EXPECT_FALSE(CWinDiskQuery::allowExtendedReads(disk));
}
