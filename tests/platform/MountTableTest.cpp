// Reading /proc/self/mountinfo lines: optional fields, escaped paths and
// the file system's own options.
#include "platform/CMountTable.h"

#include <gtest/gtest.h>

#include <sys/sysmacros.h>

TEST(MountTable, LinesGiveDeviceTypeSourceAndOptions) {
    struct Case {
        std::string line;
        bool parsed;
        dev_t device;
        std::string mountPoint, type, source, upperdir;
    } cases[] = {
        {"28 1 254:0 / / rw,relatime - ext4 /dev/vda rw,discard", true, makedev(254, 0), "/",
         "ext4", "/dev/vda", ""},
        {"36 35 0:52 / /mnt/my\\040card rw shared:7 master:1 - fuse /srv/a\\134b.img "
         "rw,user_id=0",
         true, makedev(0, 52), "/mnt/my card", "fuse", "/srv/a\\b.img", ""},
        {"40 28 0:60 / /merged rw - overlay overlay "
         "rw,lowerdir=/l,upperdir=/up\\054per,workdir=/w",
         true, makedev(0, 60), "/merged", "overlay", "overlay", "/up,per"},
        {"41 28 0:61 / /x rw - sshfs", false, 0, "", "", "", ""},        // no source
        {"41 28 0:61 / /x rw sshfs host: rw", false, 0, "", "", "", ""}, // no separator
        {"41 28 zero / /x rw - ext4 /dev/sda1 rw", false, 0, "", "", "", ""},
    };
    for (const auto& c : cases) {
        tagMountEntry entry;
        ASSERT_EQ(CMountTable::parseLine(c.line, entry), c.parsed) << c.line;
        if (!c.parsed)
            continue;
        EXPECT_EQ(entry.device, c.device) << c.line;
        EXPECT_EQ(entry.mountPoint, c.mountPoint) << c.line;
        EXPECT_EQ(entry.type, c.type) << c.line;
        EXPECT_EQ(entry.source, c.source) << c.line;
        EXPECT_EQ(entry.option("upperdir"), c.upperdir) << c.line;
    }
}
