#include "CDiskImageMaker.h"
#include "CTempDir.h"
#include "volume/CFAT32VolumeAccess.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <utility>

// A FAT of a million entries and more, made by mkfs.vfat on a sparse image.

namespace {

// A FAT larger than one read is read in pieces and kept as one bit per
// cluster: entries on both sides of the piece and word boundaries, with only
// their upper or lowest bits set, are in use; the free count agrees with one
// isClusterUsed call per cluster, and so do the first used and free
// clusters of a range.
TEST(FAT32VolumeAccessLoad, LargeFatIsReadInPiecesAndEveryEntryCounts) {
    if (!CDiskImageMaker::haveTool("mkfs.vfat"))
        GTEST_SKIP() << "mkfs.vfat is not installed";
    CTempDir dir;
    const std::string image = dir.file("large.img");
    // 1 400 000 clusters of one sector: a FAT of about 5.5 MB (sparse image).
    ASSERT_TRUE(CDiskImageMaker::run("truncate -s 700M " + CDiskImageMaker::quote(image) +
                                     " && mkfs.vfat -F 32 -s 1 " + CDiskImageMaker::quote(image)));
    uint32_t reserved = 0;
    {
        std::ifstream in(image, std::ios::binary);
        in.seekg(14);
        unsigned char field[2] = {};
        in.read(reinterpret_cast<char*>(field), 2);
        reserved = field[0] | (field[1] << 8);
    }
    constexpr uint32_t kPieceEntries = (4u << 20) / 4;
    const std::map<uint32_t, uint32_t> marked = {
        {63, 0x10000000},
        {64, 1},
        {127, 0x0FFFFFFF},
        {kPieceEntries - 1, 0x00000100},
        {kPieceEntries, 0x01000000},
        {kPieceEntries + 65, 0x0FFFFFF7},
    };
    {
        std::fstream out(image, std::ios::binary | std::ios::in | std::ios::out);
        for (const auto& [cluster, value] : marked) {
            out.seekp(std::streamoff(reserved) * 512 + std::streamoff(cluster) * 4);
            const unsigned char bytes[4] = {uint8_t(value), uint8_t(value >> 8),
                                            uint8_t(value >> 16), uint8_t(value >> 24)};
            out.write(reinterpret_cast<const char*>(bytes), 4);
        }
    }
    ::testing::internal::CaptureStdout();
    CFAT32VolumeAccess access(image);
    ::testing::internal::GetCapturedStdout();
    ASSERT_GT(access.firstClusterPastDevice(), kPieceEntries + 66);
    for (const auto& [cluster, value] : marked)
        EXPECT_TRUE(access.isClusterUsed(cluster)) << cluster;
    for (uint32_t cluster : {62u, 65u, 126u, 128u, kPieceEntries - 2, kPieceEntries + 1,
                             kPieceEntries + 64, kPieceEntries + 66})
        EXPECT_FALSE(access.isClusterUsed(cluster)) << cluster;
    EXPECT_TRUE(access.isClusterUsed(2)); // the root directory
    EXPECT_FALSE(access.isClusterUsed(access.firstClusterPastDevice() - 1));
    EXPECT_TRUE(access.isClusterUsed(access.firstClusterPastDevice()));
    const uint64_t free = access.countFreeClusters();
    EXPECT_EQ(free, access.CVolumeAccess::countFreeClusters());
    EXPECT_EQ(free, access.firstClusterPastDevice() - 2 - 1 - marked.size());
    // The sweep's range questions, a word at a time, answer as the clusters do one by one.
    const uint64_t past = access.firstClusterPastDevice();
    const uint64_t end = access.getClusterCount();
    const std::pair<uint64_t, uint64_t> ranges[] = {
        {0, 10},
        {3, 63},
        {3, 64},
        {65, 127},
        {65, 200},
        {129, past},
        {kPieceEntries + 1, kPieceEntries + 65},
        {past - 1, past + 3},
        {past - 70, end},
        {end - 1, end + 100},
        {end + 5, end + 9},
        {40, 40},
    };
    for (const auto& [from, to] : ranges) {
        EXPECT_EQ(access.firstUsedCluster(from, to),
                  access.CVolumeAccess::firstUsedCluster(from, to))
            << from << ".." << to;
        EXPECT_EQ(access.firstFreeCluster(from, to),
                  access.CVolumeAccess::firstFreeCluster(from, to))
            << from << ".." << to;
    }
}

} // namespace
