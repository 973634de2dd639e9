// A fragmented $MFT and $Bitmap: their later pieces live in other records,
// named by an attribute list, and are joined in VCN order. A synthetic
// volume of 512-byte clusters: the $MFT in two pieces (records 0-15 at
// cluster 16, records 16-31 at cluster 200, the second piece held by record
// 15), the $Bitmap in two pieces (cluster 100, and cluster 300 held by
// record 14).
#include "CNtfsTestImage.h"
#include "ntfs/CAttrBase.h"
#include "ntfs/CFileRecord.h"
#include "ntfs/CNTFSVolume.h"
#include "volume/CNTFSAccessBuilder.h"
#include "volume/CNTFSVolumeAccess.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using Image = CNtfsTestImage;
using Record = CNtfsTestImage::CRecord;

constexpr uint32_t kClusters = 8192;
constexpr uint32_t kCluster = 512;
constexpr uint32_t kSecondMftPiece = 200; // cluster
constexpr uint32_t kFirstBitmapPiece = 100;
constexpr uint32_t kSecondBitmapPiece = 300;

// One 32-byte attribute list entry.
std::vector<uint8_t> listEntry(uint32_t type, uint64_t record, uint64_t startVcn) {
    std::vector<uint8_t> e(32);
    for (int i = 0; i < 4; ++i)
        e[i] = (type >> (8 * i)) & 0xFF;
    e[4] = 32;
    e[7] = 0x1A;
    for (int i = 0; i < 8; ++i)
        e[0x08 + i] = (startVcn >> (8 * i)) & 0xFF;
    for (int i = 0; i < 6; ++i)
        e[0x10 + i] = (record >> (8 * i)) & 0xFF;
    return e;
}

std::vector<uint8_t> list(std::initializer_list<std::vector<uint8_t>> entries) {
    std::vector<uint8_t> out;
    for (const auto& e : entries)
        out.insert(out.end(), e.begin(), e.end());
    return out;
}

std::vector<uint8_t> text(const std::string& s) {
    return std::vector<uint8_t>(s.begin(), s.end());
}

// secondMftVcn: where record 15 says the $MFT's second piece starts (32
// continues the first piece; anything else leaves a gap).
Image fragmentedVolume(uint64_t secondMftVcn = 32) {
    tagNtfsTestGeometry g;
    g.sectorsPerCluster = 1;
    g.totalSectors = kClusters;
    g.mftCluster = 16;
    Image image(g);
    // $MFT: 32 clusters at 16 hold records 0-15; the list names the piece
    // in record 15 before the record's own.
    image.putRecord(
        0, Record()
               .standardInformation()
               .resident(0x20, list({listEntry(0x10, 0, 0), listEntry(0x80, 15, secondMftVcn),
                                     listEntry(0x80, 0, 0)}))
               .nonResident(0x80, {0x11, 0x20, 0x10}, 31, 32 * 1024));
    image.putRecord(
        15, Record().nonResident(0x80, {0x21, 0x20, kSecondMftPiece & 0xFF, kSecondMftPiece >> 8},
                                 secondMftVcn + 31, 0, u"", secondMftVcn));
    std::vector<uint8_t> info(12);
    info[8] = 3;
    info[9] = 1;
    image.putRecord(3, Record().standardInformation().resident(0x70, info));
    // Records 16 and 31 lie in the second piece.
    const uint64_t second = uint64_t(kSecondMftPiece) * kCluster;
    image.putRecordAt(second, Record().standardInformation().resident(0x80, text("sixteen")));
    image.putRecordAt(second + 15 * 1024,
                      Record().standardInformation().resident(0x80, text("thirty-one")));

    // $Bitmap: 1024 bytes in two one-cluster pieces.
    image.putRecord(6, Record()
                           .standardInformation()
                           .resident(0x20, list({listEntry(0x80, 14, 1), listEntry(0x80, 6, 0)}))
                           .nonResident(0x80, {0x11, 0x01, kFirstBitmapPiece}, 0, 1024));
    image.putRecord(14, Record().nonResident(
                            0x80, {0x21, 0x01, kSecondBitmapPiece & 0xFF, kSecondBitmapPiece >> 8},
                            1, 0, u"", 1));
    // Every cluster in use but 6000-6095, whose bits lie in the second piece.
    std::vector<uint8_t> used(kCluster, 0xFF);
    image.putBytes(uint64_t(kFirstBitmapPiece) * kCluster, used);
    for (uint32_t byte = (6000 - 4096) / 8; byte < (6096 - 4096) / 8; ++byte)
        used[byte] = 0;
    image.putBytes(uint64_t(kSecondBitmapPiece) * kCluster, used);
    return image;
}

std::string dataOf(CNTFSVolume& volume, uint64_t number) {
    CFileRecord record(&volume);
    if (!record.ReadRecord(number) || !record.LoadAttributes())
        return "<unreadable>";
    CAttrBase* data = record.FirstUnnamedData();
    if (!data)
        return "<no data>";
    std::string out(data->DataSize(), '\0');
    uint32_t got = 0;
    data->ReadAt(0, out.data(), uint32_t(out.size()), got);
    out.resize(got);
    return out;
}

} // namespace

TEST(NtfsFragmented, MftPiecesAreJoinedInVcnOrder) {
    Image image = fragmentedVolume();
    CNTFSVolume volume(image.device());
    ASSERT_TRUE(volume.IsReady()) << volume.FailureReason();
    ASSERT_NE(volume.MftData(), nullptr);
    EXPECT_EQ(volume.MftData()->DataSize(), 32u * 1024);
    EXPECT_EQ(dataOf(volume, 16), "sixteen");
    EXPECT_EQ(dataOf(volume, 31), "thirty-one");
    EXPECT_EQ(dataOf(volume, 32), "<unreadable>"); // past the $MFT's data
}

TEST(NtfsFragmented, PieceThatDoesNotFollowOnIsNotJoined) {
    // Record 15 claims its piece starts at VCN 40: VCNs 32-39 are nowhere,
    // so nothing from there on may be read from a guessed place.
    Image image = fragmentedVolume(40);
    CNTFSVolume volume(image.device());
    ASSERT_TRUE(volume.IsReady());
    ASSERT_NE(volume.MftData(), nullptr);
    EXPECT_EQ(volume.MftData()->DataSize(), 32u * 1024);
    EXPECT_EQ(dataOf(volume, 16), "<unreadable>");
}

TEST(NtfsFragmented, ListedBitmapIsLoadedFromBothPieces) {
    Image image = fragmentedVolume();
    CNTFSAccessBuilder builder(image.device());
    auto access = builder.build();
    ASSERT_EQ(access->getClusterCount(), kClusters);
    EXPECT_EQ(builder.freeClusters(), 96u);
    EXPECT_TRUE(access->isClusterUsed(5999));
    EXPECT_FALSE(access->isClusterUsed(6000));
    EXPECT_FALSE(access->isClusterUsed(6095));
    EXPECT_TRUE(access->isClusterUsed(6096));
}
