// The raw access over image files: geometry, true 64-bit offsets, reads past
// the end, and open failures.
#include "CTempDir.h"
#include "volume/CRawVolumeAccess.h"
#include "volume/CVolumeOpenError.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

// Writes bytes at offset of path, growing it (sparse) as needed.
void writeAt(const std::string& path, uint64_t offset, const std::vector<unsigned char>& bytes) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), off_t(offset)), ssize_t(bytes.size()));
    ::close(fd);
}

std::vector<unsigned char> pattern(size_t n, unsigned char seed) {
    std::vector<unsigned char> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = static_cast<unsigned char>(seed + i * 7);
    return v;
}

} // namespace

TEST(RawVolumeAccess, GeometryOfAnImageFile) {
    struct Case {
        uint64_t bytes;
        uint32_t sectorSize;
        uint32_t sectors;
    } cases[] = {{1000, 0, 1}, {8192, 512, 16}, {8192 + 100, 4096, 2}, {100, 512, 0}};
    for (const auto& c : cases) {
        CTempDir dir;
        writeAt(dir.file("img"), c.bytes - 1, {0});
        CRawVolumeAccess raw(dir.file("img"), c.sectorSize);
        const uint32_t sectorSize = c.sectorSize ? c.sectorSize : 512;
        EXPECT_EQ(raw.getClusterCount(), c.sectors) << c.bytes << " bytes";
        EXPECT_EQ(raw.getSectorSize(), sectorSize);
        EXPECT_EQ(raw.getClusterSize(), sectorSize);
        EXPECT_FALSE(raw.isClusterUsed(0));
        EXPECT_FALSE(raw.isClusterUsed(c.sectors));
        EXPECT_EQ(raw.clusterToSector(1234), 1234u);
    }
}

TEST(RawVolumeAccess, ReadsTheSectorsAskedFor) {
    CTempDir dir;
    const auto bytes = pattern(512 * 20, 3);
    CTempDir::writeFile(dir.file("img"), bytes);
    CRawVolumeAccess raw(dir.file("img"));
    std::vector<unsigned char> one(512), three(3 * 512), viaClusters(3 * 512);
    ASSERT_TRUE(raw.readSectors(7, 7, one.data()));
    EXPECT_TRUE(std::equal(one.begin(), one.end(), bytes.begin() + 7 * 512));
    ASSERT_TRUE(raw.readSectors(10, 12, three.data()));
    ASSERT_TRUE(raw.readClusters(10, 12, viaClusters.data()));
    EXPECT_TRUE(std::equal(three.begin(), three.end(), bytes.begin() + 10 * 512));
    EXPECT_EQ(three, viaClusters);
}

TEST(RawVolumeAccess, OffsetsBeyond4GiBAreTrue64BitOffsets) {
    CTempDir dir;
    const uint64_t fourGiB = uint64_t(1) << 32;
    const auto marker = pattern(512, 9);
    writeAt(dir.file("img"), fourGiB + 512, marker); // sector 2^23 + 1
    writeAt(dir.file("img"), fourGiB + 4095, {0});
    CRawVolumeAccess raw(dir.file("img"));
    EXPECT_EQ(raw.getClusterCount(), (fourGiB + 4096) / 512);
    std::vector<unsigned char> got(512);
    ASSERT_TRUE(raw.readSectors((1u << 23) + 1, (1u << 23) + 1, got.data()));
    EXPECT_EQ(got, marker);
}

TEST(RawVolumeAccess, ReadPastTheEndSucceedsWithZerosNotStaleBytes) {
    CTempDir dir;
    CTempDir::writeFile(dir.file("img"), pattern(1000, 1));
    CRawVolumeAccess raw(dir.file("img"));
    std::vector<unsigned char> got(1024, 0xEE);
    ASSERT_TRUE(raw.readSectors(1, 2, got.data()));
    const auto expected = pattern(1000, 1);
    EXPECT_TRUE(std::equal(got.begin(), got.begin() + 488, expected.begin() + 512));
    EXPECT_TRUE(std::all_of(got.begin() + 488, got.end(), [](unsigned char b) { return b == 0; }));
}

TEST(RawVolumeAccess, SourceThatCannotBeOpenedFailsConstruction) {
    CTempDir dir;
    for (const std::string& path : {dir.file("missing"), dir.path()}) {
        try {
            CRawVolumeAccess raw(path);
            ADD_FAILURE() << path << " opened";
        } catch (const CVolumeOpenError& e) {
            EXPECT_STREQ(e.what(), "Error Creating accessing the volume");
            EXPECT_NE(e.reason().find(path), std::string::npos);
        }
    }
}
