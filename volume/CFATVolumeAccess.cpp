#include "volume/CFATVolumeAccess.h"

#include "platform/CByteView.h"
#include "platform/CDevice.h"
#include "volume/CVolumeOpenError.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

// Boot sector (BIOS parameter block) field offsets.
constexpr size_t kBytesPerSectorOffset = 0x0B;
constexpr size_t kSectorsPerClusterOffset = 0x0D;
constexpr size_t kReservedSectorsOffset = 0x0E;
constexpr size_t kNumberOfFatsOffset = 0x10;
constexpr size_t kRootEntriesOffset = 0x11;
constexpr size_t kTotalSectors16Offset = 0x13;
constexpr size_t kSectorsPerFat16Offset = 0x16;
constexpr size_t kTotalSectors32Offset = 0x20;
constexpr size_t kBootSectorBytes = 512;

constexpr uint32_t kDirectoryEntrySize = 32;
constexpr uint32_t kFirstDataCluster = 2;
// The cluster counts that decide the FAT width.
constexpr uint32_t kMinFat16Clusters = 4085;
constexpr uint32_t kMinFat32Clusters = 65525;

std::string number(uint64_t value) {
    return std::to_string(value);
}

} // namespace

CFATVolumeAccess::CFATVolumeAccess(std::shared_ptr<CDevice> device)
    : volumeHandle(std::move(device)) {
    sectorSize = volumeHandle->sectorSize();
    std::printf("Sector size is %d bytes\n", static_cast<int>(sectorSize));
    readBootSector();
    loadFat();
    std::fflush(stdout);
}

CFATVolumeAccess::~CFATVolumeAccess() = default;

void CFATVolumeAccess::fail(const std::string& why) {
    std::fflush(stdout);
    throw CVolumeOpenError(why);
}

// Every value that decides a read or an allocation is checked against the
// device before anything is read or allocated on its word.
void CFATVolumeAccess::readBootSector() {
    if (sectorSize < kBootSectorBytes || (sectorSize & (sectorSize - 1)) != 0)
        fail("unsupported sector size " + number(sectorSize));
    unsigned char boot[kBootSectorBytes];
    uint32_t got = 0;
    int error = 0;
    if (!volumeHandle->readAt(0, boot, kBootSectorBytes, got, error) || got < kBootSectorBytes)
        fail("the boot sector cannot be read");

    const uint32_t declared = CByteView::of(boot).le16(kBytesPerSectorOffset);
    clusterSectors = CByteView::of(boot).u8(kSectorsPerClusterOffset);
    reservedSectors = CByteView::of(boot).le16(kReservedSectorsOffset);
    const uint32_t fatCount = CByteView::of(boot).u8(kNumberOfFatsOffset);
    rootEntries = CByteView::of(boot).le16(kRootEntriesOffset);
    fatSectors = CByteView::of(boot).le16(kSectorsPerFat16Offset);
    uint32_t totalSectors = CByteView::of(boot).le16(kTotalSectors16Offset);
    if (totalSectors == 0)
        totalSectors = CByteView::of(boot).le32(kTotalSectors32Offset);

    // The sector size is the device's. A boot sector that was written for
    // another sector size would put every cluster in the wrong place.
    if (declared != sectorSize)
        fail("the boot sector is written for " + number(declared) +
             "-byte sectors but the device has " + number(sectorSize) + "-byte sectors");
    if (clusterSectors == 0 || (clusterSectors & (clusterSectors - 1)) != 0)
        fail("the boot sector gives " + number(clusterSectors) + " sectors per cluster");
    if (reservedSectors == 0)
        fail("the boot sector gives 0 reserved sectors");
    if (fatCount == 0)
        fail("the boot sector gives 0 FATs");
    if (rootEntries == 0 || fatSectors == 0)
        fail("the boot sector is not that of a FAT12 or FAT16 volume");
    if (totalSectors == 0)
        fail("the boot sector gives 0 sectors");

    const uint64_t rootSectors =
        (uint64_t(rootEntries) * kDirectoryEntrySize + sectorSize - 1) / sectorSize;
    const uint64_t start = reservedSectors + uint64_t(fatCount) * fatSectors + rootSectors;
    if (start + clusterSectors > totalSectors)
        fail("the FATs and the root directory end at sector " + number(start) +
             ", leaving no cluster in a volume of " + number(totalSectors) + " sectors");
    dataStart = static_cast<uint32_t>(start);
    dataClusters = (totalSectors - dataStart) / clusterSectors;
    if (dataClusters >= kMinFat32Clusters)
        fail("the boot sector gives " + number(dataClusters) +
             " clusters, too many for FAT12 or FAT16");
    entryBits = dataClusters < kMinFat16Clusters ? 12 : 16;

    const uint64_t deviceSectors = volumeHandle->byteSize() / sectorSize;
    if (uint64_t(reservedSectors) + fatSectors > deviceSectors)
        fail("the FAT ends at sector " + number(uint64_t(reservedSectors) + fatSectors) +
             ", past the end of the device (" + number(deviceSectors) + " sectors)");
    if (start + clusterSectors > deviceSectors)
        fail("the first data cluster ends at sector " + number(start + clusterSectors) +
             ", past the end of the device (" + number(deviceSectors) + " sectors)");
    // Clusters lying wholly on the device and having an entry in the FAT.
    const uint64_t onDevice = (deviceSectors - start) / clusterSectors;
    const uint64_t entries = uint64_t(fatSectors) * sectorSize * 8 / entryBits;
    const uint64_t withEntry = entries > kFirstDataCluster ? entries - kFirstDataCluster : 0;
    clusterLimit = static_cast<uint32_t>(kFirstDataCluster +
                                         std::min({onDevice, withEntry, uint64_t(dataClusters)}));
    clusterSize = clusterSectors * sectorSize;
}

void CFATVolumeAccess::loadFat() {
    std::printf("Reading FATs Data...");
    // clusterLimit entries; a FAT12 entry may reach into the next byte.
    const uint64_t needed = (uint64_t(clusterLimit) * entryBits + 7) / 8 + 1;
    const uint32_t length =
        static_cast<uint32_t>(std::min<uint64_t>(needed, uint64_t(fatSectors) * sectorSize));
    fat.assign(length, 0);
    if (!readFromDevice(*volumeHandle, uint64_t(reservedSectors) * sectorSize, length, fat.data(),
                        reservedSectors)) {
        std::printf("\n");
        fail("the FAT cannot be read");
    }
    std::printf("DONE!\n");
}

uint32_t CFATVolumeAccess::entry(uint32_t cluster) const {
    if (entryBits == 16) {
        const size_t at = size_t(cluster) * 2;
        return at + 2 <= fat.size() ? CByteView::of(fat).le16(at) : 0xFFFF;
    }
    const size_t at = size_t(cluster) + cluster / 2;
    if (at + 2 > fat.size())
        return 0xFFF;
    const uint32_t pair = CByteView::of(fat).le16(at);
    return (cluster & 1) ? pair >> 4 : pair & 0xFFF;
}

bool CFATVolumeAccess::isClusterUsed(uint64_t cluster) {
    if (cluster < kFirstDataCluster || cluster >= clusterLimit)
        return true;
    return entry(cluster) != 0;
}

uint64_t CFATVolumeAccess::clusterToSector(uint64_t cluster) {
    return dataStart + clusterSectors * (cluster - kFirstDataCluster);
}

bool CFATVolumeAccess::readSectors(uint64_t first, uint64_t last, void* buffer) {
    const uint32_t length = uint32_t((last - first + 1) * sectorSize);
    return readFromDevice(*volumeHandle, first * sectorSize, length, buffer, first);
}

bool CFATVolumeAccess::readClusters(uint64_t first, uint64_t last, void* buffer) {
    const uint64_t sector = clusterToSector(first);
    const uint32_t length = uint32_t((last - first + 1) * clusterSize);
    return readFromDevice(*volumeHandle, sector * sectorSize, length, buffer, sector);
}

bool CFATVolumeAccess::isSourceLost() {
    return volumeHandle->isLost();
}

std::string CFATVolumeAccess::volumeDetail() {
    return "FAT" + number(entryBits) + ", " + number(rootEntries) +
           " root directory entries, data from sector " + number(dataStart) + ", " +
           number(dataClusters) + " clusters";
}
