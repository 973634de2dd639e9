// vallora-recover's ways out: SIGTERM and SIGHUP act as Ctrl-C, a closed
// standard output does not kill a recovery, and the exit status says when
// a found image was not written.
#include "CChildProcess.h"
#include "CJpegMaker.h"
#include "CTempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const std::string kProgram = VALLORA_RECOVER;
// With standard error on a terminal the program draws its progress, which
// it starts only once its signal handlers are armed: this line says that the
// handlers are armed and the photo at sector 1 was found, so a signal from
// here on meets a sweep with something to write.
const char kPhotoFound[] = " 1 images found";

// A photo at sector 1, then a 64 GiB sparse stretch that keeps the sweep
// busy while a signal arrives. Returns the photo.
std::vector<unsigned char> makeLongCard(const std::string& path) {
    const auto photo = CJpegMaker::make(CJpegMaker::Kind::Exif, 200, 150, 1);
    std::vector<unsigned char> head(512 + photo.size(), 0);
    std::copy(photo.begin(), photo.end(), head.begin() + 512);
    CTempDir::writeFile(path, head);
    EXPECT_EQ(::truncate(path.c_str(), off_t(64) << 30), 0);
    return photo;
}

} // namespace

TEST(SignalsAndStatus, TermAndHangUpStopAndWriteLikeCtrlC) {
    for (int sig : {SIGTERM, SIGHUP}) {
        CTempDir dir;
        const auto photo = makeLongCard(dir.file("card.img"));
        fs::create_directory(dir.file("out"));
        CChildProcess child({kProgram, dir.file("card.img"), dir.file("out")}, true);
        ASSERT_TRUE(child.waitForError(kPhotoFound, 60000)) << child.err();
        child.signal(sig);
        EXPECT_EQ(child.wait(), 5) << strsignal(sig) << ": " << child.err();
        EXPECT_EQ(CTempDir::readFile(dir.file("out/1983.jpg")), photo) << strsignal(sig);
        EXPECT_NE(child.out().find("扫描终止"), std::string::npos);
    }
}

TEST(SignalsAndStatus, StoppedWithAnImageNotWrittenIsAFailure) {
    // The folder goes away during the sweep, then Ctrl-C: the image found
    // cannot be written, which is not a clean stop.
    CTempDir dir;
    makeLongCard(dir.file("card.img"));
    fs::create_directory(dir.file("out"));
    CChildProcess child({kProgram, dir.file("card.img"), dir.file("out")}, true);
    ASSERT_TRUE(child.waitForError(kPhotoFound, 60000)) << child.err();
    fs::remove(dir.file("out"));
    child.signal(SIGINT);
    EXPECT_EQ(child.wait(), 1) << child.err();
    EXPECT_NE(child.err().find("1983.jpg not written"), std::string::npos) << child.err();
}

TEST(SignalsAndStatus, ClosedStandardOutputDoesNotKillTheRecovery) {
    CTempDir dir;
    const auto photo = CJpegMaker::make(CJpegMaker::Kind::Jfif, 200, 150, 2);
    std::vector<unsigned char> card(512 + photo.size() + 4096, 0);
    std::copy(photo.begin(), photo.end(), card.begin() + 512);
    CTempDir::writeFile(dir.file("card.img"), card);
    fs::create_directory(dir.file("out"));
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    ::close(pipeFds[0]); // nobody reads: every write to stdout fails
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::dup2(pipeFds[1], STDOUT_FILENO);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDERR_FILENO);
        ::signal(SIGPIPE, SIG_DFL);
        ::execl(kProgram.c_str(), kProgram.c_str(), dir.file("card.img").c_str(),
                dir.file("out").c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(CTempDir::readFile(dir.file("out/1983.jpg")), photo);
}

TEST(SignalsAndStatus, FileSizeLimitFailsTheWriteNotTheProgram) {
    CTempDir dir;
    const auto photo = CJpegMaker::make(CJpegMaker::Kind::Jfif, 200, 150, 3);
    ASSERT_GT(photo.size(), 1024u);
    std::vector<unsigned char> card(512 + photo.size() + 4096, 0);
    std::copy(photo.begin(), photo.end(), card.begin() + 512);
    CTempDir::writeFile(dir.file("card.img"), card);
    fs::create_directory(dir.file("out"));
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        const rlimit limit{1024, 1024}; // no file may grow past 1 KiB
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        ::signal(SIGXFSZ, SIG_DFL);
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0)
            ::_exit(126);
        ::execl(kProgram.c_str(), kProgram.c_str(), dir.file("card.img").c_str(),
                dir.file("out").c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 1); // the photo was found but not written
    EXPECT_FALSE(fs::exists(dir.file("out/1983.jpg")));
}
