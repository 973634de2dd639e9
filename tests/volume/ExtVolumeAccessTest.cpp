#include "CDiskImageMaker.h"
#include "CMemoryDevice.h"
#include "CTempDir.h"
#include "platform/CByteOrder.h"
#include "volume/CExtDeviceIo.h"
#include "volume/CExtVolumeAccess.h"
#include "volume/CVolumeOpenError.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <sstream>

#include <ext2fs/ext2fs.h>

// The ext access over volumes made by mke2fs and changed by debugfs: its
// answers block by block against dumpe2fs, the unclean journal, bitmaps
// off the volume, and the superblocks it refuses.

namespace {

using Bytes = std::vector<unsigned char>;

constexpr size_t kSuperblock = 1024;
constexpr size_t kBlocksCountLow = kSuperblock + 0x04;
constexpr size_t kFirstDataBlock = kSuperblock + 0x14;
constexpr size_t kLogBlockSize = kSuperblock + 0x18;
constexpr size_t kBlocksPerGroup = kSuperblock + 0x20;
constexpr size_t kMagic = kSuperblock + 0x38;

void put32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<unsigned char>(v >> (8 * i));
}

// The output of a command.
std::string outputOf(const std::string& command) {
    std::string text;
    FILE* pipe =
        ::popen(("PATH=\"$PATH:/usr/sbin:/sbin\" " + command + " 2>/dev/null").c_str(), "r");
    if (!pipe)
        return text;
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        text.append(buffer, got);
    ::pclose(pipe);
    return text;
}

// The free blocks dumpe2fs lists group by group ("Free blocks: 5-9, 12").
std::vector<std::pair<uint64_t, uint64_t>> freeRanges(const std::string& image) {
    std::vector<std::pair<uint64_t, uint64_t>> ranges;
    std::istringstream lines(outputOf("dumpe2fs " + CDiskImageMaker::quote(image)));
    const std::string key = "  Free blocks: ";
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(key, 0) != 0)
            continue;
        std::istringstream items(line.substr(key.size()));
        for (std::string item; std::getline(items, item, ',');) {
            unsigned long long a = 0, b = 0;
            const int n = std::sscanf(item.c_str(), " %llu-%llu", &a, &b);
            if (n >= 1)
                ranges.push_back({a, n == 2 ? b : a});
        }
    }
    return ranges;
}

class ExtAccess : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* tool : {"mke2fs", "debugfs", "dumpe2fs"})
            if (!CDiskImageMaker::haveTool(tool))
                GTEST_SKIP() << tool << " is not installed";
        path = dir.file("v.img");
    }

    bool make(const std::string& options, const std::string& size) {
        return CDiskImageMaker::run("mke2fs -q -F " + options + " " + CDiskImageMaker::quote(path) +
                                    " " + size);
    }
    bool debugfs(const std::string& request) {
        return CDiskImageMaker::run("debugfs -w -R " + CDiskImageMaker::quote(request) + " " +
                                    CDiskImageMaker::quote(path));
    }

    std::unique_ptr<CExtVolumeAccess> open(Bytes bytes, uint32_t sector = 512) {
        device = std::make_shared<CMemoryDevice>(std::move(bytes), sector);
        ::testing::internal::CaptureStdout();
        try {
            auto access = std::make_unique<CExtVolumeAccess>(device);
            ::testing::internal::GetCapturedStdout();
            return access;
        } catch (...) {
            ::testing::internal::GetCapturedStdout();
            throw;
        }
    }

    CTempDir dir;
    std::string path;
    std::shared_ptr<CMemoryDevice> device;
};

// Every block's answer is what dumpe2fs says of it, on the layouts the
// access must read: 1 KiB blocks (block 0 outside the bitmaps), 64bit with
// flex_bg over several groups, and bigalloc clusters.
TEST_F(ExtAccess, AnswersBlockByBlockAsDumpe2fsLists) {
    const struct {
        const char* options;
        const char* size;
        uint32_t clusterBytes;
        const char* feature;
    } cases[] = {
        {"-t ext2 -b 1024", "4M", 1024, ""},
        {"-t ext4 -b 1024 -g 1024 -O 64bit,flex_bg", "6M", 1024, "flex_bg"},
        {"-t ext4 -b 1024 -O bigalloc -C 8192", "16M", 8192, "bigalloc"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options);
        ASSERT_TRUE(make(c.options, c.size));
        ASSERT_TRUE(debugfs("mkdir /photos")); // a little more than a fresh volume holds
        auto access = open(CTempDir::readFile(path));
        EXPECT_EQ(access->blockSize(), 1024u);
        EXPECT_EQ(access->fileSystemClusterSize(), c.clusterBytes);
        EXPECT_EQ(access->getClusterSize(), c.clusterBytes);
        EXPECT_NE(access->volumeDetail().find(c.feature), std::string::npos)
            << access->volumeDetail();
        EXPECT_EQ(access->volumeWarning(), "");
        const uint32_t ratio = c.clusterBytes / 1024;
        std::vector<bool> expectUsed(access->getClusterCount(), true);
        for (auto [first, last] : freeRanges(path))
            for (uint64_t block = first; block <= last; ++block)
                expectUsed.at(block / ratio) = false;
        uint32_t free = 0;
        for (uint32_t n = 0; n < access->getClusterCount(); ++n) {
            ASSERT_EQ(access->isClusterUsed(n), expectUsed[n]) << n;
            free += expectUsed[n] ? 0 : 1;
        }
        EXPECT_GT(free, access->getClusterCount() / 2);
        EXPECT_TRUE(access->isClusterUsed(0));
        EXPECT_TRUE(access->isClusterUsed(access->getClusterCount()));
        EXPECT_EQ(access->clusterToSector(3), 3 * c.clusterBytes / 512);
        Bytes buffer(2 * c.clusterBytes);
        ASSERT_TRUE(access->readClusters(3, 4, buffer.data()));
        EXPECT_EQ(device->reads.back().offset, 3ull * c.clusterBytes);
        EXPECT_EQ(device->reads.back().length, 2 * c.clusterBytes);
    }
}

// A volume left with an unclean journal is swept by its bitmaps as they
// are, with a warning; a group whose bitmap lies off the volume counts as
// used (libext2fs would call all of it free).
TEST_F(ExtAccess, WarnsOfAnUncleanJournalAndHoldsUnplacedBitmapsUsed) {
    ASSERT_TRUE(make("-t ext4 -b 1024 -g 1024", "4M"));
    ASSERT_TRUE(debugfs("feature needs_recovery"));
    const std::vector<bool> before = [&] {
        auto access = open(CTempDir::readFile(path));
        EXPECT_TRUE(access->journalNeedsRecovery());
        EXPECT_NE(access->volumeWarning().find("not unmounted cleanly"), std::string::npos);
        std::vector<bool> used;
        for (uint32_t n = 0; n < access->getClusterCount(); ++n)
            used.push_back(access->isClusterUsed(n));
        return used;
    }();
    ASSERT_TRUE(debugfs("set_bg 2 block_bitmap 99999999"));
    auto access = open(CTempDir::readFile(path));
    EXPECT_NE(access->volumeWarning().find("of 1 block groups lie off the volume"),
              std::string::npos)
        << access->volumeWarning();
    for (uint32_t n = 0; n < access->getClusterCount(); ++n) {
        const bool inGroup2 = n >= 2049 && n < 3073;
        ASSERT_EQ(access->isClusterUsed(n), inGroup2 ? true : bool(before[n])) << n;
    }
}

TEST_F(ExtAccess, RefusesHostileSuperblocksWithAReason) {
    ASSERT_TRUE(make("-t ext4 -b 1024", "2M"));
    const Bytes image = CTempDir::readFile(path);
    const struct {
        const char* name;
        std::function<void(Bytes&)> change;
        const char* reason;
        uint32_t sector = 512;
    } cases[] = {
        {"magic", [](Bytes& b) { b[kMagic] = 0; }, "does not name ext2, ext3 or ext4"},
        {"block size", [](Bytes& b) { put32(b, kLogBlockSize, 7); }, "blocks of 2^17 bytes"},
        // found by the fuzzer: libext2fs wrote past its bitmap buffer
        {"first data block", [](Bytes& b) { put32(b, kFirstDataBlock, 55); },
         "first data block 55 where it is 1"},
        {"first data block of larger blocks",
         [](Bytes& b) {
             put32(b, kLogBlockSize, 1);
             put32(b, kBlocksCountLow, 1024);
         },
         "first data block 1 where it is 0"},
        {"larger than the device", [](Bytes& b) { put32(b, kBlocksCountLow, 0x7FFFFFFF); },
         "more than the device holds"},
        {"tiny device", [](Bytes& b) { b.resize(1500); }, "smaller than an ext superblock"},
        {"groups", [](Bytes& b) { put32(b, kBlocksPerGroup, 0); },
         "libext2fs cannot open the volume"},
        {"sectors larger than blocks", [](Bytes&) {}, "smaller than the device's sectors", 4096},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes hostile = image;
        c.change(hostile);
        try {
            open(hostile, c.sector);
            ADD_FAILURE() << "accepted";
        } catch (const CVolumeOpenError& e) {
            EXPECT_NE(e.reason().find(c.reason), std::string::npos) << e.reason();
            EXPECT_EQ(e.reason().find('\n'), std::string::npos);
        }
        for (const auto& read : device->reads)
            EXPECT_LE(read.offset + read.length, hostile.size());
    }
}

// libext2fs gets a channel that never writes: asked to open the volume for
// writing, it is refused.
TEST_F(ExtAccess, LibraryChannelRefusesToWrite) {
    ASSERT_TRUE(make("-t ext4", "2M"));
    CMemoryDevice memory(CTempDir::readFile(path));
    const std::string name = CExtDeviceIo::nameFor(&memory);
    ext2_filsys fs = nullptr;
    EXPECT_EQ(ext2fs_open2(name.c_str(), nullptr, EXT2_FLAG_RW | EXT2_FLAG_64BITS, 0, 0,
                           CExtDeviceIo::manager(), &fs),
              EROFS);
    ASSERT_EQ(
        ext2fs_open2(name.c_str(), nullptr, EXT2_FLAG_64BITS, 0, 0, CExtDeviceIo::manager(), &fs),
        0);
    unsigned char block[1024] = {};
    EXPECT_NE(io_channel_write_blk64(fs->io, 1, 1, block), 0);
    EXPECT_EQ(ext2fs_close_free(&fs), 0);
}

} // namespace
