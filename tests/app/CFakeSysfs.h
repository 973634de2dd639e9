#pragma once

#include "app/CDriveList.h"

#include <string>
#include <sys/types.h>

// A small sysfs and /dev tree in a folder, laid out as the kernel and udev
// lay them out, for the drive list and the same-disk rule.
class CFakeSysfs {
public:
    explicit CFakeSysfs(std::string root);

    // A whole disk. type is the SCSI peripheral type ("5": optical).
    void addDisk(const std::string& name, dev_t device, unsigned long long sectors, bool removable,
                 const std::string& model = "", const std::string& type = "0");
    void addPartition(const std::string& disk, const std::string& name, int number, dev_t device,
                      unsigned long long sectors);
    void addLabel(const std::string& label, const std::string& name);
    // What udev's database says of a device's file system.
    void addFileSystem(dev_t device, const std::string& type, const std::string& version);
    // A loop device showing an image file.
    void addLoop(const std::string& name, dev_t device, unsigned long long sectors,
                 const std::string& backingFile);
    // Where a device is mounted.
    void addMount(dev_t device, const std::string& mountPoint, const std::string& type);

    // The drive list of this machine, whose running system lies where
    // systemRoot lies (by default nowhere on it).
    CDriveList driveList(const std::string& systemRoot = "/nonexistent") const;

    std::string sysRoot() const { return root + "/sys"; }
    std::string devRoot() const { return root + "/dev"; }
    std::string mountInfo() const { return root + "/mountinfo"; }

private:
    void write(const std::string& path, const std::string& text);
    void linkDevNumber(dev_t device, const std::string& target);
    std::string root;
};
