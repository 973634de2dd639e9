#include "CTempDir.h"
#include "platform/CFileDevice.h"
#include "platform/CFsProbe.h"
#include "platform/COutputFolder.h"
#include "platform/win32/CWinText.h"

#include <gtest/gtest.h>

#include <cstring>
#include <windows.h>

namespace {

// A folder with a Chinese name inside a temporary folder, as people name
// them ("恢复": recovered).
std::string chineseFolder(const CTempDir& dir) {
    const std::string folder = dir.path() + "\\恢复";
    EXPECT_TRUE(::CreateDirectoryW(CWinText::widen(folder).c_str(), nullptr));
    return folder;
}

void writeFile(const std::string& path, const std::vector<unsigned char>& bytes) {
    HANDLE file = ::CreateFileW(CWinText::widen(path).c_str(), GENERIC_WRITE, 0, nullptr,
                                CREATE_NEW, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr));
    ::CloseHandle(file);
}

} // namespace

TEST(WinFileDevice, ReadsAnImageFileByItsUnicodePath) {
    CTempDir dir;
    const std::string image = chineseFolder(dir) + "\\存储卡.img";
    std::vector<unsigned char> bytes(3 * 512 + 100);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = uint8_t(i * 7);
    writeFile(image, bytes);

    const auto device = CFileDevice::open(image, 1024);
    EXPECT_FALSE(device->isBlockDevice());
    EXPECT_EQ(device->sectorSize(), 1024u);
    EXPECT_EQ(device->byteSize(), bytes.size());
    std::vector<unsigned char> got(512);
    uint32_t length = 0;
    int error = 0;
    // Anywhere, and short at the end.
    ASSERT_TRUE(device->readAt(3, got.data(), 512, length, error));
    EXPECT_EQ(length, 512u);
    EXPECT_EQ(std::vector<unsigned char>(bytes.begin() + 3, bytes.begin() + 515), got);
    ASSERT_TRUE(device->readAt(3 * 512, got.data(), 512, length, error));
    EXPECT_EQ(length, 100u);
    ASSERT_TRUE(device->readAt(bytes.size() + 512, got.data(), 512, length, error));
    EXPECT_EQ(length, 0u);
}

TEST(WinFileDevice, RefusesWhatIsNoImage) {
    CTempDir dir;
    try {
        CFileDevice::open(dir.path());
        FAIL() << "a folder was opened as a source";
    } catch (const CDeviceOpenError& e) {
        EXPECT_NE(std::string(e.what()).find("is a directory"), std::string::npos) << e.what();
    }
    EXPECT_THROW(CFileDevice::open(dir.path() + "\\missing.img"), CDeviceOpenError);
    EXPECT_THROW(CFileDevice::open(dir.path() + "\\x.img", 0), CDeviceOpenError);
}

TEST(WinFsProbe, NamesTheFileSystemOfAnImageFromItsBootSector) {
    CTempDir dir;
    std::vector<unsigned char> ntfs(8192, 0);
    ntfs[0] = 0xEB;
    std::memcpy(&ntfs[3], "NTFS    ", 8);
    writeFile(dir.file("ntfs.img"), ntfs);
    writeFile(dir.file("zeros.img"), std::vector<unsigned char>(8192, 0));
    // Smaller than the largest sector the probe reads at first.
    writeFile(dir.file("small.img"), std::vector<unsigned char>(ntfs.begin(), ntfs.begin() + 1024));
    EXPECT_EQ(CFsProbe::probePath(dir.file("ntfs.img")), "NTFS");
    EXPECT_EQ(CFsProbe::probePath(dir.file("zeros.img")), "");
    EXPECT_EQ(CFsProbe::probePath(dir.file("small.img")), "NTFS");
    EXPECT_EQ(CFsProbe::probePath(dir.file("missing.img")), "");
}

TEST(WinOutputFolder, AcceptsAFolderForAnImageAndRefusesWhatIsNoFolder) {
    CTempDir dir;
    const std::string folder = chineseFolder(dir);
    writeFile(dir.file("card.img"), std::vector<unsigned char>(4096, 0));
    tagScannedSource image;
    ASSERT_TRUE(tagScannedSource::ofPath(dir.file("card.img"), image));
    EXPECT_FALSE(image.blockDevice);

    const COutputFolder accepted(folder, image);
    EXPECT_EQ(accepted.verdict(), COutputFolder::Verdict::Accepted) << accepted.reason();
    EXPECT_GE(accepted.descriptor(), 0);

    const COutputFolder missing(dir.file("missing"), image);
    EXPECT_EQ(missing.verdict(), COutputFolder::Verdict::Refused);
    const COutputFolder file(dir.file("card.img"), image);
    EXPECT_EQ(file.verdict(), COutputFolder::Verdict::Refused);
    EXPECT_NE(file.reason().find("is not a folder"), std::string::npos) << file.reason();
}
