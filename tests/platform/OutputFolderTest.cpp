// The output-folder rule: the folder is checked as opened, and writing into
// it must not reach the data being scanned through any layer Linux stacks
// between a folder and its disks. The stacked cases use real loop devices,
// file systems and mounts (root only; each skips with its reason where the
// kernel or a tool is missing).
#include "CDiskImageMaker.h"
#include "CLoopDevice.h"
#include "CMountPoint.h"
#include "CTempDir.h"
#include "platform/COutputFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace fs = std::filesystem;
using Verdict = COutputFolder::Verdict;

namespace {

tagScannedSource sourceAt(const std::string& path) {
    tagScannedSource source;
    EXPECT_TRUE(tagScannedSource::ofPath(path, source)) << path;
    return source;
}

// A sparse file of the given size with a file system made by command
// ("mke2fs -q -F -t ext2", "mkfs.btrfs -q -f"...).
bool makeVolume(const std::string& path, const std::string& command, unsigned mib) {
    return CDiskImageMaker::run("truncate -s " + std::to_string(mib) + "M " +
                                CDiskImageMaker::quote(path)) &&
           CDiskImageMaker::run(command + " " + CDiskImageMaker::quote(path));
}

std::string verdictText(Verdict verdict) {
    switch (verdict) {
    case Verdict::Accepted:
        return "accepted";
    case Verdict::Refused:
        return "refused";
    case Verdict::Undetermined:
        return "undetermined";
    }
    return "?";
}

struct tagFolderCase {
    std::string label;
    std::string folder;
    tagScannedSource source;
    Verdict expected;
};

void expectVerdicts(const std::vector<tagFolderCase>& cases) {
    for (const auto& c : cases) {
        const COutputFolder folder(c.folder, c.source);
        EXPECT_EQ(verdictText(folder.verdict()), verdictText(c.expected))
            << c.label << ": " << folder.reason();
        if (c.expected == Verdict::Refused) {
            EXPECT_NE(folder.reason().find(c.folder), std::string::npos) << folder.reason();
        }
    }
}

#define SKIP_WITHOUT_LOOP_DEVICES()                                                                \
    do {                                                                                           \
        const std::string why = CLoopDevice::unavailableReason();                                  \
        if (!why.empty())                                                                          \
            GTEST_SKIP() << why;                                                                   \
    } while (0)

} // namespace

TEST(OutputFolder, FolderIsCheckedAsOpenedAndAnImagesOwnFileSystemIsFine) {
    CTempDir dir;
    CTempDir::writeFile(dir.file("card.img"), std::vector<unsigned char>(4096, 0));
    CTempDir::writeFile(dir.file("plain-file"), {1});
    fs::create_directory(dir.file("out"));
    const tagScannedSource image = sourceAt(dir.file("card.img"));
    struct Case {
        std::string folder;
        Verdict verdict;
        std::string says;
    } cases[] = {
        {dir.file("out"), Verdict::Accepted, ""},
        {dir.file("missing"), Verdict::Refused, "No such file"},
        {dir.file("plain-file"), Verdict::Refused, "is not a folder"},
        {"/proc/self", Verdict::Refused, "not writable"},
    };
    for (const auto& c : cases) {
        const COutputFolder folder(c.folder, image);
        EXPECT_EQ(verdictText(folder.verdict()), verdictText(c.verdict)) << c.folder;
        EXPECT_NE(folder.reason().find(c.says), std::string::npos) << folder.reason();
    }

    // The descriptor is the folder that was checked, whatever later
    // happens to its path.
    const COutputFolder folder(dir.file("out"), image);
    ASSERT_GE(folder.descriptor(), 0);
    struct stat opened {
    }, checked{};
    ASSERT_EQ(::stat(dir.file("out").c_str(), &checked), 0);
    fs::rename(dir.file("out"), dir.file("moved"));
    fs::create_directory_symlink("/", dir.file("out"));
    ASSERT_EQ(::fstat(folder.descriptor(), &opened), 0);
    EXPECT_EQ(opened.st_ino, checked.st_ino);
    EXPECT_TRUE(folder.usable());
}

TEST(OutputFolder, UndeterminedStorageIsRefusedUnlessForced) {
    // A cgroup file system is writable by root and names no disk.
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to write into a cgroup folder";
    std::string cgroup;
    for (const char* candidate :
         {"/sys/fs/cgroup/pids", "/sys/fs/cgroup/unified", "/sys/fs/cgroup"})
        if (::access(candidate, W_OK) == 0) {
            cgroup = candidate;
            break;
        }
    if (cgroup.empty())
        GTEST_SKIP() << "no writable cgroup folder";
    CTempDir dir;
    CTempDir::writeFile(dir.file("card.img"), std::vector<unsigned char>(4096, 0));
    const COutputFolder folder(cgroup, sourceAt(dir.file("card.img")));
    EXPECT_EQ(verdictText(folder.verdict()), "undetermined") << folder.reason();
    EXPECT_NE(folder.reason().find("cannot be determined"), std::string::npos) << folder.reason();
    EXPECT_FALSE(folder.usable());
    EXPECT_TRUE(folder.usable(true));
}

TEST(OutputFolder, ImageAttachedAsALoopDeviceAndMountedIsRefused) {
    SKIP_WITHOUT_LOOP_DEVICES();
    CTempDir dir;
    ASSERT_TRUE(makeVolume(dir.file("card.img"), "mke2fs -q -F -t ext2", 8));
    ASSERT_TRUE(makeVolume(dir.file("other.img"), "mke2fs -q -F -t ext2", 8));
    CLoopDevice loop(dir.file("card.img"));
    ASSERT_TRUE(loop.attached());
    CMountPoint mount(CMountPoint::mountCommand(loop.path(), dir.file("mnt")), dir.file("mnt"));
    ASSERT_TRUE(mount.mounted());
    fs::create_directory(dir.file("mnt/out"));
    expectVerdicts({
        {"the image file, mounted through its loop device", dir.file("mnt/out"),
         sourceAt(dir.file("card.img")), Verdict::Refused},
        {"the loop device itself", dir.file("mnt/out"), sourceAt(loop.path()), Verdict::Refused},
        {"another image", dir.file("mnt/out"), sourceAt(dir.file("other.img")), Verdict::Accepted},
        {"the image's own file system", dir.path(), sourceAt(dir.file("card.img")),
         Verdict::Accepted},
    });
}

TEST(OutputFolder, LoopFileAndOverlayOnTheScannedDiskAreRefused) {
    SKIP_WITHOUT_LOOP_DEVICES();
    CTempDir dir;
    ASSERT_TRUE(makeVolume(dir.file("outer.img"), "mke2fs -q -F -t ext2", 24));
    ASSERT_TRUE(makeVolume(dir.file("elsewhere.img"), "mke2fs -q -F -t ext2", 8));
    CLoopDevice outer(dir.file("outer.img"));
    CLoopDevice elsewhere(dir.file("elsewhere.img"));
    ASSERT_TRUE(outer.attached() && elsewhere.attached());
    CMountPoint outerMount(CMountPoint::mountCommand(outer.path(), dir.file("outer")),
                           dir.file("outer"));
    ASSERT_TRUE(outerMount.mounted());
    // A file system in a file on the scanned disk, through a second loop device.
    ASSERT_TRUE(makeVolume(dir.file("outer/inner.img"), "mke2fs -q -F -t ext2", 8));
    CLoopDevice inner(dir.file("outer/inner.img"));
    ASSERT_TRUE(inner.attached());
    CMountPoint innerMount(CMountPoint::mountCommand(inner.path(), dir.file("inner")),
                           dir.file("inner"));
    ASSERT_TRUE(innerMount.mounted());
    // An overlay whose upper folder lies on the scanned disk.
    for (const char* sub : {"outer/lower", "outer/upper", "outer/work"})
        fs::create_directory(dir.file(sub));
    CMountPoint overlay(CMountPoint::mountCommand("overlay", dir.file("merged"), "overlay",
                                                  "lowerdir=" + dir.file("outer/lower") +
                                                      ",upperdir=" + dir.file("outer/upper") +
                                                      ",workdir=" + dir.file("outer/work")),
                        dir.file("merged"));
    std::vector<tagFolderCase> cases = {
        {"a file system in a loop file on the scanned disk", dir.file("inner"),
         sourceAt(outer.path()), Verdict::Refused},
        {"the same, scanning another disk", dir.file("inner"), sourceAt(elsewhere.path()),
         Verdict::Accepted},
    };
    if (overlay.mounted()) {
        cases.push_back({"an overlay over the scanned disk", dir.file("merged"),
                         sourceAt(outer.path()), Verdict::Refused});
        cases.push_back({"the same overlay, scanning another disk", dir.file("merged"),
                         sourceAt(elsewhere.path()), Verdict::Accepted});
    }
    expectVerdicts(cases);
    if (!overlay.mounted())
        GTEST_SKIP() << "overlayfs cannot be mounted here; the loop-file cases passed";
}

TEST(OutputFolder, BtrfsVolumeOnTheScannedDiskIsRefused) {
    SKIP_WITHOUT_LOOP_DEVICES();
    if (!CDiskImageMaker::haveTool("mkfs.btrfs"))
        GTEST_SKIP() << "mkfs.btrfs is not installed (btrfs-progs)";
    CTempDir dir;
    ASSERT_TRUE(makeVolume(dir.file("btrfs.img"), "mkfs.btrfs -q -f", 128));
    ASSERT_TRUE(makeVolume(dir.file("other.img"), "mke2fs -q -F -t ext2", 8));
    CLoopDevice loop(dir.file("btrfs.img"));
    CLoopDevice other(dir.file("other.img"));
    ASSERT_TRUE(loop.attached() && other.attached());
    CMountPoint mount(CMountPoint::mountCommand(loop.path(), dir.file("mnt"), "btrfs"),
                      dir.file("mnt"));
    if (!mount.mounted())
        GTEST_SKIP() << "this kernel cannot mount btrfs";
    fs::create_directory(dir.file("mnt/out"));
    struct stat st {};
    ASSERT_EQ(::stat(dir.file("mnt/out").c_str(), &st), 0);
    // What made the fault: btrfs names no disk by its device number.
    EXPECT_EQ(major(st.st_dev), 0u);
    expectVerdicts({
        {"btrfs on the scanned loop device", dir.file("mnt/out"), sourceAt(loop.path()),
         Verdict::Refused},
        {"btrfs in the scanned image file", dir.file("mnt/out"), sourceAt(dir.file("btrfs.img")),
         Verdict::Refused},
        {"btrfs, scanning another disk", dir.file("mnt/out"), sourceAt(other.path()),
         Verdict::Accepted},
    });
}

TEST(OutputFolder, FuseMountOfTheScannedImageIsRefused) {
    SKIP_WITHOUT_LOOP_DEVICES();
    if (!CDiskImageMaker::haveTool("mkntfs") || !CDiskImageMaker::haveTool("ntfs-3g"))
        GTEST_SKIP() << "ntfs-3g is not installed";
    if (::access("/dev/fuse", R_OK | W_OK) != 0)
        GTEST_SKIP() << "no /dev/fuse";
    CTempDir dir;
    ASSERT_TRUE(makeVolume(dir.file("ntfs.img"), "mkntfs -q -F -f", 16));
    CTempDir::writeFile(dir.file("other.img"), std::vector<unsigned char>(4096, 0));
    // ntfs-3g reads the image file itself through FUSE, no loop device.
    CMountPoint mount("ntfs-3g " + CDiskImageMaker::quote(dir.file("ntfs.img")) + " " +
                          CDiskImageMaker::quote(dir.file("mnt")),
                      dir.file("mnt"));
    if (!mount.mounted())
        GTEST_SKIP() << "ntfs-3g cannot mount here";
    fs::create_directory(dir.file("mnt/out"));
    expectVerdicts({
        {"a FUSE mount of the scanned image", dir.file("mnt/out"), sourceAt(dir.file("ntfs.img")),
         Verdict::Refused},
        {"the same mount, scanning another image", dir.file("mnt/out"),
         sourceAt(dir.file("other.img")), Verdict::Accepted},
    });
}

namespace {

// Runs a shell command when the test ends, however it ends.
class CTeardown {
public:
    explicit CTeardown(std::string command) : command(std::move(command)) {}
    ~CTeardown() { CDiskImageMaker::run(command); }
    CTeardown(const CTeardown&) = delete;
    CTeardown& operator=(const CTeardown&) = delete;

private:
    std::string command;
};

bool kernelHasDeviceMapper() {
    std::ifstream misc("/proc/misc");
    std::string line;
    while (std::getline(misc, line))
        if (line.find("device-mapper") != std::string::npos)
            return true;
    return false;
}

} // namespace

// LVM, dm-crypt and md RAID put a device between the file system and the
// scanned disk; the folder's file system names that device, not the disk.
TEST(OutputFolder, DeviceMapperAndMdStacksOnTheScannedDiskAreRefused) {
    SKIP_WITHOUT_LOOP_DEVICES();
    const bool dm = kernelHasDeviceMapper();
    const bool md = ::access("/proc/mdstat", F_OK) == 0;
    if (!dm && !md)
        GTEST_SKIP() << "this kernel has neither device-mapper nor md";
    CTempDir dir;
    for (const char* name : {"a.img", "b.img", "c.img"})
        CTempDir::writeFile(dir.file(name), {});
    for (const char* name : {"a.img", "b.img", "c.img"})
        ASSERT_EQ(::truncate(dir.file(name).c_str(), 40 << 20), 0);
    CLoopDevice a(dir.file("a.img")), b(dir.file("b.img")), c(dir.file("c.img"));
    ASSERT_TRUE(a.attached() && b.attached() && c.attached());
    const std::string tag = "vallora" + std::to_string(::getpid());
    const auto q = [](const std::string& text) { return CDiskImageMaker::quote(text); };

    struct Stack {
        std::string kind;
        bool supported;
        std::string setUp;    // builds the stack over loop device a (and b)
        std::string tearDown; // takes it apart
        std::string device;   // the stacked device
    };
    std::ofstream(dir.file("key")) << "a key for a test volume";
    const std::vector<Stack> stacks = {
        {"dm-crypt", dm && CDiskImageMaker::haveTool("cryptsetup"),
         "cryptsetup open --type plain --cipher aes-xts-plain64 --key-size 256 --key-file " +
             q(dir.file("key")) + " " + q(a.path()) + " " + tag + "c",
         "cryptsetup close " + tag + "c", "/dev/mapper/" + tag + "c"},
        {"LVM", dm && CDiskImageMaker::haveTool("lvm"),
         "export DM_DISABLE_UDEV=1; pvcreate -qq " + q(a.path()) + " && vgcreate -qq " + tag + " " +
             q(a.path()) + " && lvcreate -qq -y -Zn -n lv -l 100%FREE " + tag,
         "export DM_DISABLE_UDEV=1; vgremove -qq -f " + tag + "; pvremove -qq " + q(a.path()),
         "/dev/" + tag + "/lv"},
        {"md RAID 1", md && CDiskImageMaker::haveTool("mdadm"),
         "mdadm --create /dev/md/" + tag + " --run --level=1 --raid-devices=2 --metadata=1.0 " +
             q(a.path()) + " " + q(b.path()),
         "mdadm --stop /dev/md/" + tag + "; mdadm --zero-superblock " + q(a.path()) + " " +
             q(b.path()),
         "/dev/md/" + tag},
    };
    int tried = 0;
    for (const auto& stack : stacks) {
        if (!stack.supported)
            continue;
        SCOPED_TRACE(stack.kind);
        CTeardown tearDown(stack.tearDown);
        ASSERT_TRUE(CDiskImageMaker::run(stack.setUp)) << stack.setUp;
        ASSERT_TRUE(CDiskImageMaker::run("mke2fs -q -F -t ext2 " + q(stack.device)));
        CMountPoint mount(CMountPoint::mountCommand(stack.device, dir.file("mnt")),
                          dir.file("mnt"));
        ASSERT_TRUE(mount.mounted());
        expectVerdicts({
            {stack.kind + " over the scanned disk", dir.file("mnt"), sourceAt(a.path()),
             Verdict::Refused},
            {stack.kind + ", scanning another disk", dir.file("mnt"), sourceAt(c.path()),
             Verdict::Accepted},
        });
        ++tried;
    }
    if (tried == 0)
        GTEST_SKIP() << "cryptsetup, lvm and mdadm are not installed";
}
