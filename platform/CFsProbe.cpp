#include "platform/CFsProbe.h"

#include <blkid/blkid.h>
#include <fcntl.h>
#include <unistd.h>

std::string CFsProbe::volumeName(const std::string& type, const std::string& version) {
    if (type == "ntfs")
        return "NTFS";
    if (type == "vfat" || type == "msdos") {
        for (const char* fat : {"FAT12", "FAT16", "FAT32"})
            if (version == fat)
                return fat;
    }
    return type;
}

std::string CFsProbe::probePath(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return "";
    std::string name = probeDescriptor(fd);
    ::close(fd);
    return name;
}

std::string CFsProbe::probeDescriptor(int fd) {
    if (fd < 0)
        return "";
    blkid_probe probe = blkid_new_probe();
    if (!probe)
        return "";
    // The probe moves the descriptor's file position; give it back.
    const off_t position = ::lseek(fd, 0, SEEK_CUR);
    std::string name;
    if (blkid_probe_set_device(probe, fd, 0, 0) == 0) {
        blkid_probe_enable_superblocks(probe, 1);
        blkid_probe_set_superblocks_flags(probe, BLKID_SUBLKS_TYPE | BLKID_SUBLKS_VERSION);
        // 0: exactly one file system found; 1 nothing, -2 more than one
        // (ambivalent), -1 an error: all of these leave the name empty.
        if (blkid_do_safeprobe(probe) == 0) {
            const char* type = nullptr;
            const char* version = nullptr;
            if (blkid_probe_lookup_value(probe, "TYPE", &type, nullptr) == 0 && type) {
                if (blkid_probe_lookup_value(probe, "VERSION", &version, nullptr) != 0)
                    version = nullptr;
                name = volumeName(type, version ? version : "");
            }
        }
    }
    blkid_free_probe(probe);
    if (position >= 0)
        ::lseek(fd, position, SEEK_SET);
    return name;
}

std::string CFsProbe::volumeSerial(int fd) {
    if (fd < 0)
        return "";
    blkid_probe probe = blkid_new_probe();
    if (!probe)
        return "";
    const off_t position = ::lseek(fd, 0, SEEK_CUR);
    std::string serial;
    if (blkid_probe_set_device(probe, fd, 0, 0) == 0) {
        blkid_probe_enable_superblocks(probe, 1);
        blkid_probe_set_superblocks_flags(probe, BLKID_SUBLKS_UUID);
        const char* uuid = nullptr;
        if (blkid_do_safeprobe(probe) == 0 &&
            blkid_probe_lookup_value(probe, "UUID", &uuid, nullptr) == 0 && uuid)
            serial = uuid;
    }
    blkid_free_probe(probe);
    if (position >= 0)
        ::lseek(fd, position, SEEK_SET);
    return serial;
}
