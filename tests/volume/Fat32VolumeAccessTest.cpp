#include "CHandmadeFat32.h"
#include "CMemoryDevice.h"
#include "CTempDir.h"
#include "volume/CFAT32VolumeAccess.h"
#include "volume/CVolumeOpenError.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>

namespace {

uint32_t firstWord(const unsigned char* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24);
}

const std::map<uint32_t, uint32_t> kEntries = {
    {0, 0x0FFFFFF8}, {1, 0x0FFFFFFF}, {2, 0x0FFFFFFF}, {4, 0x10000000},
    {5, 0x00000006}, {6, 0x0FFFFFF7}, {7, 0x01000000}, {8, 0x00000100},
};

class FAT32VolumeAccessTest : public ::testing::Test {
protected:
    void SetUp() override {
        device = std::make_shared<CMemoryDevice>(CHandmadeFat32::make(tagFat32Layout{}, kEntries));
        ::testing::internal::CaptureStdout();
        access = std::make_unique<CFAT32VolumeAccess>(device);
        output = ::testing::internal::GetCapturedStdout();
        device->reads.clear();
    }
    std::shared_ptr<CMemoryDevice> device;
    std::unique_ptr<CFAT32VolumeAccess> access;
    std::string output;
};

TEST_F(FAT32VolumeAccessTest, ReportsGeometryAndDiagnosticLines) {
    EXPECT_EQ(output,
              "Sector size is 512 bytes\nBoot sector size = 90 Bytes\nReading FATs Data...DONE!\n");
    EXPECT_EQ(access->getSectorSize(), 512u);
    EXPECT_EQ(access->getClusterSize(), 4096u);
    // Every entry of one FAT, reserved ones and those past the last cluster included.
    EXPECT_EQ(access->getClusterCount(), 1000u * 512 / 4);
    EXPECT_EQ(access->sectorsPerCluster(), 8u);
    EXPECT_EQ(access->reservedSectors(), 32u);
    EXPECT_EQ(access->numberOfFats(), 2u);
    EXPECT_EQ(access->sectorsPerFat(), 1000u);
    EXPECT_EQ(access->firstClusterPastDevice(), 1002u);
    EXPECT_TRUE(std::equal(access->bootSectorBytes().begin(), access->bootSectorBytes().end(),
                           device->bytes.begin()));
}

TEST(FAT32VolumeAccessLoad, ReadsTheWholeFirstFatWithOneRead) {
    auto device = std::make_shared<CMemoryDevice>(CHandmadeFat32::make(tagFat32Layout{}, kEntries));
    ::testing::internal::CaptureStdout();
    CFAT32VolumeAccess access(device);
    ::testing::internal::GetCapturedStdout();
    ASSERT_EQ(device->reads.size(), 2u);
    EXPECT_EQ(device->reads[0], (CMemoryDevice::tagRead{0, 512}));
    EXPECT_EQ(device->reads[1], (CMemoryDevice::tagRead{32 * 512, 1000 * 512}));
}

TEST_F(FAT32VolumeAccessTest, ClusterIsUsedWhenItsWholeEntryIsNonZero) {
    EXPECT_TRUE(access->isClusterUsed(0));
    EXPECT_TRUE(access->isClusterUsed(1));
    EXPECT_TRUE(access->isClusterUsed(2));  // end of chain
    EXPECT_FALSE(access->isClusterUsed(3)); // zero: free
    EXPECT_TRUE(access->isClusterUsed(4));  // only the upper reserved bits set
    EXPECT_TRUE(access->isClusterUsed(5));  // next-cluster number
    EXPECT_TRUE(access->isClusterUsed(6));  // bad cluster
    EXPECT_TRUE(access->isClusterUsed(7));  // entries are read little-endian, whole
    EXPECT_TRUE(access->isClusterUsed(8));
    EXPECT_FALSE(access->isClusterUsed(9)); // the second FAT copy is not consulted
    EXPECT_FALSE(access->isClusterUsed(1001));
}

TEST_F(FAT32VolumeAccessTest, ClustersPastTheDeviceEndCountAsUsed) {
    // The FAT has zero entries up to 127999, but the device ends after cluster 1001.
    for (uint32_t cluster : {1002u, 1003u, 50000u, 127999u})
        EXPECT_TRUE(access->isClusterUsed(cluster)) << cluster;
    EXPECT_TRUE(access->isClusterUsed(128000)); // beyond the FAT
}

TEST_F(FAT32VolumeAccessTest, NumbersSectorsFromTheFirstFat) {
    EXPECT_EQ(access->clusterToSector(2), 2000u);
    EXPECT_EQ(access->clusterToSector(5), 2024u);
    EXPECT_EQ(access->clusterToSector(1001), 2000u + 8 * 999);
}

TEST_F(FAT32VolumeAccessTest, ReadClustersReadsWholeClustersAtTheirDeviceSectors) {
    std::vector<unsigned char> buffer(2 * 4096, 0xEE);
    ASSERT_TRUE(access->readClusters(5, 6, buffer.data()));
    ASSERT_EQ(device->reads.size(), 1u);
    EXPECT_EQ(device->reads[0], (CMemoryDevice::tagRead{2056ull * 512, 16 * 512}));
    for (uint32_t k = 0; k < 16; ++k)
        EXPECT_EQ(firstWord(&buffer[k * 512]), 2056 + k);
}

TEST_F(FAT32VolumeAccessTest, ReadSectorsSkipsTheReservedSectors) {
    std::vector<unsigned char> buffer(512);
    ASSERT_TRUE(access->readSectors(0, 0, buffer.data()));
    EXPECT_EQ(device->reads.back(), (CMemoryDevice::tagRead{32 * 512, 512}));
    EXPECT_EQ(firstWord(buffer.data()), 0x0FFFFFF8u); // FAT entry 0, not the boot sector
    ASSERT_TRUE(access->readSectors(2007, 2007, buffer.data()));
    EXPECT_EQ(firstWord(buffer.data()), 2039u);
}

TEST_F(FAT32VolumeAccessTest, ReadFailureIsReportedAndReadPastTheEndGivesZeros) {
    std::vector<unsigned char> buffer(4096, 0xEE);
    ASSERT_TRUE(access->readClusters(1002, 1002, buffer.data()));
    EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](unsigned char c) { return c == 0; }));

    device->failFrom = 0;
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(access->readClusters(2, 2, buffer.data()));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "Error reading from the device, Code: 0x5\n");
}

TEST(FAT32VolumeAccessLoad, ReservedClustersStayUsedWhenTheirEntriesAreZero) {
    auto device = std::make_shared<CMemoryDevice>(CHandmadeFat32::make(tagFat32Layout{}, {}));
    ::testing::internal::CaptureStdout();
    CFAT32VolumeAccess access(device);
    ::testing::internal::GetCapturedStdout();
    EXPECT_TRUE(access.isClusterUsed(0));
    EXPECT_TRUE(access.isClusterUsed(1));
    EXPECT_FALSE(access.isClusterUsed(2));
}

TEST(FAT32VolumeAccessLoad, PartialLastClusterCountsAsUsed) {
    tagFat32Layout layout;
    layout.dataSectors = 8 * 10 + 5; // ten whole clusters and part of an eleventh
    auto device = std::make_shared<CMemoryDevice>(CHandmadeFat32::make(layout, {}));
    ::testing::internal::CaptureStdout();
    CFAT32VolumeAccess access(device);
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(access.firstClusterPastDevice(), 12u);
    EXPECT_FALSE(access.isClusterUsed(11));
    EXPECT_TRUE(access.isClusterUsed(12));
}

TEST(FAT32VolumeAccessLoad, OtherSectorSizes) {
    tagFat32Layout layout;
    layout.sectorSize = layout.declaredSectorSize = 4096;
    layout.fatSectors = 10;
    layout.sectorsPerCluster = 1;
    layout.dataSectors = 100;
    auto device =
        std::make_shared<CMemoryDevice>(CHandmadeFat32::make(layout, {{2, 0x0FFFFFFF}}), 4096);
    ::testing::internal::CaptureStdout();
    CFAT32VolumeAccess access(device);
    EXPECT_EQ(::testing::internal::GetCapturedStdout().rfind("Sector size is 4096 bytes\n", 0), 0u);
    EXPECT_EQ(access.getClusterCount(), 10u * 4096 / 4);
    EXPECT_EQ(access.getClusterSize(), 4096u);
    EXPECT_EQ(access.firstClusterPastDevice(), 102u);
    EXPECT_TRUE(access.isClusterUsed(2));
    EXPECT_FALSE(access.isClusterUsed(3));
    std::vector<unsigned char> buffer(4096);
    ASSERT_TRUE(access.readClusters(3, 3, buffer.data()));
    EXPECT_EQ(firstWord(buffer.data()), 32u + 20 + 1);
}

struct tagBadBoot {
    const char* name;
    void (*change)(std::vector<unsigned char>&);
    const char* reason;
};

class FAT32BadBootSector : public ::testing::TestWithParam<tagBadBoot> {};

TEST_P(FAT32BadBootSector, FailsConstructionWithoutReadingTheFat) {
    tagFat32Layout layout;
    layout.dataSectors = 80;
    auto device = std::make_shared<CMemoryDevice>(CHandmadeFat32::make(layout, {}));
    GetParam().change(device->bytes);
    ::testing::internal::CaptureStdout();
    try {
        CFAT32VolumeAccess access(device);
        ::testing::internal::GetCapturedStdout();
        FAIL() << "construction succeeded";
    } catch (const CVolumeOpenError& e) {
        ::testing::internal::GetCapturedStdout();
        EXPECT_STREQ(e.what(), "Error Creating accessing the volume");
        EXPECT_NE(e.reason().find(GetParam().reason), std::string::npos) << e.reason();
    }
    EXPECT_EQ(device->reads.size(), 1u); // the boot sector only
}

using Bytes = std::vector<unsigned char>;
const tagBadBoot kBadBoots[] = {
    {"ZeroSectorsPerCluster", [](Bytes& b) { b[0x0D] = 0; }, "0 sectors per cluster"},
    {"ZeroReservedSectors", [](Bytes& b) { CHandmadeFat32::put16(b, 0x0E, 0); },
     "0 reserved sectors"},
    {"ZeroFats", [](Bytes& b) { b[0x10] = 0; }, "0 FATs"},
    {"ZeroSectorsPerFat", [](Bytes& b) { CHandmadeFat32::put32(b, 0x24, 0); }, "0 sectors per FAT"},
    {"Fat16BootSector", [](Bytes& b) { CHandmadeFat32::put16(b, 0x16, 200); }, "FAT12 or FAT16"},
    {"OtherSectorSize", [](Bytes& b) { CHandmadeFat32::put16(b, 0x0B, 4096); },
     "4096-byte sectors"},
    {"HugeFat", [](Bytes& b) { CHandmadeFat32::put32(b, 0x24, 0xFFFFFFFF); }, "more than a FAT32"},
    {"FatLargerThanDevice", [](Bytes& b) { CHandmadeFat32::put32(b, 0x24, 300000); },
     "past the end of the device"},
    {"ManyFats", [](Bytes& b) { b[0x10] = 255; }, "past the end of the device"},
    {"DeviceEndsInsideTheFats", [](Bytes& b) { b.resize(1000 * 512); },
     "past the end of the device"},
    {"NoWholeDataCluster", [](Bytes& b) { b.resize((32 + 2000 + 7) * 512); },
     "past the end of the device"},
    // Geometry no FAT32 volume can have: refused, not swept in the wrong place.
    {"ThreeSectorsPerCluster", [](Bytes& b) { b[0x0D] = 3; }, "3 sectors per cluster, which is"},
    {"SectorsPerCluster255", [](Bytes& b) { b[0x0D] = 255; }, "not a power of two"},
    {"FatTooSmallForTheData", [](Bytes& b) { CHandmadeFat32::put32(b, 0x24, 1); },
     "is too small for the"},
    {"ZeroBytesPerSector", [](Bytes& b) { CHandmadeFat32::put16(b, 0x0B, 0); },
     "gives 0 bytes per sector"},
    {"OneBytePerSector", [](Bytes& b) { CHandmadeFat32::put16(b, 0x0B, 1); },
     "gives 1 bytes per sector"},
    {"BytesPerSector65535", [](Bytes& b) { CHandmadeFat32::put16(b, 0x0B, 65535); },
     "gives 65535 bytes per sector"},
};

INSTANTIATE_TEST_SUITE_P(Values, FAT32BadBootSector, ::testing::ValuesIn(kBadBoots),
                         [](const auto& test) { return std::string(test.param.name); });

TEST(FAT32VolumeAccessLoad, FailedReadsFailConstruction) {
    auto device = std::make_shared<CMemoryDevice>(CHandmadeFat32::make(tagFat32Layout{}, {}));
    device->failFrom = 0;
    ::testing::internal::CaptureStdout();
    EXPECT_THROW(CFAT32VolumeAccess{device}, CVolumeOpenError);
    EXPECT_NE(::testing::internal::GetCapturedStdout().find("Error reading from the file 0x5\n"),
              std::string::npos);

    device->failFrom = 40 * 512; // inside the first FAT
    ::testing::internal::CaptureStdout();
    EXPECT_THROW(CFAT32VolumeAccess{device}, CVolumeOpenError);
    EXPECT_NE(::testing::internal::GetCapturedStdout().find(
                  "Reading FATs Data...Error reading from the device, Code: 0x5\n"),
              std::string::npos);

    device->bytes.resize(100); // smaller than one sector
    device->failFrom = UINT64_MAX;
    ::testing::internal::CaptureStdout();
    EXPECT_THROW(CFAT32VolumeAccess{device}, CVolumeOpenError);
    ::testing::internal::GetCapturedStdout();
}

TEST(FAT32VolumeAccessLoad, OpensByPath) {
    CTempDir dir;
    CTempDir::writeFile(dir.file("fat32.img"), CHandmadeFat32::make(tagFat32Layout{}, kEntries));
    ::testing::internal::CaptureStdout();
    CFAT32VolumeAccess access(dir.file("fat32.img"));
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(access.getClusterCount(), 128000u);
    EXPECT_FALSE(access.isClusterUsed(3));

    ::testing::internal::CaptureStdout();
    EXPECT_THROW(CFAT32VolumeAccess(dir.file("missing.img")), CVolumeOpenError);
    EXPECT_NE(::testing::internal::GetCapturedStdout().find("Error opening connection to drive"),
              std::string::npos);
}

} // namespace
