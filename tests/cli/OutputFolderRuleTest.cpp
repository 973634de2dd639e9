// vallora-recover and the output-folder rule: a folder inside the scanned
// image (attached and mounted) is refused before anything is written, and
// --force-output takes the risk only where the storage is unknown.
#include "CChildProcess.h"
#include "CDiskImageMaker.h"
#include "CLoopDevice.h"
#include "CMountPoint.h"
#include "CTempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const std::string kProgram = VALLORA_RECOVER;

} // namespace

TEST(OutputFolderRule, FolderInsideTheLoopMountedImageIsRefused) {
    const std::string why = CLoopDevice::unavailableReason();
    if (!why.empty())
        GTEST_SKIP() << why;
    CTempDir dir;
    const std::string image = dir.file("card.img");
    ASSERT_TRUE(CDiskImageMaker::run("truncate -s 8M " + CDiskImageMaker::quote(image) +
                                     " && mke2fs -q -F -t ext2 " + CDiskImageMaker::quote(image)));
    CLoopDevice loop(image);
    ASSERT_TRUE(loop.attached());
    CMountPoint mount(CMountPoint::mountCommand(loop.path(), dir.file("card")), dir.file("card"));
    ASSERT_TRUE(mount.mounted());
    fs::create_directory(dir.file("card/out"));
    for (const std::string& source : {image, loop.path()}) {
        std::string err;
        EXPECT_EQ(CChildProcess::run(
                      {kProgram, "--fs", "raw", "--force-output", source, dir.file("card/out")},
                      nullptr, &err),
                  4)
            << source << ": " << err;
        EXPECT_NE(err.find("writing there would overwrite the photos being recovered"),
                  std::string::npos)
            << err;
        EXPECT_TRUE(fs::is_empty(dir.file("card/out")));
    }
}

TEST(OutputFolderRule, UnknownStorageNeedsForceOutput) {
    // A cgroup folder is writable by root and names no disk.
    if (::geteuid() != 0 || ::access("/sys/fs/cgroup/pids", W_OK) != 0)
        GTEST_SKIP() << "needs root and a writable /sys/fs/cgroup/pids";
    CTempDir dir;
    CTempDir::writeFile(dir.file("empty.img"), std::vector<unsigned char>(64 * 512, 0));
    std::string err;
    EXPECT_EQ(CChildProcess::run({kProgram, "-q", dir.file("empty.img"), "/sys/fs/cgroup/pids"},
                                 nullptr, &err),
              4)
        << err;
    EXPECT_NE(err.find("--force-output"), std::string::npos) << err;
    // (A cgroup folder takes no ordinary file, so no report.xml either.)
    EXPECT_EQ(CChildProcess::run({kProgram, "-q", "--force-output", "--no-report",
                                  dir.file("empty.img"), "/sys/fs/cgroup/pids"},
                                 nullptr, &err),
              0)
        << err;
    EXPECT_NE(err.find("warning: output folder"), std::string::npos) << err;
}
