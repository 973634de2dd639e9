// Which disks lie under a device, from a sysfs tree made in the test.
#include "CTempDir.h"
#include "platform/CBlockTopology.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/sysmacros.h>

namespace fs = std::filesystem;

namespace {

// A block device folder under root/devices with a dev file, linked from
// root/dev/block/MAJ:MIN.
std::string addDevice(const std::string& root, const std::string& folder, unsigned major,
                      unsigned minor, bool partition = false) {
    const std::string dir = root + "/devices/" + folder;
    fs::create_directories(dir);
    std::ofstream(dir + "/dev") << major << ":" << minor << "\n";
    if (partition)
        std::ofstream(dir + "/partition") << "1\n";
    fs::create_directories(root + "/dev/block");
    fs::create_directory_symlink(dir, root + "/dev/block/" + std::to_string(major) + ":" +
                                          std::to_string(minor));
    return dir;
}

} // namespace

TEST(BlockTopology, PartitionsShareTheirDiskAndStackedDevicesTheirSlaves) {
    CTempDir sys;
    const std::string root = sys.path();
    addDevice(root, "sdb", 8, 16);
    addDevice(root, "sdb/sdb1", 8, 17, true);
    addDevice(root, "sdb/sdb2", 8, 18, true);
    addDevice(root, "sdc", 8, 32);
    const std::string sdc1 = addDevice(root, "sdc/sdc1", 8, 33, true);
    const std::string dm = addDevice(root, "dm-0", 253, 0);
    fs::create_directories(dm + "/slaves");
    fs::create_directory_symlink(sdc1, dm + "/slaves/sdc1");

    CBlockTopology topology(root);
    EXPECT_EQ(topology.underlyingDisks(makedev(8, 17)), std::set<dev_t>{makedev(8, 16)});
    EXPECT_EQ(topology.underlyingDisks(makedev(253, 0)), std::set<dev_t>{makedev(8, 32)});
    struct Case {
        dev_t a, b;
        bool shares;
    } cases[] = {
        {makedev(8, 17), makedev(8, 17), true},  // the same partition
        {makedev(8, 17), makedev(8, 18), true},  // two partitions of one disk
        {makedev(8, 16), makedev(8, 18), true},  // the disk and its partition
        {makedev(8, 17), makedev(8, 33), false}, // different disks
        {makedev(253, 0), makedev(8, 32), true}, // a mapped device over sdc1
        {makedev(0, 45), makedev(8, 17), false}, // unknown to sysfs (a tmpfs)
    };
    for (const auto& c : cases)
        EXPECT_EQ(topology.sharesDisk(c.a, c.b), c.shares)
            << major(c.a) << ":" << minor(c.a) << " vs " << major(c.b) << ":" << minor(c.b);
}

TEST(BlockTopology, LoopDevicesNameTheirBackingFileFromAnyPartition) {
    CTempDir sys;
    const std::string root = sys.path();
    const std::string loop = addDevice(root, "virtual/block/loop3", 7, 3);
    addDevice(root, "virtual/block/loop3/loop3p1", 259, 0, true);
    fs::create_directories(loop + "/loop");
    std::ofstream(loop + "/loop/backing_file") << "/srv/card image.img\n";
    addDevice(root, "virtual/block/loop4", 7, 4); // not bound: no loop folder

    CBlockTopology topology(root);
    const tagDeviceLayers layers = topology.layersUnder(makedev(259, 0));
    EXPECT_EQ(layers.disks, std::set<dev_t>{makedev(7, 3)});
    EXPECT_EQ(layers.loopFiles, std::set<std::string>{"/srv/card image.img"});
    EXPECT_TRUE(topology.layersUnder(makedev(7, 4)).loopFiles.empty());
}
