#include "CNtfsTestImage.h"

#include "volume/CNTFSAccessBuilder.h"
#include "volume/CNTFSVolumeAccess.h"
#include "volume/CVolumeOpenError.h"

#include <gtest/gtest.h>

#include <cstring>

using Image = CNtfsTestImage;
using Record = CNtfsTestImage::CRecord;

namespace {

// Records the trace lines instead of writing them.
class CTracedAccess : public CNTFSVolumeAccess {
public:
    using CNTFSVolumeAccess::CNTFSVolumeAccess;
    std::vector<std::string> lines;

protected:
    void debugLine(const std::string& line) override { lines.push_back(line); }
};

std::string reasonOf(const Image& image) {
    try {
        CNTFSAccessBuilder(image.device()).build();
    } catch (const CVolumeOpenError& e) {
        EXPECT_STREQ(e.what(), "Error Creating accessing the volume");
        return e.reason();
    }
    return "<built>";
}

} // namespace

TEST(NTFSVolumeAccess, AnswersFromTheBitmap) {
    const uint8_t bitmap[] = {0x01, 0x80, 0xFF, 0x00};
    auto device = std::make_shared<CMemoryDevice>(std::vector<unsigned char>(), 512, 1ull << 20);
    CNTFSVolumeAccess access(8, 4096, 30, 512, device, bitmap);
    EXPECT_EQ(access.getClusterCount(), 30u);
    EXPECT_EQ(access.getClusterSize(), 4096u);
    EXPECT_EQ(access.getSectorSize(), 512u);
    EXPECT_TRUE(access.isClusterUsed(0));
    for (uint32_t n = 1; n <= 7; ++n)
        EXPECT_FALSE(access.isClusterUsed(n)) << n;
    EXPECT_FALSE(access.isClusterUsed(8)); // bit 0 of the second byte
    EXPECT_TRUE(access.isClusterUsed(15));
    EXPECT_TRUE(access.isClusterUsed(16));
    EXPECT_FALSE(access.isClusterUsed(29));
    EXPECT_EQ(access.countFreeClusters(), 30u - 10u);
    EXPECT_EQ(access.clusterToSector(3), 24u);

    const uint8_t high[] = {0x80};
    CNTFSVolumeAccess other(8, 4096, 8, 512, device, high);
    EXPECT_TRUE(other.isClusterUsed(7));
    EXPECT_FALSE(other.isClusterUsed(0));
    EXPECT_EQ(other.countFreeClusters(), 7u);
}

TEST(NTFSVolumeAccess, ReadsAtTrue64BitOffsetsAndTracesSectorReads) {
    std::vector<unsigned char> bytes(64 * 1024);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<unsigned char>(i * 13);
    auto device = std::make_shared<CMemoryDevice>(bytes, 512, 8ull << 30);
    const uint8_t bitmap[1] = {};
    CTracedAccess access(8, 4096, 8, 512, device, bitmap);
    std::vector<unsigned char> buffer(8192);

    ASSERT_TRUE(access.readClusters(3, 4, buffer.data()));
    ASSERT_EQ(device->reads.size(), 1u);
    EXPECT_EQ(device->reads[0].offset, 12288u);
    EXPECT_EQ(device->reads[0].length, 8192u);
    EXPECT_EQ(std::memcmp(buffer.data(), bytes.data() + 12288, 8192), 0);
    EXPECT_TRUE(access.lines.empty());

    ASSERT_TRUE(access.readSectors(100, 103, buffer.data()));
    EXPECT_EQ(device->reads[1].offset, 100u * 512);
    EXPECT_EQ(device->reads[1].length, 2048u);
    ASSERT_EQ(access.lines.size(), 1u);
    EXPECT_EQ(access.lines[0], "CNTFSVolumeAccess::readSectors(DWORD 开始100,结束103");

    ASSERT_TRUE(access.readSectors((1u << 23) + 1, (1u << 23) + 1, buffer.data()));
    EXPECT_EQ(device->reads[2].offset, (1ull << 32) + 512);
    ASSERT_TRUE(access.readClusters((1u << 20) + 1, (1u << 20) + 1, buffer.data()));
    EXPECT_EQ(device->reads[3].offset, (1ull << 32) + 4096);
}

TEST(NTFSVolumeAccess, KeepsWhatItBorrowsAlive) {
    auto keeper = std::make_shared<std::vector<uint8_t>>(1, 0x01);
    std::weak_ptr<std::vector<uint8_t>> watch = keeper;
    auto device = std::make_shared<CMemoryDevice>(std::vector<unsigned char>(4096));
    auto access =
        std::make_unique<CNTFSVolumeAccess>(1, 512, 8, 512, device, keeper->data(), keeper);
    keeper.reset();
    EXPECT_TRUE(access->isClusterUsed(0));
    access.reset();
    EXPECT_TRUE(watch.expired());
}

TEST(NTFSAccessBuilder, BuildsTheAccessFromTheVolumeBitmap) {
    Image image = Image::standardVolume(64);
    image.setClusterUsed(40);
    CNTFSAccessBuilder builder(image.device());
    std::unique_ptr<CNTFSVolumeAccess> access = builder.build();
    ASSERT_NE(access, nullptr);
    EXPECT_EQ(access->getClusterCount(), 64u);
    EXPECT_EQ(access->getClusterSize(), 4096u);
    EXPECT_EQ(access->getSectorSize(), 512u);
    EXPECT_EQ(access->clusterToSector(5), 40u);
    EXPECT_TRUE(access->isClusterUsed(23));
    EXPECT_FALSE(access->isClusterUsed(24));
    EXPECT_TRUE(access->isClusterUsed(40));
    EXPECT_EQ(builder.version(), 0x0301);
    EXPECT_EQ(builder.freeClusters(), 64u - 25u);
    EXPECT_EQ(builder.describe(),
              "NTFS 3.1, 512-byte sectors, 4096-byte clusters, 64 clusters, 39 free");
}

TEST(NTFSAccessBuilder, CountsClustersFromTheTotalSectors) {
    for (uint64_t sectors : {1000u, 1007u}) {
        Image::tagGeometry g;
        g.totalSectors = sectors;
        Image image = Image::standardVolume(64);
        image.geometry.totalSectors = sectors;
        for (int i = 0; i < 8; ++i)
            image.bytes[0x28 + i] = (sectors >> (8 * i)) & 0xFF;
        image.putRecord(6, Record().nonResident(0x80, {0x11, 0x01, 0x14}, 0, 16));
        CNTFSAccessBuilder builder(image.device(1 << 20));
        EXPECT_EQ(builder.build()->getClusterCount(), 125u);
    }
}

TEST(NTFSAccessBuilder, LoadsTheBitmapIn65536BytePieces) {
    for (uint64_t bitmapBytes : {65536ull, 65536ull + 10}) {
        SCOPED_TRACE(bitmapBytes);
        const uint64_t clusters = bitmapBytes * 8;
        Image image = Image::standardVolume(64);
        for (int i = 0; i < 8; ++i)
            image.bytes[0x28 + i] = ((clusters * 8) >> (8 * i)) & 0xFF;
        const uint8_t bitmapClusters = static_cast<uint8_t>((bitmapBytes + 4095) / 4096);
        image.putRecord(6, Record().nonResident(0x80, {0x11, bitmapClusters, 0x14},
                                                bitmapClusters - 1, bitmapBytes));
        image.putBytes(image.bitmapOffset + bitmapBytes - 1, {0x80}); // the last cluster
        auto device = image.device(clusters * 4096);
        CNTFSAccessBuilder builder(device);
        std::unique_ptr<CNTFSVolumeAccess> access = builder.build();
        EXPECT_EQ(access->getClusterCount(), clusters);
        EXPECT_TRUE(access->isClusterUsed(static_cast<uint32_t>(clusters - 1)));
        EXPECT_FALSE(access->isClusterUsed(static_cast<uint32_t>(clusters - 2)));
        EXPECT_EQ(builder.freeClusters(), clusters - 25);
        // One read of 16 whole clusters per full piece, and one partial
        // cluster for a piece of 10 bytes.
        size_t bitmapReads = 0;
        for (const auto& read : device->reads)
            if (read.offset >= image.bitmapOffset && read.offset < image.bitmapOffset + 17 * 4096)
                ++bitmapReads;
        EXPECT_EQ(bitmapReads, bitmapBytes == 65536 ? 1u : 2u);
    }
}

TEST(NTFSAccessBuilder, ExplainsWhyItCannotSweep) {
    struct Case {
        const char* what;
        void (*spoil)(Image&);
        const char* reason;
    } cases[] = {
        {"not NTFS", [](Image& i) { std::memcpy(i.bytes.data() + 3, "EXFAT   ", 8); },
         "not an NTFS volume (the boot sector does not name NTFS)"},
        {"version 2.0",
         [](Image& i) {
             std::vector<uint8_t> info(12);
             info[8] = 2;
             i.putRecord(3, Record().resident(0x70, info));
         },
         "NTFS version 2.0 is below 3.0"},
        {"record 6 torn",
         [](Image& i) { std::memcpy(i.bytes.data() + i.mftOffset() + 6 * 1024, "BAAD", 4); },
         "the $Bitmap record (MFT record 6) cannot be read"},
        {"record 6 compressed",
         [](Image& i) {
             i.putRecord(6, Record().standardInformation(0x800).nonResident(
                                0x80, {0x11, 0x01, 0x14}, 0, 8));
         },
         "the attributes of the $Bitmap record cannot be read (damaged, compressed or "
         "encrypted)"},
        {"only a named data attribute",
         [](Image& i) {
             i.putRecord(6, Record().nonResident(0x80, {0x11, 0x01, 0x14}, 0, 8, u"x"));
         },
         "the $Bitmap record has no unnamed data attribute"},
        {"bitmap shorter than the volume",
         [](Image& i) {
             i.putRecord(6, Record().nonResident(0x80, {0x11, 0x01, 0x14}, 0, 7));
         },
         "the $Bitmap holds 56 bits, fewer than the volume's 64 clusters"},
        {"empty bitmap", [](Image& i) { i.putRecord(6, Record().resident(0x80, {})); },
         "the $Bitmap holds 0 bits, fewer than the volume's 64 clusters"},
        {"bitmap clusters off the device",
         [](Image& i) {
             i.putRecord(6, Record().nonResident(0x80, {0x21, 0x01, 0x00, 0x40}, 0, 8));
         },
         "the $Bitmap data cannot be read at byte 0"},
        {"no clusters", [](Image& i) { std::memset(i.bytes.data() + 0x28, 0, 8); },
         "the NTFS volume has no clusters on this device"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Image image = Image::standardVolume(64);
        c.spoil(image);
        EXPECT_EQ(reasonOf(image), c.reason);
    }
}

TEST(NTFSAccessBuilder, SweepsOnlyWhatTheDeviceHolds) {
    // The boot sector claims 512 clusters; the device holds 300.
    Image image = Image::standardVolume(512);
    CNTFSAccessBuilder builder(image.device(300 * 4096));
    EXPECT_EQ(builder.build()->getClusterCount(), 300u);
    EXPECT_EQ(builder.volumeClusters(), 512u);
    EXPECT_EQ(builder.describe(), "NTFS 3.1, 512-byte sectors, 4096-byte clusters, 300 clusters, "
                                  "276 free (the volume claims 512)");
}
