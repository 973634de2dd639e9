#include "CTempDir.h"
#include "platform/CFolderDescriptor.h"
#include "platform/win32/CWinText.h"
#include "scan/CRecoveredFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <windows.h>

namespace {

// The names in folder, sorted; hidden files included.
std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW found{};
    HANDLE search = ::FindFirstFileW(CWinText::widen(folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        const std::string name = CWinText::narrow(found.cFileName);
        if (name != "." && name != "..")
            names.push_back(name);
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

std::string contentOf(const std::string& path) {
    HANDLE file = ::CreateFileW(CWinText::widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "<missing>";
    char buffer[256];
    DWORD got = 0;
    ::ReadFile(file, buffer, sizeof buffer, &got, nullptr);
    ::CloseHandle(file);
    return std::string(buffer, got);
}

// Writes text as name into the folder open as fd.
bool recover(int fd, const std::string& name, const std::string& text,
             CRecoveredFile::Placement& placement, std::string& finalName, std::string& error) {
    CRecoveredFile file(fd, name);
    return file.open(error) &&
           file.write(reinterpret_cast<const unsigned char*>(text.data()), text.size(), error) &&
           file.place(placement, finalName, error);
}

class RecoveredFileWin : public ::testing::Test {
protected:
    void SetUp() override {
        folder = dir.path() + "\\照片 恢复";
        ASSERT_TRUE(::CreateDirectoryW(CWinText::widen(folder).c_str(), nullptr));
        std::string error;
        fd = CFolderDescriptor::open(folder, error);
        ASSERT_GE(fd, 0) << error;
    }
    void TearDown() override { CFolderDescriptor::close(fd); }

    CTempDir dir;
    std::string folder;
    int fd = -1;
};

} // namespace

TEST_F(RecoveredFileWin, NamesAFileOnlyWhenCompleteAndNeverReplaces) {
    CRecoveredFile::Placement placement;
    std::string name, error;
    ASSERT_TRUE(recover(fd, "1990.jpg", "first", placement, name, error)) << error;
    EXPECT_EQ(placement, CRecoveredFile::Placement::New);
    EXPECT_EQ(name, "1990.jpg");
    // The same bytes again: left alone. Other bytes: a suffixed name.
    ASSERT_TRUE(recover(fd, "1990.jpg", "first", placement, name, error)) << error;
    EXPECT_EQ(placement, CRecoveredFile::Placement::Identical);
    ASSERT_TRUE(recover(fd, "1990.jpg", "second", placement, name, error)) << error;
    EXPECT_EQ(placement, CRecoveredFile::Placement::Renamed);
    EXPECT_EQ(name, "1990_1.jpg");
    EXPECT_EQ(namesIn(folder), (std::vector<std::string>{"1990.jpg", "1990_1.jpg"}));
    EXPECT_EQ(contentOf(folder + "\\1990.jpg"), "first");
    EXPECT_EQ(contentOf(folder + "\\1990_1.jpg"), "second");
    EXPECT_EQ(::GetFileAttributesW(CWinText::widen(folder + "\\1990.jpg").c_str()) &
                  FILE_ATTRIBUTE_HIDDEN,
              0u);
}

TEST_F(RecoveredFileWin, LeavesNothingOfAFileNotFinished) {
    std::string error;
    {
        CRecoveredFile file(fd, "2000.jpg");
        ASSERT_TRUE(file.open(error)) << error;
        ASSERT_TRUE(file.write(reinterpret_cast<const unsigned char*>("half"), 4, error));
        // Written under a hidden name only.
        EXPECT_EQ(namesIn(folder), std::vector<std::string>{".2000.jpg.partial"});
    }
    EXPECT_TRUE(namesIn(folder).empty());

    // The file being written is removed by the handler of a third Ctrl-C.
    CRecoveredFile file(fd, "2001.jpg");
    ASSERT_TRUE(file.open(error)) << error;
    CRecoveredFile::removeInProgress();
    file.discard();
    EXPECT_TRUE(namesIn(folder).empty());
}

TEST_F(RecoveredFileWin, ReportsAFolderHoldingThePhotosName) {
    ASSERT_TRUE(::CreateDirectoryW(CWinText::widen(folder + "\\2002.jpg").c_str(), nullptr));
    CRecoveredFile::Placement placement;
    std::string name, error;
    EXPECT_FALSE(recover(fd, "2002.jpg", "photo", placement, name, error));
    EXPECT_NE(error.find("exists and is not a file"), std::string::npos) << error;
    EXPECT_EQ(namesIn(folder), std::vector<std::string>{"2002.jpg"});
}

TEST_F(RecoveredFileWin, TakesItsOwnNameBesideAnotherRunsFileInProgress) {
    const std::string other = folder + "\\.2003.jpg.partial";
    HANDLE held = ::CreateFileW(CWinText::widen(other).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    CRecoveredFile::Placement placement;
    std::string name, error;
    EXPECT_TRUE(recover(fd, "2003.jpg", "photo", placement, name, error)) << error;
    ::CloseHandle(held);
    EXPECT_EQ(namesIn(folder), (std::vector<std::string>{".2003.jpg.partial", "2003.jpg"}));
}
