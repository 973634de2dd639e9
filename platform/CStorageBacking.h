#pragma once

#include <set>
#include <string>
#include <sys/types.h>
#include <utility>

// Where data written to a file system ends up: whole disks, and files that
// loop devices store their blocks in.
struct tagStorageBacking {
    std::set<dev_t> disks;
    std::set<std::pair<dev_t, ino_t>> files; // device and inode
    // Why the backing could not be told in full; empty when it could.
    std::string unknown;

    bool determined() const { return unknown.empty(); }
    // True when the two share a disk or a file.
    bool overlaps(const tagStorageBacking& other) const;
};

// Finds the real storage behind a folder or a block device, through the
// layers Linux stacks: partitions, device-mapper (LVM, dm-crypt) and md
// RAID, loop devices and the file systems holding their files, btrfs
// volumes (whose device number names no disk), overlayfs upper folders and
// FUSE mounts whose source is a device or a file.
class CStorageBacking {
public:
    explicit CStorageBacking(std::string sysfsRoot = "/sys",
                             std::string mountInfo = "/proc/self/mountinfo");

    // What writing into the folder or file open on fd may overwrite.
    tagStorageBacking ofDescriptor(int fd) const;
    // What a block device is made of: its disks and its loop files (the
    // files themselves, not the file systems holding them).
    tagStorageBacking ofBlockDevice(dev_t device) const;

private:
    void addDescriptor(int fd, tagStorageBacking& backing, int depth) const;
    void addDevice(dev_t device, tagStorageBacking& backing, int depth) const;
    void addBtrfs(int fd, tagStorageBacking& backing, int depth) const;
    void addMountSource(const std::string& source, const std::string& what,
                        tagStorageBacking& backing, int depth) const;
    // Opens path for fstat/fstatfs/ioctl; a file this user may not read is
    // opened as a bare path.
    static int openForInspection(const std::string& path, bool directory);

    std::string sysfsRoot;
    std::string mountInfo;
};
