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

namespace {

// Runs libblkid's superblock probe over fd with flags and hands the probe to
// read when it found exactly one file system (0; 1 is nothing, -2 more than
// one, -1 an error). The probe moves the descriptor's file position; it is
// given back.
template <typename Read> std::string probeWith(int fd, int flags, Read read) {
    if (fd < 0)
        return "";
    blkid_probe probe = blkid_new_probe();
    if (!probe)
        return "";
    const off_t position = ::lseek(fd, 0, SEEK_CUR);
    std::string value;
    if (blkid_probe_set_device(probe, fd, 0, 0) == 0) {
        blkid_probe_enable_superblocks(probe, 1);
        blkid_probe_set_superblocks_flags(probe, flags);
        if (blkid_do_safeprobe(probe) == 0)
            value = read(probe);
    }
    blkid_free_probe(probe);
    if (position >= 0)
        ::lseek(fd, position, SEEK_SET);
    return value;
}

} // namespace

std::string CFsProbe::probeDescriptor(int fd) {
    return probeWith(fd, BLKID_SUBLKS_TYPE | BLKID_SUBLKS_VERSION, [](blkid_probe probe) {
        const char* type = nullptr;
        const char* version = nullptr;
        if (blkid_probe_lookup_value(probe, "TYPE", &type, nullptr) != 0 || !type)
            return std::string();
        if (blkid_probe_lookup_value(probe, "VERSION", &version, nullptr) != 0)
            version = nullptr;
        return volumeName(type, version ? version : "");
    });
}

std::string CFsProbe::volumeSerial(int fd) {
    return probeWith(fd, BLKID_SUBLKS_UUID, [](blkid_probe probe) {
        const char* uuid = nullptr;
        if (blkid_probe_lookup_value(probe, "UUID", &uuid, nullptr) != 0 || !uuid)
            return std::string();
        return std::string(uuid);
    });
}
