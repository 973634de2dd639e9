#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

// One disk or partition the user may scan.
struct tagDriveEntry {
    std::string name;       // kernel name: "sdb1"
    std::string devicePath; // "/dev/sdb1"
    uint64_t sizeBytes = 0;
    std::string label; // file-system label, if udev knows one
    std::string model; // the disk's model, if sysfs has one
    // The file system as the program names it ("FAT16", "exfat", "ext4",
    // "NTFS", ...), if udev has probed one.
    std::string fileSystem;
    bool removable = false;
    bool partition = false;
    dev_t deviceNumber = 0;
};

// The disks and partitions of the machine, read from sysfs: fixed and
// removable ones, whole disks followed by their partitions. Optical drives,
// RAM disks, zram, loop devices and empty slots (size 0) are left out.
// Labels come from the /dev/disk/by-label links that udev keeps, file
// systems from udev's database (run/udev/data beside the sysfs root).
class CDriveList {
public:
    explicit CDriveList(std::string sysfsRoot = "/sys", std::string devRoot = "/dev");

    std::vector<tagDriveEntry> list() const;
    const std::string& sysfsRoot() const { return sysRoot; }

    // "sdb1  7.5 GB  exfat  PHOTOS  (可移动)": what the drive list shows.
    static std::string displayText(const tagDriveEntry& entry);
    static std::string sizeText(uint64_t bytes);

private:
    bool skipped(const std::string& diskName, const std::string& diskDir) const;
    std::string labelOf(const std::string& name) const;
    std::string fileSystemOf(dev_t device) const;

    std::string sysRoot;
    std::string devDir;
};
