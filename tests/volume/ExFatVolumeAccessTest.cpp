#include "CDiskImageMaker.h"
#include "CMemoryDevice.h"
#include "CTempDir.h"
#include "platform/CByteOrder.h"
#include "volume/CExFATVolumeAccess.h"
#include "volume/CVolumeOpenError.h"

#include <gtest/gtest.h>

#include <functional>

// The exFAT access over volumes made by mkfs.exfat and then changed byte by
// byte: the layout it reads, the allocation bitmap chained or contiguous,
// and the boot regions and metadata it refuses.

namespace {

using Bytes = std::vector<unsigned char>;

constexpr size_t kVolumeLength = 72;
constexpr size_t kFatOffset = 80;
constexpr size_t kFatLength = 84;
constexpr size_t kHeapOffset = 88;
constexpr size_t kClusterCount = 92;
constexpr size_t kRootCluster = 96;
constexpr size_t kSectorShift = 108;
constexpr size_t kClusterShift = 109;
constexpr size_t kFatCount = 110;
constexpr uint32_t kEndOfChain = 0xFFFFFFFF;

uint32_t get32(const Bytes& b, size_t at) {
    return CByteOrder::readLE32(&b[at]);
}

void put32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<unsigned char>(v >> (8 * i));
}

// The boot region's checksum, written into its twelfth sector, as a
// formatter would after a change.
void sealBootRegion(Bytes& b) {
    uint32_t sum = 0;
    for (size_t i = 0; i < 11 * 512; ++i) {
        if (i == 106 || i == 107 || i == 112)
            continue;
        sum = ((sum & 1) ? 0x80000000u : 0u) + (sum >> 1) + b[i];
    }
    for (size_t at = 11 * 512; at < 12 * 512; at += 4)
        put32(b, at, sum);
}

// A 4 MiB volume of 512-byte clusters: its bitmap takes two clusters,
// chained in the FAT.
class ExFatAccess : public ::testing::Test {
protected:
    void SetUp() override {
        if (!CDiskImageMaker::haveTool("mkfs.exfat"))
            GTEST_SKIP() << "mkfs.exfat is not installed";
        const std::string img = CDiskImageMaker::quote(dir.file("v.img"));
        ASSERT_TRUE(
            CDiskImageMaker::run("truncate -s 4M " + img + " && mkfs.exfat -c 512 -b 4K " + img));
        image = CTempDir::readFile(dir.file("v.img"));
        ASSERT_EQ(image.size(), 4u << 20);
    }

    uint64_t clusterOffset(uint32_t cluster) const {
        return (uint64_t(get32(image, kHeapOffset)) + (cluster - 2)) * 512;
    }
    size_t fatEntryOffset(uint32_t cluster) const {
        return size_t(get32(image, kFatOffset)) * 512 + 4 * size_t(cluster);
    }
    // Byte offset of the root directory's allocation bitmap entry.
    size_t bitmapEntry() const {
        const uint64_t root = clusterOffset(get32(image, kRootCluster));
        for (size_t at = root; at < root + 512; at += 32)
            if (image[at] == 0x81)
                return at;
        ADD_FAILURE() << "no bitmap entry";
        return root;
    }
    uint32_t bitmapCluster() const { return get32(image, bitmapEntry() + 20); }
    bool bitmapBit(uint32_t cluster) const {
        const uint64_t bitmap = clusterOffset(bitmapCluster());
        return (image[bitmap + (cluster - 2) / 8] >> ((cluster - 2) % 8)) & 1;
    }

    std::unique_ptr<CExFATVolumeAccess> open(Bytes bytes, uint64_t statedSize = 0) {
        device = std::make_shared<CMemoryDevice>(std::move(bytes), 512, statedSize);
        ::testing::internal::CaptureStdout();
        try {
            auto access = std::make_unique<CExFATVolumeAccess>(device);
            ::testing::internal::GetCapturedStdout();
            return access;
        } catch (...) {
            ::testing::internal::GetCapturedStdout();
            throw;
        }
    }

    // Every cluster's answer.
    static std::vector<bool> answers(CExFATVolumeAccess& access) {
        std::vector<bool> used;
        for (uint32_t n = 0; n < access.getClusterCount(); ++n)
            used.push_back(access.isClusterUsed(n));
        return used;
    }

    CTempDir dir;
    Bytes image;
    std::shared_ptr<CMemoryDevice> device;
};

TEST_F(ExFatAccess, ReadsTheLayoutAndTheChainedBitmap) {
    auto access = open(image);
    const uint32_t count = get32(image, kClusterCount);
    EXPECT_EQ(access->getSectorSize(), 512u);
    EXPECT_EQ(access->getClusterSize(), 512u);
    EXPECT_EQ(access->getClusterCount(), count + 2);
    EXPECT_EQ(access->clusterToSector(2), get32(image, kHeapOffset));
    EXPECT_EQ(access->clusterToSector(7), get32(image, kHeapOffset) + 5);
    EXPECT_EQ(access->bitmapFirstCluster(), bitmapCluster());
    EXPECT_FALSE(access->bitmapReadContiguous());
    ASSERT_GT(count / 8, 512u); // the bitmap needs more than one cluster
    EXPECT_TRUE(access->isClusterUsed(0));
    EXPECT_TRUE(access->isClusterUsed(1));
    EXPECT_TRUE(access->isClusterUsed(bitmapCluster()));
    EXPECT_TRUE(access->isClusterUsed(get32(image, kRootCluster)));
    uint32_t free = 0;
    for (uint32_t n = 2; n < count + 2; ++n) {
        ASSERT_EQ(access->isClusterUsed(n), bitmapBit(n)) << n;
        free += bitmapBit(n) ? 0 : 1;
    }
    EXPECT_GT(free, count - 64);
    EXPECT_TRUE(access->isClusterUsed(count + 2)); // past the heap

    // Reads: whole clusters at the heap's place, sectors from the boot sector.
    Bytes buffer(1024);
    ASSERT_TRUE(access->readClusters(count, count + 1, buffer.data()));
    EXPECT_EQ(device->reads.back().offset, clusterOffset(count));
    EXPECT_EQ(device->reads.back().length, 1024u);
    ASSERT_TRUE(access->readSectors(0, 0, buffer.data()));
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + 512, image.begin()));
}

// The bitmap's second cluster moved to the far end of the heap and chained
// there: the answers stay the same, because the chain is followed.
TEST_F(ExFatAccess, FollowsAFragmentedBitmap) {
    const std::vector<bool> before = answers(*open(image));
    const uint32_t first = bitmapCluster();
    const uint32_t second = get32(image, fatEntryOffset(first));
    ASSERT_EQ(second, first + 1);
    const uint32_t far = get32(image, kClusterCount) - 5;
    Bytes moved = image;
    std::copy_n(image.begin() + clusterOffset(second), 512, moved.begin() + clusterOffset(far));
    std::fill_n(moved.begin() + clusterOffset(second), 512, 0xFF);
    put32(moved, fatEntryOffset(first), far);
    put32(moved, fatEntryOffset(second), 0);
    put32(moved, fatEntryOffset(far), kEndOfChain);
    std::vector<bool> after = answers(*open(moved));
    EXPECT_EQ(after, before);
}

// A FAT that records no chain for the bitmap: it is read as one run.
TEST_F(ExFatAccess, ReadsAnUnchainedBitmapAsOneRun) {
    const std::vector<bool> before = answers(*open(image));
    const uint32_t first = bitmapCluster();
    Bytes unchained = image;
    put32(unchained, fatEntryOffset(first), 0);
    put32(unchained, fatEntryOffset(first + 1), 0);
    auto access = open(unchained);
    EXPECT_TRUE(access->bitmapReadContiguous());
    EXPECT_EQ(answers(*access), before);
}

// A cut image: clusters past its end count as used and nothing is read
// beyond it.
TEST_F(ExFatAccess, CutImageSweepsOnlyWhatIsThere) {
    Bytes cut(image.begin(), image.begin() + (2u << 20));
    auto access = open(cut);
    const uint32_t limit = access->firstClusterPastDevice();
    EXPECT_EQ(limit, 2 + ((2u << 20) / 512 - get32(image, kHeapOffset)));
    EXPECT_FALSE(access->isClusterUsed(limit - 1));
    EXPECT_TRUE(access->isClusterUsed(limit));
    for (const auto& read : device->reads)
        EXPECT_LE(read.offset + read.length, cut.size());
}

// Clusters of 16 MiB are seen as two pieces of 8 MiB, so that the sweep's
// buffer of 40000 sectors holds one.
TEST_F(ExFatAccess, SplitsClustersTooLargeForTheSweep) {
    const std::string img = CDiskImageMaker::quote(dir.file("big.img"));
    ASSERT_TRUE(CDiskImageMaker::run("truncate -s 256M " + img + " && mkfs.exfat -c 16M " + img));
    Bytes big = CTempDir::readFile(dir.file("big.img"));
    const uint64_t size = big.size();
    while (!big.empty() && big.back() == 0) // past the metadata: zeros, held as such
        big.pop_back();
    auto access = open(big, size);
    const uint32_t count = get32(big, kClusterCount);
    const uint32_t heap = get32(big, kHeapOffset);
    EXPECT_EQ(access->getClusterSize(), 8u << 20);
    EXPECT_EQ(access->getClusterCount(), 2 * (count + 2));
    EXPECT_EQ(access->clusterToSector(4), heap);
    EXPECT_EQ(access->clusterToSector(5), heap + 16384);
    EXPECT_EQ(access->clusterToSector(6), heap + 32768);
    for (uint32_t piece = 0; piece < access->getClusterCount(); piece += 2)
        EXPECT_EQ(access->isClusterUsed(piece), access->isClusterUsed(piece + 1)) << piece;
    EXPECT_TRUE(access->isClusterUsed(2 * get32(big, kRootCluster)));
    EXPECT_FALSE(access->isClusterUsed(2 * (count + 1)));
}

struct tagHostile {
    const char* name;
    std::function<void(Bytes&, size_t bitmapEntry, size_t bitmapFat)> change;
    const char* reason;
    bool reseal = true; // recompute the boot checksum after the change
};

TEST_F(ExFatAccess, RefusesHostileBootRegionsAndMetadataWithAReason) {
    const tagHostile cases[] = {
        {"checksum", [](Bytes& b, size_t, size_t) { b[600] ^= 1; }, "checksum does not match",
         false},
        {"name", [](Bytes& b, size_t, size_t) { b[3] = 'F'; }, "does not name exFAT"},
        {"signature", [](Bytes& b, size_t, size_t) { b[510] = 0; }, "no boot signature"},
        {"FAT parameters", [](Bytes& b, size_t, size_t) { b[13] = 8; },
         "FAT parameters where exFAT has zeros"},
        {"sector shift", [](Bytes& b, size_t, size_t) { b[kSectorShift] = 13; },
         "bytes-per-sector shift of 13"},
        {"other sector size", [](Bytes& b, size_t, size_t) { b[kSectorShift] = 12; },
         "written for 4096-byte sectors"},
        {"cluster shift", [](Bytes& b, size_t, size_t) { b[kClusterShift] = 20; },
         "clusters of 2^29 bytes"},
        {"FAT count", [](Bytes& b, size_t, size_t) { b[kFatCount] = 3; }, "gives 3 FATs"},
        {"FAT in boot region", [](Bytes& b, size_t, size_t) { put32(b, kFatOffset, 12); },
         "inside the boot regions"},
        {"no clusters", [](Bytes& b, size_t, size_t) { put32(b, kClusterCount, 0); },
         "gives 0 clusters"},
        {"FAT too small", [](Bytes& b, size_t, size_t) { put32(b, kFatLength, 1); },
         "too small for"},
        {"heap in FAT",
         [](Bytes& b, size_t, size_t) { put32(b, kHeapOffset, get32(b, kFatOffset) + 1); },
         "inside the FATs"},
        {"volume too short", [](Bytes& b, size_t, size_t) { put32(b, kVolumeLength, 4096); },
         "past the volume's length"},
        {"root cluster", [](Bytes& b, size_t, size_t) { put32(b, kRootCluster, 1); },
         "root directory cluster 1"},
        {"huge volume on a small device",
         [](Bytes& b, size_t, size_t) {
             put32(b, kVolumeLength + 4, 1); // 2^32 more sectors
             put32(b, kFatLength, 0x4000000);
             put32(b, kHeapOffset, get32(b, kFatOffset) + 0x4000000);
             put32(b, kClusterCount, 0xF0000000);
         },
         "past the end of the device"},
        {"no bitmap entry", [](Bytes& b, size_t entry, size_t) { b[entry] = 0; },
         "no allocation bitmap entry"},
        {"bitmap cluster", [](Bytes& b, size_t entry, size_t) { put32(b, entry + 20, 0); },
         "allocation bitmap entry gives cluster 0"},
        {"bitmap past device",
         [](Bytes& b, size_t entry, size_t) { put32(b, entry + 20, get32(b, kClusterCount) + 1); },
         "runs past the end of the device"},
        {"bitmap chain broken", [](Bytes& b, size_t, size_t fat) { put32(b, fat, 1); },
         "chain breaks at cluster"},
        {"bitmap chain short", [](Bytes& b, size_t, size_t fat) { put32(b, fat, kEndOfChain); },
         "chain ends after 1 clusters"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes hostile = image;
        c.change(hostile, bitmapEntry(), fatEntryOffset(bitmapCluster()));
        if (c.reseal)
            sealBootRegion(hostile);
        try {
            open(hostile);
            ADD_FAILURE() << "accepted";
        } catch (const CVolumeOpenError& e) {
            EXPECT_NE(e.reason().find(c.reason), std::string::npos) << e.reason();
            EXPECT_EQ(e.reason().find('\n'), std::string::npos);
        }
        for (const auto& read : device->reads)
            EXPECT_LE(read.offset + read.length, hostile.size());
    }
}

} // namespace
