#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

// One disk, partition or image-backed loop device the user may scan.
struct tagDriveEntry {
    std::string name;       // kernel name: "sdb1"
    std::string devicePath; // "/dev/sdb1"
    uint64_t sizeBytes = 0;
    std::string label; // file-system label, if udev knows one
    std::string model; // the disk's model, if sysfs has one
    // The file system as the program names it ("FAT16", "exfat", "ext4",
    // "NTFS", ...), if udev has probed one, else as the mount table has it.
    std::string fileSystem;
    std::vector<std::string> mountPoints;
    std::string backingFile; // a loop device's image file
    bool removable = false;
    bool partition = false;
    bool systemDisk = false; // on the disk that holds the running system
    dev_t deviceNumber = 0;
};

// The words of an entry's text, in the user's language.
struct tagDriveWords {
    std::string removable = "(可移动)";
    std::string systemDisk = "(系统盘)";
    std::string mountedAt = "挂载于";
    std::string imageFile = "映像";
};

// The disks and partitions of the machine, read from sysfs: fixed and
// removable ones, whole disks followed by their partitions, and loop
// devices that show an image file. Optical drives, RAM disks, zram, loop
// devices without a file and empty slots (size 0) are left out. Labels come
// from the /dev/disk/by-label links that udev keeps, file systems from
// udev's database (run/udev/data beside the sysfs root), mount points from
// the mount table. The disk that holds the running system (where systemRoot
// lies) is marked.
class CDriveList {
public:
    explicit CDriveList(std::string sysfsRoot = "/sys", std::string devRoot = "/dev",
                        std::string mountInfo = "/proc/self/mountinfo",
                        std::string systemRoot = "/");

    std::vector<tagDriveEntry> list() const;
    const std::string& sysfsRoot() const { return sysRoot; }
    // What changes when a disk comes or goes: the names and sizes in sysfs.
    std::string fingerprint() const;

    // "/dev/sdb1  7.9 GB  exfat  "PHOTOS"  挂载于 /media/card  (可移动)": what
    // the drive list shows.
    static std::string displayText(const tagDriveEntry& entry,
                                   const tagDriveWords& words = tagDriveWords());
    static std::string sizeText(uint64_t bytes);

private:
    bool skipped(const std::string& diskName, const std::string& diskDir) const;
    std::string labelOf(const std::string& name) const;
    std::string fileSystemOf(dev_t device) const;
    void describe(tagDriveEntry& entry) const;

    std::string sysRoot;
    std::string devDir;
    std::string mountInfo;
    std::string systemRoot;
};
