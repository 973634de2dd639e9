#pragma once

#include "platform/win32/CIoctlChannel.h"

#include <cstdint>
#include <set>
#include <string>

// What the device layer learns from a disk or volume through its control
// requests.
struct tagWinDiskGeometry {
    uint64_t bytes = 0;          // IOCTL_DISK_GET_LENGTH_INFO
    uint32_t logicalSector = 0;  // bytes per logical sector
    uint32_t physicalSector = 0; // bytes per physical sector (0: not reported)
};

class CWinDiskQuery {
public:
    // The size and sector sizes; false with a reason. The logical sector
    // size comes from IOCTL_STORAGE_QUERY_PROPERTY (the storage access
    // alignment descriptor) and, where the driver does not answer that,
    // from IOCTL_DISK_GET_DRIVE_GEOMETRY_EX.
    static bool geometry(CIoctlChannel& channel, tagWinDiskGeometry& geometry, std::string& reason);
    // Lets a volume handle read the sectors past the end of its file
    // system (FSCTL_ALLOW_EXTENDED_DASD_IO); false where the driver does
    // not take it (a physical disk, an image file).
    static bool allowExtendedReads(CIoctlChannel& channel);
    // The physical disks a disk or volume lies on: every disk of its
    // extents (IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS), or the one disk
    // IOCTL_STORAGE_GET_DEVICE_NUMBER names. False when neither answers.
    static bool disks(CIoctlChannel& channel, std::set<uint32_t>& disks);
};
