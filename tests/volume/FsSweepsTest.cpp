// Whole sweeps, with --fs auto, of volumes made and filled by the file
// systems' own tools: photos written, some deleted again. Every deleted
// photo comes back byte for byte, and none of those still on the volume.
#include "CDiskImageMaker.h"
#include "CTempDir.h"
#include "CVolumeSweep.h"
#include "volume/CVolumeOpener.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <unistd.h>

namespace {

using Bytes = std::vector<unsigned char>;
using Kind = CVolumeOpener::Kind;

// Commands run through the shell with {img} (the image), {dir} (a folder
// holding the photos as IMG_<n>.JPG), {mnt} (a mount point), {file} (one
// photo's path) and {name} (its name) filled in.
struct tagFsCase {
    const char* name;
    std::vector<const char*> tools;
    const char* make; // makes the image, maybe with the photos already in it
    const char* add;  // copies {file} in as {name}, or "" when make did
    const char* remove;
    bool mounted; // add and remove run on the volume mounted at {mnt}
    const char* fileSystem;
    Kind kind;
};

const tagFsCase kCases[] = {
    {"Fat12",
     {"mkfs.fat", "mcopy", "mdel"},
     "truncate -s 2M {img} && mkfs.fat -F 12 {img}",
     "mcopy -i {img} {file} ::/{name}",
     "mdel -i {img} ::/{name}",
     false,
     "FAT12",
     Kind::Fat},
    {"Fat16",
     {"mkfs.fat", "mcopy", "mdel"},
     "truncate -s 20M {img} && mkfs.fat -F 16 {img}",
     "mcopy -i {img} {file} ::/{name}",
     "mdel -i {img} ::/{name}",
     false,
     "FAT16",
     Kind::Fat},
    {"ExFat",
     {"mkfs.exfat", "mount.exfat-fuse", "fusermount", "losetup"},
     "truncate -s 16M {img} && mkfs.exfat -c 4K {img}",
     "cp {file} {mnt}/{name}",
     "rm {mnt}/{name}",
     true,
     "exfat",
     Kind::ExFat},
    // 4 KiB blocks: a photo fits in the twelve direct blocks, so no
    // indirect block lies between its pieces.
    {"Ext2",
     {"mke2fs", "debugfs"},
     "mke2fs -q -F -t ext2 -b 4096 -d {dir} {img} 8M",
     "",
     "debugfs -w -R 'rm /{name}' {img}",
     false,
     "ext2",
     Kind::Ext},
    {"Ext3",
     {"mke2fs", "debugfs"},
     "mke2fs -q -F -t ext3 -b 4096 -d {dir} {img} 8M",
     "",
     "debugfs -w -R 'rm /{name}' {img}",
     false,
     "ext3",
     Kind::Ext},
    {"Ext4With64BitAndFlexBg",
     {"mke2fs", "debugfs"},
     "mke2fs -q -F -t ext4 -O 64bit,flex_bg -d {dir} {img} 32M",
     "",
     "debugfs -w -R 'rm /{name}' {img}",
     false,
     "ext4",
     Kind::Ext},
    {"Ext4Bigalloc",
     {"mke2fs", "debugfs"},
     "mke2fs -q -F -t ext4 -O bigalloc -C 16384 -d {dir} {img} 64M",
     "",
     "debugfs -w -R 'rm /{name}' {img}",
     false,
     "ext4",
     Kind::Ext},
};

void PrintTo(const tagFsCase& c, std::ostream* os) {
    *os << c.name;
}

std::string fill(std::string text, const std::vector<std::pair<std::string, std::string>>& with) {
    for (const auto& [key, value] : with) {
        for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at))
            text.replace(at, key.size(), value), at += value.size();
    }
    return text;
}

class FileSystemSweep : public ::testing::TestWithParam<tagFsCase> {
protected:
    void SetUp() override {
        const tagFsCase& c = GetParam();
        for (const char* tool : c.tools)
            if (!CDiskImageMaker::haveTool(tool))
                GTEST_SKIP() << tool << " is not installed";
        if (c.mounted && (::geteuid() != 0 || ::access("/dev/fuse", R_OK | W_OK) != 0 ||
                          ::access("/dev/loop-control", R_OK | W_OK) != 0))
            GTEST_SKIP() << "mounting through FUSE on a loop device needs root, /dev/fuse "
                            "and /dev/loop-control";
        photos = CVolumeSweep::makePhotos(6);
        image = dir.file("volume.img");
        const std::string folder = dir.file("photos");
        ASSERT_TRUE(CDiskImageMaker::run("mkdir " + CDiskImageMaker::quote(folder)));
        for (size_t i = 0; i < photos.size(); ++i)
            CTempDir::writeFile(folder + "/" + nameOf(i), photos[i]);
        const std::string mnt = dir.file("mnt");
        vars = {{"{img}", CDiskImageMaker::quote(image)},
                {"{dir}", CDiskImageMaker::quote(folder)},
                {"{mnt}", CDiskImageMaker::quote(mnt)}};
        ASSERT_TRUE(CDiskImageMaker::run(fill(c.make, vars))) << fill(c.make, vars);
        if (c.mounted) {
            ASSERT_TRUE(mount(mnt));
        }
        bool ok = true;
        for (size_t i = 0; ok && *c.add && i < photos.size(); ++i)
            ok = runFor(c.add, i, folder);
        for (size_t i = 0; ok && i < deleted.size(); ++i)
            ok = runFor(c.remove, deleted[i], folder);
        if (c.mounted) {
            ASSERT_TRUE(unmount(mnt));
        }
        ASSERT_TRUE(ok);
    }

    static std::string nameOf(size_t i) { return "IMG_" + std::to_string(i) + ".JPG"; }

    bool runFor(const char* pattern, size_t i, const std::string& folder) {
        auto with = vars;
        with.push_back({"{file}", CDiskImageMaker::quote(folder + "/" + nameOf(i))});
        with.push_back({"{name}", nameOf(i)});
        const std::string command = fill(pattern, with);
        const bool ok = CDiskImageMaker::run(command);
        EXPECT_TRUE(ok) << command;
        return ok;
    }

    bool mount(const std::string& mnt) {
        const std::string loop = CDiskImageMaker::quote(dir.file("loop"));
        return CDiskImageMaker::run("mkdir " + CDiskImageMaker::quote(mnt) +
                                    " && losetup -f --show " + vars[0].second + " > " + loop +
                                    " && mount.exfat-fuse \"$(cat " + loop + ")\" " +
                                    CDiskImageMaker::quote(mnt));
    }

    bool unmount(const std::string& mnt) {
        const std::string loop = CDiskImageMaker::quote(dir.file("loop"));
        const bool ok = CDiskImageMaker::run("fusermount -u " + CDiskImageMaker::quote(mnt));
        return CDiskImageMaker::run("losetup -d \"$(cat " + loop + ")\"") && ok;
    }

    CTempDir dir;
    std::vector<Bytes> photos;
    const std::vector<size_t> deleted = {1, 4};
    std::string image;
    std::vector<std::pair<std::string, std::string>> vars;
};

TEST_P(FileSystemSweep, AutoRecoversExactlyTheDeletedPhotos) {
    const tagFsCase& c = GetParam();
    tagSweep result = CVolumeSweep::run(image, CVolumeOpener::Choice::Auto, dir, "out");
    EXPECT_EQ(result.fileSystem, c.fileSystem);
    EXPECT_EQ(result.kind, c.kind);
    std::vector<Bytes> wanted;
    for (size_t i : deleted)
        wanted.push_back(photos[i]);
    std::sort(wanted.begin(), wanted.end());
    EXPECT_EQ(result.recovered, wanted); // byte for byte, and nothing else
    EXPECT_EQ(result.unreadable, 0u);
    EXPECT_EQ(result.output.find("Error"), std::string::npos) << result.output;
    // The sweep covered free clusters only: the live photos' were skipped.
    EXPECT_LT(result.geometry.freeClusters, result.geometry.clusterCount);
    EXPECT_GT(result.geometry.freeClusters, 0u);
    EXPECT_FALSE(result.geometry.detail.empty());
}

INSTANTIATE_TEST_SUITE_P(Tools, FileSystemSweep, ::testing::ValuesIn(kCases),
                         [](const auto& test) { return std::string(test.param.name); });

} // namespace
