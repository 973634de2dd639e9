// A whole scan and recovery leaves the source exactly as it was, whatever
// access sweeps it.
#include "CChildProcess.h"
#include "CDiskImageMaker.h"
#include "CJpegMaker.h"
#include "CTempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Puts a photo's bytes at a sector of an image, as deleted data would lie.
void plantPhoto(const std::string& image, uint64_t sector, uint32_t seed) {
    const auto photo = CJpegMaker::make(CJpegMaker::Kind::Jfif, 120, 90, seed);
    const int fd = ::open(image.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, photo.data(), photo.size(), off_t(sector * 512)), ssize_t(photo.size()));
    ::close(fd);
}

} // namespace

TEST(SourceUntouched, EveryAccessLeavesTheImageAsItWas) {
    struct Case {
        const char* fs;
        const char* tool;
        std::string make;
        uint64_t photoSector;
    } cases[] = {
        {"raw", "truncate", "truncate -s 8M IMG", 100},
        {"fat32", "mkfs.vfat", "mkfs.vfat -F 32 -S 512 -s 1 -C IMG 40960", 60000},
        {"ntfs", "mkntfs", "truncate -s 16M IMG && mkntfs -F -f -q -s 512 -c 4096 IMG", 16000},
        {"fat", "mkfs.fat", "truncate -s 8M IMG && mkfs.fat -F 16 -s 1 IMG", 8000},
        {"exfat", "mkfs.exfat", "truncate -s 16M IMG && mkfs.exfat IMG", 20000},
        {"ext", "mke2fs", "mke2fs -q -F -t ext4 IMG 16M", 28000},
    };
    for (const auto& c : cases) {
        if (!CDiskImageMaker::haveTool(c.tool)) {
            ADD_FAILURE() << c.tool << " is missing (tools/install-deps.sh installs it)";
            continue;
        }
        CTempDir dir;
        const std::string image = dir.file("card.img");
        std::string make = c.make;
        for (size_t at; (at = make.find("IMG")) != std::string::npos;)
            make.replace(at, 3, CDiskImageMaker::quote(image));
        ASSERT_TRUE(CDiskImageMaker::run(make)) << make;
        plantPhoto(image, c.photoSector, 7);
        fs::create_directory(dir.file("out"));
        const auto before = CTempDir::readFile(image);
        std::string err;
        EXPECT_EQ(CChildProcess::run(
                      {VALLORA_RECOVER, std::string("--fs=") + c.fs, image, dir.file("out")},
                      nullptr, &err),
                  0)
            << c.fs << ": " << err;
        // (Names follow each access's own sector numbering.)
        EXPECT_EQ(CTempDir::photosIn(dir.file("out")).size(), 1u)
            << c.fs << ": the planted photo was not recovered; " << err;
        EXPECT_TRUE(CTempDir::readFile(image) == before) << c.fs << ": the source was written";
    }
}
