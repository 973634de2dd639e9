// The recovery writer: names, pieces, progress, abort between files, and
// failures counted and told honestly.
#include "CMemoryVolumeAccess.h"
#include "CMiniJpeg.h"
#include "CRecordingFrontEnd.h"
#include "CTempDir.h"
#include "scan/CScanner.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using Reads = std::vector<std::pair<uint32_t, uint32_t>>;

namespace {

// Sweeps volume, then runs the writer alone into ui's folder.
void sweepAndWrite(CScanner& scanner, CRecordingFrontEnd& ui) {
    scanner.sweep(&ui);
    scanner.recoverAll();
}

std::vector<std::string> namesIn(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

TEST(RecoveryWriter, FilesAreNamedByFirstSectorPlus1982AndCutAfterTheEndMarker) {
    CTempDir out;
    CMemoryVolumeAccess volume(1000, 1);
    volume.put(700, miniJpeg(1));
    volume.put(702, miniJpeg(3));
    volume.sector(704)[511] = 0; // the last sector's tail: two zero bytes fewer
    volume.sector(704)[510] = 0;
    volume.sector(704)[509] = 0xD9;
    volume.sector(704)[508] = 0xFF;
    CRecordingFrontEnd ui(out.path());
    CScanner scanner(&volume);
    sweepAndWrite(scanner, ui);
    EXPECT_EQ(namesIn(out.path()), (std::vector<std::string>{"2682.jpg", "2684.jpg"}));
    EXPECT_EQ(CTempDir::readFile(out.file("2682.jpg")), miniJpeg(1));
    EXPECT_EQ(CTempDir::readFile(out.file("2684.jpg")).size(), 2u * 512 + 509 + 1);
}

TEST(RecoveryWriter, LongFilesAreWrittenIn40000SectorPieces) {
    for (uint32_t sectors : {40000u, 40001u}) {
        CTempDir out;
        CMemoryVolumeAccess volume(sectors + 20, 1);
        const auto image = miniJpeg(sectors);
        volume.put(5, image);
        CRecordingFrontEnd ui(out.path());
        CScanner scanner(&volume);
        sweepAndWrite(scanner, ui);
        const uint32_t last = 5 + sectors - 1;
        const Reads expected =
            sectors == 40000 ? Reads{{5, last}} : Reads{{5, 40004}, {40005, last}};
        EXPECT_EQ(volume.sectorReads, expected);
        EXPECT_EQ(CTempDir::readFile(out.file("1987.jpg")), image) << sectors << " sectors";
    }
}

TEST(RecoveryWriter, ProgressCountsFilesAndPercent) {
    CTempDir out;
    CMemoryVolumeAccess volume(100, 1);
    for (uint32_t s : {10u, 20u, 30u})
        volume.put(s, miniJpeg(2));
    CRecordingFrontEnd ui(out.path());
    CScanner scanner(&volume);
    scanner.sweep(&ui);
    ui.labels.clear();
    scanner.recoverAll();
    EXPECT_EQ(ui.labels[CScanFrontEnd::kTotalLabel],
              std::vector<std::string>{"搜索完成,文件恢复中..."});
    EXPECT_EQ(ui.labels[CScanFrontEnd::kSweptLabel],
              (std::vector<std::string>{"成功恢复1个文件", "成功恢复2个文件", "成功恢复3个文件"}));
    EXPECT_EQ(ui.labels[CScanFrontEnd::kPercentLabel],
              (std::vector<std::string>{"33%", "66%", "100%"}));
}

TEST(RecoveryWriter, AbandonIsHonouredBetweenFilesOnly) {
    CTempDir out;
    CMemoryVolumeAccess volume(200, 1);
    for (uint32_t s : {10u, 20u, 30u, 40u, 50u})
        volume.put(s, miniJpeg(3));
    CRecordingFrontEnd ui(out.path());
    CScanner scanner(&volume);
    scanner.sweep(&ui);
    // Abandon while the second file is being read.
    volume.onSectorRead = [&](uint32_t first, uint32_t) {
        if (first == 20)
            ui.stop = CScanFrontEnd::StopRequest::Abandon;
    };
    ui.labels.clear();
    scanner.recoverAll();
    EXPECT_EQ(namesIn(out.path()), (std::vector<std::string>{"1992.jpg", "2002.jpg"}));
    EXPECT_EQ(ui.last(CScanFrontEnd::kSweptLabel), "成功恢复2个文件");
    EXPECT_EQ(ui.last(CScanFrontEnd::kPercentLabel), "40%");
    EXPECT_EQ(scanner.filesWritten(), 2u);
    EXPECT_TRUE(scanner.candidateTracker().foundFiles.empty());
}

TEST(RecoveryWriter, FilesAreHandedToTheChosenOwner) {
    if (geteuid() != 0)
        GTEST_SKIP() << "only root can give files away";
    CTempDir out;
    CMemoryVolumeAccess volume(100, 1);
    volume.put(10, miniJpeg(2));
    CRecordingFrontEnd ui(out.path());
    CScanner scanner(&volume);
    scanner.setOutputOwner(4321, 1234);
    scanner.run(&ui);
    struct stat st {};
    ASSERT_EQ(::stat(out.file("1992.jpg").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 4321u);
    EXPECT_EQ(st.st_gid, 1234u);
}

TEST(RecoveryWriterFailures, MissingFolderFailsEveryFileAndTheSummarySaysSo) {
    CTempDir out;
    CMemoryVolumeAccess volume(100, 1);
    volume.put(10, miniJpeg(2));
    volume.put(20, miniJpeg(2));
    CRecordingFrontEnd ui(out.file("missing"));
    CScanner scanner(&volume);
    scanner.run(&ui);
    EXPECT_EQ(ui.summaries[0].first, "用时0秒,成功恢复0个文件");
    ASSERT_EQ(scanner.writeFailures().size(), 2u);
    EXPECT_EQ(scanner.writeFailures()[0].fileName, "1992.jpg");
    EXPECT_NE(scanner.writeFailures()[0].reason.find("No such file"), std::string::npos);
    EXPECT_EQ(scanner.filesFound(), 2u);
}

TEST(RecoveryWriterFailures, NameHeldByAFolderFailsThatFileOnly) {
    CTempDir out;
    fs::create_directory(out.file("1992.jpg"));
    CMemoryVolumeAccess volume(100, 1);
    volume.put(10, miniJpeg(2));
    volume.put(20, miniJpeg(2));
    CRecordingFrontEnd ui(out.path());
    CScanner scanner(&volume);
    scanner.run(&ui);
    EXPECT_EQ(ui.summaries[0].first, "用时0秒,成功恢复1个文件");
    ASSERT_EQ(scanner.writeFailures().size(), 1u);
    EXPECT_EQ(scanner.writeFailures()[0].fileName, "1992.jpg");
    EXPECT_TRUE(fs::is_directory(out.file("1992.jpg")));
    EXPECT_EQ(namesIn(out.path()), (std::vector<std::string>{"1992.jpg", "2002.jpg"}));
}

TEST(RecoveryWriterFailures, UnreadablePieceLeavesNoFileBehind) {
    CTempDir out;
    CMemoryVolumeAccess volume(100, 1);
    volume.put(10, miniJpeg(5));
    CRecordingFrontEnd ui(out.path());
    CScanner scanner(&volume);
    scanner.sweep(&ui);
    volume.failingSectors = {12}; // readable during the sweep, not when writing
    scanner.recoverAll();
    EXPECT_TRUE(namesIn(out.path()).empty());
    ASSERT_EQ(scanner.writeFailures().size(), 1u);
    EXPECT_NE(scanner.writeFailures()[0].reason.find("cannot read"), std::string::npos);
    EXPECT_EQ(scanner.filesWritten(), 0u);
}

TEST(RecoveryWriterFailures, PlantedLinkIsReplacedNotFollowed) {
    CTempDir out;
    CTempDir elsewhere;
    const std::string victim = elsewhere.file("victim");
    CTempDir::writeFile(victim, {'k', 'e', 'e', 'p'});
    fs::create_symlink(victim, out.file("1992.jpg"));
    fs::create_symlink(victim, out.file(".1992.jpg.partial"));
    CMemoryVolumeAccess volume(100, 1);
    volume.put(10, miniJpeg(2));
    CRecordingFrontEnd ui(out.path());
    CScanner scanner(&volume);
    scanner.run(&ui);
    EXPECT_EQ(CTempDir::readFile(victim), (std::vector<unsigned char>{'k', 'e', 'e', 'p'}));
    EXPECT_FALSE(fs::is_symlink(out.file("1992.jpg")));
    EXPECT_EQ(CTempDir::readFile(out.file("1992.jpg")), miniJpeg(2));
    EXPECT_EQ(namesIn(out.path()), std::vector<std::string>{"1992.jpg"});
}

// Runs body in a child process (for limits and identities the test process
// must not take on) and returns its exit status.
template <typename Body> int inChild(Body body) {
    const pid_t child = fork();
    if (child == 0)
        _exit(body());
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

TEST(RecoveryWriterFailures, FullOutputDiskFailsOnlyTheFilesThatDoNotFit) {
    CTempDir out;
    const int status = inChild([&]() -> int {
        rlimit limit{16 * 1024, 16 * 1024}; // no file may grow past 16 KiB
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
            return 10;
        std::signal(SIGXFSZ, SIG_IGN); // as both programs' main() does
        CMemoryVolumeAccess volume(200, 1);
        volume.put(10, miniJpeg(2));
        volume.put(20, miniJpeg(50)); // 25 KiB: does not fit
        volume.put(100, miniJpeg(3));
        CRecordingFrontEnd ui(out.path());
        CScanner scanner(&volume);
        scanner.run(&ui);
        if (ui.summaries.at(0).first != "用时0秒,成功恢复2个文件")
            return 11;
        if (scanner.writeFailures().size() != 1 ||
            scanner.writeFailures()[0].fileName != "2002.jpg")
            return 12;
        if (scanner.writeFailures()[0].reason.find("File too large") == std::string::npos)
            return 13;
        return 0;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(namesIn(out.path()), (std::vector<std::string>{"1992.jpg", "2082.jpg"}));
}

TEST(RecoveryWriterFailures, ReadOnlyFolderIsReported) {
    // Root writes into any folder, so the writer runs as an ordinary user in
    // a child process when the test runs as root.
    CTempDir out;
    fs::permissions(out.path(), fs::perms::owner_read | fs::perms::owner_exec |
                                    fs::perms::group_read | fs::perms::group_exec |
                                    fs::perms::others_read | fs::perms::others_exec);
    auto writeAsUser = [&]() -> int {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            return 10;
        CMemoryVolumeAccess volume(100, 1);
        volume.put(10, miniJpeg(2));
        CRecordingFrontEnd ui(out.path());
        CScanner scanner(&volume);
        scanner.run(&ui);
        if (scanner.filesWritten() != 0 || scanner.writeFailures().size() != 1)
            return 11;
        if (scanner.writeFailures()[0].reason.find("Permission denied") == std::string::npos)
            return 12;
        if (ui.summaries.at(0).first != "用时0秒,成功恢复0个文件")
            return 13;
        return 0;
    };
    EXPECT_EQ(inChild(writeAsUser), 0);
    EXPECT_TRUE(namesIn(out.path()).empty());
}

TEST(RecoveryWriter, FilesGoIntoTheFolderCheckedNotWhereItsPathLeadsLater) {
    CTempDir dir;
    fs::create_directory(dir.file("checked"));
    fs::create_directory(dir.file("elsewhere"));
    const int folderFd = ::open(dir.file("checked").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(folderFd, 0);
    CMemoryVolumeAccess volume(100, 1);
    volume.put(10, miniJpeg(2));
    CRecordingFrontEnd ui(dir.file("checked"));
    CScanner scanner(&volume);
    scanner.setOutputDescriptor(folderFd);
    scanner.sweep(&ui);
    // During the sweep the folder's path is swapped for a link elsewhere.
    fs::rename(dir.file("checked"), dir.file("moved"));
    fs::create_directory_symlink(dir.file("elsewhere"), dir.file("checked"));
    scanner.recoverAll();
    EXPECT_EQ(namesIn(dir.file("moved")), std::vector<std::string>{"1992.jpg"});
    EXPECT_TRUE(fs::is_empty(dir.file("elsewhere")));
    EXPECT_GE(::fcntl(folderFd, F_GETFD), 0) << "the caller's descriptor stays open";
    ::close(folderFd);
}

TEST(RecoveryWriter, AbandonStopsTheFileBeingWrittenAndLeavesNothingOfIt) {
    CTempDir out;
    constexpr uint32_t kLong = 100000; // three pieces
    CMemoryVolumeAccess volume(kLong + 40, 1);
    volume.put(5, miniJpeg(2));
    volume.put(20, miniJpeg(kLong));
    CRecordingFrontEnd ui(out.path());
    CScanner scanner(&volume);
    scanner.sweep(&ui);
    // Abandon while the long file's second piece is read.
    volume.onSectorRead = [&](uint32_t first, uint32_t) {
        if (first == 20 + CScanner::kBufferSectors)
            ui.stop = CScanFrontEnd::StopRequest::Abandon;
    };
    scanner.recoverAll();
    EXPECT_EQ(namesIn(out.path()), std::vector<std::string>{"1987.jpg"})
        << "the abandoned file, or a hidden part of it, was left";
    EXPECT_TRUE(scanner.abandonedWhileWriting());
    EXPECT_EQ(scanner.filesWritten(), 1u);
    EXPECT_TRUE(scanner.writeFailures().empty());
    // The third piece was never read.
    EXPECT_EQ(volume.sectorReads.back().first, 20 + CScanner::kBufferSectors);
}
