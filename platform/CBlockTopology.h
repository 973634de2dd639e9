#pragma once

#include <set>
#include <string>
#include <sys/types.h>

// What lies under a block device: the whole disks at the bottom, and the
// files that loop devices on the way down read and write.
struct tagDeviceLayers {
    std::set<dev_t> disks;
    std::set<std::string> loopFiles; // paths, as the kernel reports them
};

// Which whole disks lie under a block device, read from sysfs: a partition
// lies on its disk, a device-mapper or md device on the disks of its slaves,
// a loop device on its own (and on the file behind it).
class CBlockTopology {
public:
    explicit CBlockTopology(std::string sysfsRoot = "/sys");

    // The whole disks under device, and the backing files of the loop
    // devices among them. A device sysfs knows nothing of is its own disk.
    tagDeviceLayers layersUnder(dev_t device) const;
    // The device numbers of the whole disks under device.
    std::set<dev_t> underlyingDisks(dev_t device) const;
    // True when the two devices share a disk: writing to one may overwrite
    // the other.
    bool sharesDisk(dev_t a, dev_t b) const;
    // The device number named by a sysfs block device folder's "dev" file.
    static bool readDeviceNumber(const std::string& sysPath, dev_t& device);

private:
    void collect(const std::string& sysPath, tagDeviceLayers& layers, int depth) const;
    std::string root;
};
