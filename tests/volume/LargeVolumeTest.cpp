// Volumes of more than 2^32 sectors: the raw access and an NTFS volume of
// 3 TiB over a sparse device, swept past 2 TiB, photos named by their full
// sector numbers.
#include "CMiniJpeg.h"
#include "CRecordingFrontEnd.h"
#include "CSparseDevice.h"
#include "CTempDir.h"
#include "scan/CScanner.h"
#include "volume/CNTFSVolumeAccess.h"
#include "volume/CRawVolumeAccess.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr uint64_t kTiB = uint64_t(1) << 40;
constexpr uint64_t k2To32 = uint64_t(1) << 32;

} // namespace

TEST(LargeVolume, RawAccessCountsAndReadsEverySectorOfASixTiBDevice) {
    auto device = std::make_shared<CSparseDevice>(6 * kTiB);
    const uint64_t sector = 2 * k2To32 + 17; // past 4 TiB
    device->put(sector * 512, miniJpeg(1));
    CRawVolumeAccess access(device);
    EXPECT_EQ(access.getClusterCount(), 6 * kTiB / 512);
    std::vector<unsigned char> bytes(1024, 0xEE);
    ASSERT_TRUE(access.readSectors(sector, sector + 1, bytes.data()));
    EXPECT_EQ(std::vector<unsigned char>(bytes.begin(), bytes.begin() + 505), miniJpeg(1));
    EXPECT_EQ(bytes[1023], 0); // zeros behind the piece
    EXPECT_EQ(access.sectorToByteOffset(sector), sector * 512);
}

TEST(LargeVolume, NtfsSweepPastTwoTiBWritesPhotosNamedByTheirFullSectorNumber) {
    // 3 TiB in 64 KiB clusters (128 sectors of 512 bytes): 50331648
    // clusters, 6442450944 sectors. Only the clusters holding photos are free.
    constexpr uint32_t kPerCluster = 128;
    constexpr uint64_t kClusters = 3 * kTiB / 65536;
    auto device = std::make_shared<CSparseDevice>(3 * kTiB);
    std::vector<uint8_t> bitmap(kClusters / 8, 0xFF);
    auto freeCluster = [&](uint64_t c) { bitmap[c / 8] &= uint8_t(~(1u << (c % 8))); };

    struct tagPhoto {
        uint64_t sector;
        std::vector<unsigned char> bytes;
    };
    const std::vector<tagPhoto> photos = {
        {k2To32 - 1, miniJpeg(3)},                         // crosses sector 2^32
        {uint64_t(40000000) * kPerCluster, miniJpeg(200)}, // two clusters, past 2.4 TiB
        {(kClusters - 1) * kPerCluster + 5, miniJpeg(1)},  // in the last cluster
    };
    for (const auto& photo : photos) {
        device->put(photo.sector * 512, photo.bytes);
        const uint64_t lastSector = photo.sector + photo.bytes.size() / 512;
        for (uint64_t c = photo.sector / kPerCluster; c <= lastSector / kPerCluster; ++c)
            freeCluster(c);
    }
    CNTFSVolumeAccess access(kPerCluster, 65536, kClusters, 512, device, bitmap.data());
    EXPECT_EQ(access.countFreeClusters(), 5u);

    CTempDir out;
    CRecordingFrontEnd ui(out.path());
    CScanner scanner(&access);
    EXPECT_EQ(scanner.run(&ui), CScanner::Outcome::Completed);
    EXPECT_EQ(ui.ranges.front(), kClusters);
    EXPECT_EQ(ui.labels[CScanFrontEnd::kTotalLabel].front(), "总扇区:6442450944");
    EXPECT_EQ(scanner.totalSectors(), 6442450944u);
    EXPECT_TRUE(scanner.sweptWhole());
    // Only the free clusters were read: 5 clusters, not 3 TiB.
    EXPECT_LE(device->bytesRead, 5u * 65536 + 200u * 512 + 4 * 512);

    std::vector<std::string> expected;
    for (const auto& photo : photos) {
        const std::string name = std::to_string(photo.sector + 1982) + ".jpg";
        expected.push_back(out.file(name));
        EXPECT_EQ(CTempDir::readFile(out.file(name)), photo.bytes) << name;
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(CTempDir::photosIn(out.path()), expected);
}
