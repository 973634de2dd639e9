// No recovered photo is ever replaced: a second scan into the same folder,
// two scans at once, a name held by another photo, and a file system that
// cannot write unnamed files (FAT) all keep every photo.
#include "CDiskImageMaker.h"
#include "CMemoryVolumeAccess.h"
#include "CMiniJpeg.h"
#include "CMountPoint.h"
#include "CRecordingFrontEnd.h"
#include "CTempDir.h"
#include "scan/CScanner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::vector<std::string> namesIn(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A volume with photos at sectors 10 and 20; filler tells runs apart.
struct tagTwoPhotoVolume {
    explicit tagTwoPhotoVolume(unsigned char filler) : volume(100, 1) {
        volume.put(10, miniJpeg(2, 512, filler));
        volume.put(20, miniJpeg(3, 512, filler));
    }
    CMemoryVolumeAccess volume;
};

struct tagScanResult {
    std::string summary;
    uint32_t identical = 0;
    std::vector<tagRenamedFile> renamed;
};

// Runs a whole scan of volume into folder.
tagScanResult scanInto(CMemoryVolumeAccess& volume, const std::string& folder) {
    CRecordingFrontEnd ui(folder);
    CScanner scanner(&volume);
    scanner.run(&ui);
    return {ui.summaries.at(0).first, scanner.identicalFiles(), scanner.renamedFiles()};
}

// Scans twice into out: the same card again, then a different one whose
// photos take the same names. Nothing of the first scan may be lost.
void expectSecondScansKeepEverything(const std::string& out) {
    tagTwoPhotoVolume first(0x5A), other(0x6B);
    EXPECT_EQ(scanInto(first.volume, out).summary, "用时0秒,成功恢复2个文件");

    // The same card again: the same bytes are not written a second time.
    const tagScanResult again = scanInto(first.volume, out);
    EXPECT_EQ(again.summary, "用时0秒,成功恢复2个文件,2个已存在相同文件,未重复写入");
    EXPECT_EQ(again.identical, 2u);
    EXPECT_EQ(namesIn(out), (std::vector<std::string>{"1992.jpg", "2002.jpg"}));

    // Another card: its photos are kept beside the first ones.
    const tagScanResult another = scanInto(other.volume, out);
    EXPECT_EQ(another.summary, "用时0秒,成功恢复2个文件,其中2个因同名文件已存在而另存新名");
    ASSERT_EQ(another.renamed.size(), 2u);
    EXPECT_EQ(another.renamed[0].savedName, "1992_1.jpg");
    EXPECT_EQ(namesIn(out),
              (std::vector<std::string>{"1992.jpg", "1992_1.jpg", "2002.jpg", "2002_1.jpg"}));
    EXPECT_EQ(CTempDir::readFile(out + "/1992.jpg"), miniJpeg(2, 512, 0x5A));
    EXPECT_EQ(CTempDir::readFile(out + "/1992_1.jpg"), miniJpeg(2, 512, 0x6B));
    EXPECT_EQ(CTempDir::readFile(out + "/2002_1.jpg"), miniJpeg(3, 512, 0x6B));
}

} // namespace

TEST(NeverReplace, SecondScanKeepsEarlierPhotosAndSkipsIdenticalOnes) {
    CTempDir out;
    expectSecondScansKeepEverything(out.path());
}

TEST(NeverReplace, TwoScansAtOnceIntoOneFolderKeepBothRunsFiles) {
    CTempDir out;
    constexpr int kPhotos = 40;
    CMemoryVolumeAccess a(kPhotos * 10 + 20, 1), b(kPhotos * 10 + 20, 1);
    for (int i = 0; i < kPhotos; ++i) {
        a.put(10 + 10 * uint32_t(i), miniJpeg(4, 512, 0x11));
        b.put(10 + 10 * uint32_t(i), miniJpeg(4, 512, 0x22));
    }
    std::thread first([&] { scanInto(a, out.path()); });
    std::thread second([&] { scanInto(b, out.path()); });
    first.join();
    second.join();
    const auto names = namesIn(out.path());
    EXPECT_EQ(names.size(), size_t(2 * kPhotos)) << "a run's photos were replaced";
    size_t fromA = 0, fromB = 0;
    for (const auto& name : names) {
        const auto bytes = CTempDir::readFile(out.file(name));
        fromA += bytes == miniJpeg(4, 512, 0x11);
        fromB += bytes == miniJpeg(4, 512, 0x22);
    }
    EXPECT_EQ(fromA, size_t(kPhotos));
    EXPECT_EQ(fromB, size_t(kPhotos));
    EXPECT_TRUE(std::none_of(names.begin(), names.end(), [](const std::string& n) {
        return n[0] == '.';
    })) << "a hidden partial file was left";
}

// A FUSE file system (ntfs-3g here) writes no unnamed files and may not
// take no-replace renames: the hidden partial name, and a hard link in
// place of the rename, carry the same rule there.
TEST(NeverReplace, FuseOutputFolderKeepsEveryPhotoToo) {
    if (::geteuid() != 0 || ::access("/dev/fuse", R_OK | W_OK) != 0)
        GTEST_SKIP() << "needs root and /dev/fuse to mount with ntfs-3g";
    if (!CDiskImageMaker::haveTool("mkntfs") || !CDiskImageMaker::haveTool("ntfs-3g"))
        GTEST_SKIP() << "ntfs-3g is not installed";
    CTempDir dir;
    const std::string image = CDiskImageMaker::quote(dir.file("ntfs.img"));
    ASSERT_TRUE(CDiskImageMaker::run("truncate -s 16M " + image + " && mkntfs -q -F -f " + image));
    CMountPoint mount("ntfs-3g " + image + " " + CDiskImageMaker::quote(dir.file("mnt")),
                      dir.file("mnt"));
    if (!mount.mounted())
        GTEST_SKIP() << "ntfs-3g cannot mount here";
    // What the fallback is for: no unnamed files on this file system.
    const int unnamed = ::open(dir.file("mnt").c_str(), O_TMPFILE | O_RDWR, 0644);
    EXPECT_LT(unnamed, 0);
    if (unnamed >= 0)
        ::close(unnamed);
    fs::create_directory(dir.file("mnt/out"));
    expectSecondScansKeepEverything(dir.file("mnt/out"));
}
