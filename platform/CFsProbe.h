#pragma once

#include <string>

// Names the file system on a block device or disk image with libblkid, the
// way the program chooses a volume access by it: "NTFS" for NTFS, "FAT12",
// "FAT16" or "FAT32" for a FAT volume, the probe's own name for anything
// else it recognises ("exfat", "ext2", "ext3", "ext4", ...), and "" when it
// recognises nothing, cannot decide or cannot read the source.
class CFsProbe {
public:
    static std::string probePath(const std::string& path);
    // Probes an open descriptor without taking it over; its file position is
    // left as it was.
    static std::string probeDescriptor(int fd);
    // The file system's own identifier (its UUID or volume serial, as
    // libblkid reads it: "1A2B-3C4D" for FAT, 16 hex digits for NTFS, the
    // UUID for ext), or "" when it has none. The file position is kept.
    static std::string volumeSerial(int fd);
    // The name for a probe result: blkid's TYPE and, for vfat, its VERSION.
    static std::string volumeName(const std::string& type, const std::string& version);
};
