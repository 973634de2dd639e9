#include "platform/win32/CWinDiskQuery.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>
#include <windows.h>
#include <winioctl.h>

namespace {

template <typename T>
bool ask(CIoctlChannel& channel, uint32_t code, const void* input, uint32_t inputSize, T& answer) {
    uint32_t returned = 0, error = 0;
    return channel.control(code, input, inputSize, &answer, sizeof answer, returned, error) &&
           returned >= sizeof answer;
}

bool validSectorSize(uint32_t size) {
    return size >= 512 && size <= 65536 && (size & (size - 1)) == 0;
}

} // namespace

bool CWinDiskQuery::geometry(CIoctlChannel& channel, tagWinDiskGeometry& geometry,
                             std::string& reason) {
    GET_LENGTH_INFORMATION length{};
    uint32_t returned = 0, error = 0;
    if (!channel.control(IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length, sizeof length, returned,
                         error) ||
        returned < sizeof length) {
        reason = "the device does not tell its size (IOCTL_DISK_GET_LENGTH_INFO, error " +
                 std::to_string(error) + ")";
        return false;
    }
    if (length.Length.QuadPart <= 0) {
        reason = "the device reports no size (no medium?)";
        return false;
    }
    geometry.bytes = uint64_t(length.Length.QuadPart);

    STORAGE_PROPERTY_QUERY query{};
    query.PropertyId = StorageAccessAlignmentProperty;
    query.QueryType = PropertyStandardQuery;
    STORAGE_ACCESS_ALIGNMENT_DESCRIPTOR alignment{};
    if (ask(channel, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, alignment) &&
        validSectorSize(alignment.BytesPerLogicalSector)) {
        geometry.logicalSector = alignment.BytesPerLogicalSector;
        geometry.physicalSector = alignment.BytesPerPhysicalSector;
        return true;
    }
    // The answer is followed by partition and detection information the
    // program does not need; only the leading geometry is read.
    DISK_GEOMETRY_EX drive{};
    if (!channel.control(IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, nullptr, 0, &drive, sizeof drive,
                         returned, error) ||
        returned < sizeof(DISK_GEOMETRY)) {
        reason = "the device does not tell its sector size (error " + std::to_string(error) + ")";
        return false;
    }
    if (!validSectorSize(drive.Geometry.BytesPerSector)) {
        reason = "unsupported sector size " + std::to_string(drive.Geometry.BytesPerSector);
        return false;
    }
    geometry.logicalSector = drive.Geometry.BytesPerSector;
    geometry.physicalSector = 0;
    return true;
}

bool CWinDiskQuery::allowExtendedReads(CIoctlChannel& channel) {
    uint32_t returned = 0, error = 0;
    return channel.control(FSCTL_ALLOW_EXTENDED_DASD_IO, nullptr, 0, nullptr, 0, returned, error);
}

bool CWinDiskQuery::disks(CIoctlChannel& channel, std::set<uint32_t>& disks) {
    // Room for a volume spread over many disks.
    constexpr uint32_t kMaxExtents = 64;
    std::vector<unsigned char> answer(sizeof(VOLUME_DISK_EXTENTS) +
                                      kMaxExtents * sizeof(DISK_EXTENT));
    uint32_t returned = 0, error = 0;
    if (channel.control(IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, answer.data(),
                        uint32_t(answer.size()), returned, error) &&
        returned >= offsetof(VOLUME_DISK_EXTENTS, Extents)) {
        VOLUME_DISK_EXTENTS head{};
        std::memcpy(&head, answer.data(), offsetof(VOLUME_DISK_EXTENTS, Extents));
        const size_t fit =
            (returned - offsetof(VOLUME_DISK_EXTENTS, Extents)) / sizeof(DISK_EXTENT);
        const size_t count = std::min<size_t>(head.NumberOfDiskExtents, fit);
        for (size_t k = 0; k < count; ++k) {
            DISK_EXTENT extent{};
            std::memcpy(&extent,
                        answer.data() + offsetof(VOLUME_DISK_EXTENTS, Extents) +
                            k * sizeof(DISK_EXTENT),
                        sizeof extent);
            disks.insert(uint32_t(extent.DiskNumber));
        }
        if (count > 0)
            return true;
    }
    STORAGE_DEVICE_NUMBER number{};
    if (ask(channel, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, number) &&
        number.DeviceType == FILE_DEVICE_DISK) {
        disks.insert(uint32_t(number.DeviceNumber));
        return true;
    }
    return false;
}
