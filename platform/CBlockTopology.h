#pragma once

#include <set>
#include <string>
#include <sys/types.h>

// Which whole disks lie under a block device, read from sysfs: a partition
// lies on its disk, a device-mapper or md device on the disks of its slaves.
class CBlockTopology {
public:
    explicit CBlockTopology(std::string sysfsRoot = "/sys");

    // The device numbers of the whole disks under device; the device itself
    // when sysfs knows nothing of it.
    std::set<dev_t> underlyingDisks(dev_t device) const;
    // True when the two devices share a disk: writing to one may overwrite
    // the other.
    bool sharesDisk(dev_t a, dev_t b) const;

private:
    void collect(const std::string& sysPath, std::set<dev_t>& disks, int depth) const;
    std::string root;
};
