#include "volume/CFAT32VolumeAccess.h"

#include "platform/CByteOrder.h"
#include "platform/CDevice.h"
#include "platform/CHugePageBuffer.h"
#include "volume/CVolumeOpenError.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

// Boot sector field offsets.
constexpr size_t kBytesPerSectorOffset = 0x0B;
constexpr size_t kSectorsPerClusterOffset = 0x0D;
constexpr size_t kReservedSectorsOffset = 0x0E;
constexpr size_t kNumberOfFatsOffset = 0x10;
constexpr size_t kSectorsPerFat16Offset = 0x16;
constexpr size_t kSectorsPerFat32Offset = 0x24;

// FAT32 cluster numbers have 28 bits, so no FAT32 FAT holds more than 2^28
// entries; one sector more covers the rounding up of its last sector.
constexpr uint64_t kMaxFatEntries = uint64_t(1) << 28;

bool isSectorSize(uint32_t size) {
    return size >= 512 && size <= 65536 && (size & (size - 1)) == 0;
}

std::string number(uint64_t value) {
    return std::to_string(value);
}

} // namespace

CFAT32VolumeAccess::CFAT32VolumeAccess(const std::string& path, uint32_t imageSectorSize)
    : CFAT32VolumeAccess(openVolumeDevice(path, imageSectorSize)) {}

CFAT32VolumeAccess::CFAT32VolumeAccess(std::shared_ptr<CDevice> device)
    : volumeHandle(std::move(device)) {
    sectorSize = volumeHandle->sectorSize();
    std::printf("Sector size is %d bytes\n", static_cast<int>(sectorSize));
    if (!isSectorSize(sectorSize)) {
        std::fflush(stdout);
        throw CVolumeOpenError("unsupported sector size " + number(sectorSize));
    }
    readBootSector();
    checkGeometry();
    loadFat();
    clusterSize = clusterSectors * sectorSize;
}

CFAT32VolumeAccess::~CFAT32VolumeAccess() = default;

void CFAT32VolumeAccess::readBootSector() {
    std::printf("Boot sector size = %d Bytes\n", static_cast<int>(kBootSectorSize));
    std::vector<unsigned char> scratch(sectorSize);
    uint32_t got = 0;
    int error = 0;
    if (!volumeHandle->readAt(0, scratch.data(), sectorSize, got, error)) {
        std::printf("Error reading from the file 0x%X\n", static_cast<unsigned>(error));
        std::fflush(stdout);
        throw CVolumeOpenError(std::string("the boot sector cannot be read: ") +
                               std::strerror(error));
    }
    if (got < sectorSize) {
        std::fflush(stdout);
        throw CVolumeOpenError("the device is smaller than one sector");
    }
    std::memcpy(bootSector.data(), scratch.data(), kBootSectorSize);

    clusterSectors = bootSector[kSectorsPerClusterOffset];
    reservedSectorCount = CByteOrder::readLE16(&bootSector[kReservedSectorsOffset]);
    fatCount = bootSector[kNumberOfFatsOffset];
    fatSectors = CByteOrder::readLE32(&bootSector[kSectorsPerFat32Offset]);
}

// Every value that decides a read or an allocation is checked against the
// device before anything is read or allocated on its word.
void CFAT32VolumeAccess::checkGeometry() {
    auto fail = [](const std::string& why) {
        std::fflush(stdout);
        throw CVolumeOpenError(why);
    };
    if (clusterSectors == 0)
        fail("the boot sector gives 0 sectors per cluster");
    if (reservedSectorCount == 0)
        fail("the boot sector gives 0 reserved sectors");
    if (fatCount == 0)
        fail("the boot sector gives 0 FATs");
    if (CByteOrder::readLE16(&bootSector[kSectorsPerFat16Offset]) != 0)
        fail("the boot sector is that of a FAT12 or FAT16 volume");
    if (fatSectors == 0)
        fail("the boot sector gives 0 sectors per FAT");
    // The sector size is the device's. A boot sector that was written for
    // another sector size would put every cluster in the wrong place.
    uint32_t declared = CByteOrder::readLE16(&bootSector[kBytesPerSectorOffset]);
    if (isSectorSize(declared) && declared != sectorSize)
        fail("the boot sector is written for " + number(declared) +
             "-byte sectors but the device has " + number(sectorSize) + "-byte sectors");

    uint64_t fatBytes = uint64_t(fatSectors) * sectorSize;
    if (fatBytes / 4 > kMaxFatEntries + sectorSize / 4)
        fail("the boot sector gives " + number(fatSectors) +
             " sectors per FAT, more than a FAT32 FAT can have");

    uint64_t deviceSectors = volumeHandle->byteSize() / sectorSize;
    uint64_t fatArea = uint64_t(fatCount) * fatSectors;
    uint64_t dataStart = reservedSectorCount + fatArea;
    if (dataStart + clusterSectors > deviceSectors)
        fail("the FATs and the first data cluster end at sector " +
             number(dataStart + clusterSectors) + ", past the end of the device (" +
             number(deviceSectors) + " sectors)");

    clusterCount = static_cast<uint32_t>(fatBytes / 4);
    // Clusters lying wholly on the device, and whose sectors have 32-bit
    // numbers in this access's numbering.
    uint64_t onDevice = (deviceSectors - dataStart) / clusterSectors;
    uint64_t numbered = ((uint64_t(1) << 32) - fatArea) / clusterSectors;
    uint64_t limit = 2 + std::min(onDevice, numbered);
    clusterLimit = static_cast<uint32_t>(std::min<uint64_t>(limit, clusterCount));
}

void CFAT32VolumeAccess::loadFat() {
    std::printf("Reading FATs Data...");
    try {
        fatBlock = std::make_unique<CHugePageBuffer>(size_t(clusterCount) * 4);
        fat = reinterpret_cast<uint32_t*>(fatBlock->data());
    } catch (const std::bad_alloc&) {
        std::printf("\n");
        std::fflush(stdout);
        throw CVolumeOpenError("not enough memory for the FAT (" +
                               number(uint64_t(clusterCount) * 4) + " bytes)");
    }
    uint64_t offset = uint64_t(reservedSectorCount) * sectorSize;
    if (!readFromDevice(*volumeHandle, offset, clusterCount * 4, fat, 0)) {
        std::fflush(stdout);
        throw CVolumeOpenError("the FAT cannot be read");
    }
    CByteOrder::littleEndianToHost32(fat, clusterCount);
    std::printf("DONE!\n");
    std::fflush(stdout);
}

bool CFAT32VolumeAccess::isClusterUsed(uint32_t cluster) {
    if (cluster < 2 || cluster >= clusterLimit)
        return true;
    return fat[cluster] != 0;
}

uint32_t CFAT32VolumeAccess::clusterToSector(uint32_t cluster) {
    return fatCount * fatSectors + clusterSectors * (cluster - 2);
}

bool CFAT32VolumeAccess::readSectors(uint32_t first, uint32_t last, void* buffer) {
    uint32_t length = (last - first + 1) * sectorSize;
    uint64_t offset = (uint64_t(reservedSectorCount) + first) * sectorSize;
    return readFromDevice(*volumeHandle, offset, length, buffer, first);
}

bool CFAT32VolumeAccess::readClusters(uint32_t first, uint32_t last, void* buffer) {
    uint32_t sector = clusterToSector(first);
    uint32_t length = (last - first + 1) * clusterSize;
    uint64_t offset = (uint64_t(reservedSectorCount) + sector) * sectorSize;
    return readFromDevice(*volumeHandle, offset, length, buffer, sector);
}
