#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// One line of /proc/self/mountinfo.
struct tagMountEntry {
    dev_t device = 0;       // the file system's device number
    std::string mountPoint; // where it is mounted
    std::string type;       // "ext4", "fuse.sshfs", "overlay"...
    std::string source;     // "/dev/sdb1", an image path, "sshfs#host:"...
    std::string options;    // the file system's own options ("rw,upperdir=...")

    // The value of a file-system option such as "upperdir"; "" when absent.
    std::string option(const std::string& name) const;
};

// The mounts this process sees, read from a mountinfo file.
class CMountTable {
public:
    explicit CMountTable(const std::string& mountInfoPath = "/proc/self/mountinfo");

    // The mounts of the file system with this device number (bind mounts
    // show one file system more than once); empty when none.
    std::vector<tagMountEntry> mountsOf(dev_t device) const;
    const std::vector<tagMountEntry>& entries() const { return mounts; }

    // Parses one mountinfo line; false for a line that does not fit.
    static bool parseLine(const std::string& line, tagMountEntry& entry);

private:
    std::vector<tagMountEntry> mounts;
};
