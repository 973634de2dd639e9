#include "CNtfsTestImage.h"

#include "ntfs/CAttrBase.h"
#include "ntfs/CFileRecord.h"
#include "ntfs/CNTFSVolume.h"

#include <gtest/gtest.h>

#include <cstring>

using Image = CNtfsTestImage;

TEST(NTFSVolume, ReadsGeometryFromTheBootSector) {
    struct Case {
        uint16_t bytesPerSector;
        uint8_t sectorsPerCluster;
        int8_t perRecord, perIndex;
        uint32_t cluster, record, index;
    } cases[] = {
        {512, 8, -10, 1, 4096, 1024, 4096},          // the usual 0xF6: 1024-byte records
        {512, 8, 2, 1, 4096, 8192, 4096},            // 2 clusters per record
        {512, 1, 2, -12, 512, 1024, 4096},           // small clusters, index by exponent
        {4096, 1, -12, 1, 4096, 4096, 4096},         // 4096-byte sectors
        {512, 0xF4, -10, 1, 2097152, 1024, 2097152}, // 2^12 sectors per cluster
    };
    for (const Case& c : cases) {
        Image::tagGeometry g;
        g.bytesPerSector = c.bytesPerSector;
        g.sectorsPerCluster = c.sectorsPerCluster;
        g.clustersPerRecord = c.perRecord;
        g.clustersPerIndex = c.perIndex;
        g.totalSectors = 1;
        g.mftCluster = 3;
        CNTFSVolume volume(Image(g).device(1 << 20));
        SCOPED_TRACE(c.cluster);
        EXPECT_TRUE(volume.IsOpen());
        EXPECT_FALSE(volume.IsReady()); // no $Volume record
        EXPECT_EQ(volume.BytesPerSector(), c.bytesPerSector);
        EXPECT_EQ(volume.ClusterSize(), c.cluster);
        EXPECT_EQ(volume.SectorsPerCluster(), c.cluster / c.bytesPerSector);
        EXPECT_EQ(volume.FileRecordSize(), c.record);
        EXPECT_EQ(volume.IndexBlockSize(), c.index);
        EXPECT_EQ(volume.MftOffset(), 3ull * c.cluster);
        EXPECT_EQ(volume.TotalSectors(), 1u);
    }
}

TEST(NTFSVolume, MftClusterAbove32BitsGivesA64BitOffset) {
    Image::tagGeometry g;
    g.totalSectors = 1;
    g.mftCluster = (1ull << 32) + 5;
    CNTFSVolume volume(Image(g).device());
    EXPECT_EQ(volume.MftOffset(), ((1ull << 32) + 5) * 4096);
}

TEST(NTFSVolume, RefusesWhatIsNotAUsableNTFSBootSector) {
    struct Case {
        const char* what;
        uint16_t bytesPerSector;
        uint8_t sectorsPerCluster;
        int8_t perRecord;
        uint64_t mftCluster;
    } cases[] = {
        {"0 bytes per sector", 0, 8, -10, 4},
        {"bytes per sector not a power of two", 1000, 8, -10, 4},
        {"bytes per sector too large", 8192, 8, -10, 4},
        {"0 sectors per cluster", 512, 0, -10, 4},
        {"3 sectors per cluster", 512, 3, -10, 4},
        {"cluster above 2 MiB", 4096, 0xF4, -10, 4},
        {"record of 1 byte", 512, 8, 0, 4},
        {"record of 256 bytes", 512, 8, -8, 4},
        {"record size exponent past 31", 512, 8, -128, 4},
        {"record of 127 clusters", 512, 8, 127, 4},
        {"MFT offset past 64 bits", 512, 8, -10, ~0ull / 1024},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Image::tagGeometry g;
        g.bytesPerSector = c.bytesPerSector;
        g.sectorsPerCluster = c.sectorsPerCluster;
        g.clustersPerRecord = c.perRecord;
        g.mftCluster = c.mftCluster;
        g.totalSectors = 1;
        CNTFSVolume volume(Image(g).device(1 << 16));
        EXPECT_FALSE(volume.IsOpen());
        EXPECT_FALSE(volume.IsReady());
        EXPECT_NE(volume.FailureReason().find("unusable"), std::string::npos);
    }
    Image other = Image::standardVolume();
    std::memcpy(other.bytes.data() + 3, "MSDOS5.0", 8);
    CNTFSVolume fat(other.device());
    EXPECT_FALSE(fat.IsOpen());
    EXPECT_EQ(fat.FailureReason(), "not an NTFS volume (the boot sector does not name NTFS)");

    CNTFSVolume tiny(std::make_shared<CMemoryDevice>(std::vector<unsigned char>(100)));
    EXPECT_FALSE(tiny.IsOpen());
    CNTFSVolume missing(std::string("/nonexistent/vallora-volume"));
    EXPECT_FALSE(missing.IsOpen());
    EXPECT_FALSE(missing.FailureReason().empty());
}

TEST(NTFSVolume, AcceptsVersion3AndLaterOnly) {
    struct Case {
        uint8_t major, minor;
        bool ready;
    } cases[] = {{1, 2, false}, {2, 0, false}, {3, 0, true}, {3, 1, true}};
    for (const Case& c : cases) {
        CNTFSVolume volume(Image::standardVolume(64, c.major, c.minor).device());
        EXPECT_EQ(volume.IsReady(), c.ready);
        EXPECT_TRUE(volume.IsOpen()); // the device stays open until destruction
        EXPECT_EQ(volume.Version(), c.major * 256 + c.minor);
        if (!c.ready) {
            EXPECT_EQ(volume.FailureReason(), "NTFS version " + std::to_string(c.major) + "." +
                                                  std::to_string(c.minor) + " is below 3.0");
        }
    }
}

TEST(NTFSVolume, NeedsTheVolumeInformationOfRecord3) {
    Image noRecord = Image::standardVolume();
    noRecord.putBytes(noRecord.mftOffset() + 3 * 1024, std::vector<uint8_t>(1024));
    CNTFSVolume a(noRecord.device());
    EXPECT_FALSE(a.IsReady());
    EXPECT_EQ(a.FailureReason(), "the $Volume record (MFT record 3) cannot be read");

    Image noInfo = Image::standardVolume();
    noInfo.putRecord(3, Image::CRecord().standardInformation());
    CNTFSVolume b(noInfo.device());
    EXPECT_FALSE(b.IsReady());
    EXPECT_EQ(b.Version(), 0);

    // A $VOLUME_INFORMATION too short to hold the version is no version.
    Image shortInfo = Image::standardVolume();
    shortInfo.putRecord(3, Image::CRecord().resident(0x70, {0, 0, 0, 0, 0, 0, 0, 0, 3}));
    EXPECT_FALSE(CNTFSVolume(shortInfo.device()).IsReady());
}

TEST(NTFSVolume, LoadsTheMftDataOrStaysReadyWithoutIt) {
    CNTFSVolume full(Image::standardVolume().device());
    ASSERT_TRUE(full.IsReady());
    ASSERT_NE(full.MftData(), nullptr);
    EXPECT_EQ(full.MftData()->DataSize(), 8u * 4096);

    // Record 0 unreadable: still ready, and record 6 is found directly.
    Image noMft = Image::standardVolume();
    noMft.putBytes(noMft.mftOffset(), std::vector<uint8_t>{'B', 'A', 'A', 'D'});
    CNTFSVolume direct(noMft.device());
    EXPECT_TRUE(direct.IsReady());
    EXPECT_EQ(direct.MftData(), nullptr);
    CFileRecord bitmap(&direct);
    EXPECT_TRUE(bitmap.ReadRecord(6));

    // Record 0 without $DATA: ready, no record kept.
    Image noData = Image::standardVolume();
    noData.putRecord(0, Image::CRecord().standardInformation());
    CNTFSVolume bare(noData.device());
    EXPECT_TRUE(bare.IsReady());
    EXPECT_EQ(bare.MftRecord(), nullptr);
    EXPECT_EQ(bare.MftData(), nullptr);

    // Only a named $DATA: it is taken all the same.
    Image named = Image::standardVolume();
    named.putRecord(0,
                    Image::CRecord().nonResident(0x80, {0x11, 0x08, 0x04}, 7, 8 * 4096, u"$Bad"));
    CNTFSVolume namedData(named.device());
    ASSERT_NE(namedData.MftData(), nullptr);
    EXPECT_EQ(namedData.MftData()->NameLength(), 4);
}
