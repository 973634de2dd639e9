#pragma once

#include <cstddef>
#include <string>

// Names the file system from the first bytes of a volume, where libblkid is
// not there to ask (Windows), with the names CFsProbe gives: "NTFS",
// "exfat", "FAT12", "FAT16", "FAT32", "ext2", "ext3", "ext4", or "" for
// anything else. FAT follows libblkid's rule: a BPB whose 16-bit FAT size
// is zero is FAT32, otherwise the cluster count tells FAT12 from FAT16.
class CBootSectorProbe {
public:
    // Bytes to hand over: the boot sector and the ext superblock behind it.
    static constexpr size_t kProbeBytes = 4096;

    static std::string name(const unsigned char* head, size_t length);
};
