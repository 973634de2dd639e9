#include "CDiskImageMaker.h"
#include "CMemoryDevice.h"
#include "CTempDir.h"
#include "platform/CByteOrder.h"
#include "volume/CFATVolumeAccess.h"
#include "volume/CVolumeOpenError.h"

#include <gtest/gtest.h>

#include <functional>

// The FAT12/FAT16 access over volumes made by mkfs.fat and then changed
// byte by byte: the layout it reads, both entry widths, and the boot
// sectors it refuses.

namespace {

using Bytes = std::vector<unsigned char>;

constexpr size_t kBytesPerSector = 0x0B;
constexpr size_t kSectorsPerCluster = 0x0D;
constexpr size_t kReserved = 0x0E;
constexpr size_t kFatCount = 0x10;
constexpr size_t kRootEntries = 0x11;
constexpr size_t kTotal16 = 0x13;
constexpr size_t kFatSize = 0x16;
constexpr size_t kTotal32 = 0x20;

uint32_t get16(const Bytes& b, size_t at) {
    return CByteOrder::readLE16(&b[at]);
}

void put16(Bytes& b, size_t at, uint32_t v) {
    b[at] = static_cast<unsigned char>(v);
    b[at + 1] = static_cast<unsigned char>(v >> 8);
}

void put32(Bytes& b, size_t at, uint32_t v) {
    put16(b, at, v & 0xFFFF);
    put16(b, at + 2, v >> 16);
}

// Writes entry n of the first FAT, 12 or 16 bits wide.
void putEntry(Bytes& b, uint32_t bits, uint32_t n, uint32_t value) {
    const size_t fat = get16(b, kReserved) * size_t(512);
    if (bits == 16) {
        put16(b, fat + 2 * n, value);
        return;
    }
    const size_t at = fat + n + n / 2;
    uint32_t pair = get16(b, at);
    pair = (n & 1) ? (pair & 0x000F) | (value << 4) : (pair & 0xF000) | value;
    put16(b, at, pair);
}

struct tagFatImage {
    uint32_t bits;
    const char* make;
};

void PrintTo(const tagFatImage& c, std::ostream* os) {
    *os << c.make;
}

class FatAccess : public ::testing::TestWithParam<tagFatImage> {
protected:
    void SetUp() override {
        if (!CDiskImageMaker::haveTool("mkfs.fat"))
            GTEST_SKIP() << "mkfs.fat is not installed";
        const std::string img = CDiskImageMaker::quote(dir.file("v.img"));
        std::string command = GetParam().make;
        for (size_t at = command.find("IMG"); at != std::string::npos; at = command.find("IMG"))
            command.replace(at, 3, img);
        ASSERT_TRUE(CDiskImageMaker::run(command)) << command;
        image = CTempDir::readFile(dir.file("v.img"));
    }

    std::unique_ptr<CFATVolumeAccess> open(Bytes bytes) {
        device = std::make_shared<CMemoryDevice>(std::move(bytes), 512);
        ::testing::internal::CaptureStdout();
        try {
            auto access = std::make_unique<CFATVolumeAccess>(device);
            ::testing::internal::GetCapturedStdout();
            return access;
        } catch (...) {
            ::testing::internal::GetCapturedStdout();
            throw;
        }
    }

    uint32_t dataStart() const {
        return get16(image, kReserved) + image[kFatCount] * get16(image, kFatSize) +
               (get16(image, kRootEntries) * 32 + 511) / 512;
    }
    uint32_t totalSectors() const {
        const uint32_t small = get16(image, kTotal16);
        return small ? small : CByteOrder::readLE32(&image[kTotal32]);
    }

    CTempDir dir;
    Bytes image;
    std::shared_ptr<CMemoryDevice> device;
};

TEST_P(FatAccess, ReadsTheLayoutPastTheRootDirectoryArea) {
    auto access = open(image);
    const uint32_t spc = image[kSectorsPerCluster];
    const uint32_t clusters = (totalSectors() - dataStart()) / spc;
    EXPECT_EQ(access->fatBits(), GetParam().bits);
    EXPECT_EQ(access->firstDataSector(), dataStart());
    EXPECT_EQ(access->getClusterCount(), clusters + 2);
    EXPECT_EQ(access->getClusterSize(), spc * 512);
    EXPECT_EQ(access->clusterToSector(2), dataStart());
    EXPECT_EQ(access->clusterToSector(5), dataStart() + 3 * spc);
    EXPECT_EQ(access->firstClusterPastDevice(), clusters + 2);
    EXPECT_TRUE(access->isClusterUsed(0));
    EXPECT_TRUE(access->isClusterUsed(1));
    for (uint32_t n = 2; n < clusters + 2; ++n)
        ASSERT_FALSE(access->isClusterUsed(n)) << n; // a fresh volume
    EXPECT_TRUE(access->isClusterUsed(clusters + 2));

    Bytes buffer(2 * spc * 512);
    ASSERT_TRUE(access->readClusters(3, 4, buffer.data()));
    EXPECT_EQ(device->reads.back().offset, (dataStart() + spc) * 512ull);
    EXPECT_EQ(device->reads.back().length, 2 * spc * 512);
}

// Entries of both parities (a FAT12 entry shares a byte with its
// neighbour), end-of-chain, bad-cluster and the largest chain values.
TEST_P(FatAccess, DecodesEveryEntryOnItsOwn) {
    const uint32_t bits = GetParam().bits;
    const uint32_t top = bits == 12 ? 0xFFF : 0xFFFF;
    const std::vector<uint32_t> values = {0, top, 0, 5, 0, top - 8 /* bad */, 0, 1, 7, 0, 0x800};
    Bytes changed = image;
    for (size_t i = 0; i < values.size(); ++i)
        putEntry(changed, bits, uint32_t(2 + i), values[i]);
    auto access = open(changed);
    for (size_t i = 0; i < values.size(); ++i)
        EXPECT_EQ(access->isClusterUsed(uint32_t(2 + i)), values[i] != 0) << i;
    EXPECT_FALSE(access->isClusterUsed(uint32_t(2 + values.size())));
}

// A cut image: clusters past its end count as used and nothing is read
// beyond it.
TEST_P(FatAccess, CutImageSweepsOnlyWhatIsThere) {
    const uint32_t spc = image[kSectorsPerCluster];
    Bytes cut(image.begin(), image.begin() + (dataStart() + 10 * spc) * 512);
    auto access = open(cut);
    EXPECT_EQ(access->firstClusterPastDevice(), 12u);
    EXPECT_FALSE(access->isClusterUsed(11));
    EXPECT_TRUE(access->isClusterUsed(12));
    for (const auto& read : device->reads)
        EXPECT_LE(read.offset + read.length, cut.size());
}

TEST_P(FatAccess, RefusesHostileBootSectorsWithAReason) {
    const struct {
        const char* name;
        std::function<void(Bytes&)> change;
        const char* reason;
    } cases[] = {
        {"sector size", [](Bytes& b) { put16(b, kBytesPerSector, 1024); },
         "written for 1024-byte sectors"},
        {"cluster size", [](Bytes& b) { b[kSectorsPerCluster] = 3; }, "3 sectors per cluster"},
        {"no cluster size", [](Bytes& b) { b[kSectorsPerCluster] = 0; }, "0 sectors per cluster"},
        {"reserved", [](Bytes& b) { put16(b, kReserved, 0); }, "0 reserved sectors"},
        {"FATs", [](Bytes& b) { b[kFatCount] = 0; }, "0 FATs"},
        {"FAT32's root", [](Bytes& b) { put16(b, kRootEntries, 0); },
         "not that of a FAT12 or FAT16 volume"},
        {"FAT32's FAT size", [](Bytes& b) { put16(b, kFatSize, 0); },
         "not that of a FAT12 or FAT16 volume"},
        {"no sectors",
         [](Bytes& b) {
             put16(b, kTotal16, 0);
             put32(b, kTotal32, 0);
         },
         "gives 0 sectors"},
        {"no room", [](Bytes& b) { put16(b, kTotal16, 10); }, "leaving no cluster"},
        {"FAT32's cluster count",
         [](Bytes& b) {
             b[kSectorsPerCluster] = 1;
             put16(b, kTotal16, 0);
             put32(b, kTotal32, 200000);
         },
         "too many for FAT12 or FAT16"},
        {"FAT past device",
         [](Bytes& b) {
             put16(b, kFatSize, 0xFFFF);
             put16(b, kTotal16, 0);
             put32(b, kTotal32, 2 * 0xFFFF + 64 + 1000 * b[kSectorsPerCluster]);
         },
         "the FAT ends at sector"},
        {"data past device",
         [](Bytes& b) {
             b[kFatCount] = 3; // the first FAT on the device, the third past it
             put16(b, kFatSize, uint32_t(b.size() / 512 / 2));
             put16(b, kTotal16, 0);
             put32(b, kTotal32, 20000);
         },
         "the first data cluster ends at sector"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes hostile = image;
        c.change(hostile);
        try {
            open(hostile);
            ADD_FAILURE() << "accepted";
        } catch (const CVolumeOpenError& e) {
            EXPECT_NE(e.reason().find(c.reason), std::string::npos) << e.reason();
        }
        for (const auto& read : device->reads)
            EXPECT_LE(read.offset + read.length, hostile.size());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Widths, FatAccess,
    ::testing::Values(tagFatImage{12, "truncate -s 1M IMG && mkfs.fat -F 12 IMG"},
                      tagFatImage{16, "truncate -s 4M IMG && mkfs.fat -F 16 -s 1 IMG"}),
    [](const auto& test) { return "Fat" + std::to_string(test.param.bits); });

} // namespace
