#include "volume/CFAT32VolumeAccess.h"

#include "platform/CByteView.h"
#include "platform/CDevice.h"
#include "platform/CFileDevice.h"
#include "platform/CHugePageBuffer.h"
#include "volume/CVolumeOpenError.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Boot sector field offsets.
constexpr size_t kBytesPerSectorOffset = 0x0B;
constexpr size_t kSectorsPerClusterOffset = 0x0D;
constexpr size_t kReservedSectorsOffset = 0x0E;
constexpr size_t kNumberOfFatsOffset = 0x10;
constexpr size_t kSectorsPerFat16Offset = 0x16;
constexpr size_t kSectorsPerFat32Offset = 0x24;
constexpr size_t kTotalSectors16Offset = 0x13;
constexpr size_t kTotalSectors32Offset = 0x20;
constexpr size_t kRootClusterOffset = 0x2C;

// Directory entries.
constexpr uint32_t kDirEntrySize = 32;
constexpr size_t kDirAttributeOffset = 0x0B;
constexpr size_t kDirClusterHighOffset = 0x14;
constexpr size_t kDirClusterLowOffset = 0x1A;
constexpr unsigned char kDirEndMarker = 0x00;
constexpr unsigned char kDirDeleted = 0xE5;
constexpr unsigned char kAttrLongName = 0x0F;
constexpr unsigned char kAttrDirectory = 0x10;
constexpr unsigned char kAttrReservedBits = 0xC0;

// A FAT up to this size is read whole, whatever the data area holds; a
// larger one only as far as the data area has clusters, so a size field
// that claims a huge FAT cannot claim the memory.
constexpr uint64_t kWholeFatRead = uint64_t(8) << 20;

// FAT32 cluster numbers have 28 bits, so no FAT32 FAT holds more than 2^28
// entries; one sector more covers the rounding up of its last sector.
constexpr uint64_t kMaxFatEntries = uint64_t(1) << 28;

constexpr uint64_t kFatEntrySize = 4;
// The FAT is read in pieces of this many bytes (a multiple of every sector size).
constexpr uint64_t kFatPieceBytes = uint64_t(4) << 20;

// The in-use bits of up to 64 consecutive entries, the first in bit 0. An
// entry is in use when any of its four bytes is not zero, whatever the byte
// order.
uint64_t usedBitsOf(const unsigned char* entries, uint64_t count) {
    uint64_t bits = 0;
#if defined(__SSE2__)
    if (count == 64) {
        // Four entries at a time; this loop sets the pace of opening a large FAT.
        const __m128i zero = _mm_setzero_si128();
        for (unsigned k = 0; k < 16; ++k) {
            const __m128i four =
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(entries + 16 * k));
            const int zeros = _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(four, zero)));
            bits |= uint64_t(~zeros & 0xF) << (4 * k);
        }
        return bits;
    }
#endif
    for (uint64_t k = 0; k < count; ++k) {
        uint32_t value;
        std::memcpy(&value, entries + k * kFatEntrySize, sizeof value);
        bits |= uint64_t(value != 0) << k;
    }
    return bits;
}

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

    clusterSectors = CByteView::of(bootSector).u8(kSectorsPerClusterOffset);
    reservedSectorCount = CByteView::of(bootSector).le16(kReservedSectorsOffset);
    fatCount = CByteView::of(bootSector).u8(kNumberOfFatsOffset);
    fatSectors = CByteView::of(bootSector).le32(kSectorsPerFat32Offset);
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
    if ((clusterSectors & (clusterSectors - 1)) != 0)
        fail("the boot sector gives " + number(clusterSectors) +
             " sectors per cluster, which is not a power of two");
    if (reservedSectorCount == 0)
        fail("the boot sector gives 0 reserved sectors");
    if (fatCount == 0)
        fail("the boot sector gives 0 FATs");
    if (CByteView::of(bootSector).le16(kSectorsPerFat16Offset) != 0)
        fail("the boot sector is that of a FAT12 or FAT16 volume");
    if (fatSectors == 0)
        fail("the boot sector gives 0 sectors per FAT");
    // The sector size is the device's. A boot sector that was written for
    // another sector size would put every cluster in the wrong place.
    uint32_t declared = CByteView::of(bootSector).le16(kBytesPerSectorOffset);
    if (!isSectorSize(declared))
        fail("the boot sector gives " + number(declared) +
             " bytes per sector, which no FAT32 volume has");
    if (declared != sectorSize)
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

    // The FAT must have an entry for every cluster of the data area the
    // boot sector describes (its own total, or the device where it gives none).
    uint64_t totalSectors = CByteView::of(bootSector).le32(kTotalSectors32Offset);
    if (totalSectors == 0)
        totalSectors = CByteView::of(bootSector).le16(kTotalSectors16Offset);
    if (totalSectors <= dataStart)
        totalSectors = deviceSectors;
    const uint64_t dataClusters = (totalSectors - dataStart) / clusterSectors;
    if (fatBytes / 4 < dataClusters + 2)
        fail("the FAT (" + number(fatSectors) + " sectors, " + number(fatBytes / 4) +
             " entries) is too small for the " + number(dataClusters) +
             " clusters of the data area");

    // Clusters lying wholly on the device.
    uint64_t onDevice = (deviceSectors - dataStart) / clusterSectors;
    uint64_t limit = 2 + onDevice;
    uint64_t entries = fatBytes / 4;
    if (fatBytes > kWholeFatRead) {
        // Only the entries of clusters the data area can hold, in whole sectors.
        const uint64_t perSector = sectorSize / 4;
        entries = std::min(entries, (limit + perSector - 1) / perSector * perSector);
    }
    clusterCount = static_cast<uint32_t>(entries);
    clusterLimit = static_cast<uint32_t>(std::min<uint64_t>(limit, clusterCount));
}

void CFAT32VolumeAccess::loadFat() {
    std::printf("Reading FATs Data...");
    // One bit per cluster, set for a cluster in use: a FAT of 2^28 entries
    // (1 GiB) is held in 32 MiB. Clusters 0 and 1 and those past the device
    // count as in use, so the free clusters are the bits left clear.
    const size_t words = (size_t(clusterCount) + 63) / 64;
    try {
        usedBlock = std::make_unique<CHugePageBuffer>(words * sizeof(uint64_t));
        used = reinterpret_cast<uint64_t*>(usedBlock->data());
    } catch (const std::bad_alloc&) {
        std::printf("\n");
        std::fflush(stdout);
        throw CVolumeOpenError("not enough memory for the FAT (" + number(words * 8) + " bytes)");
    }
    // The FAT is read in pieces through one small buffer, which stays in the
    // processor's cache while its entries become bits.
    const uint64_t fatBytes = uint64_t(clusterCount) * kFatEntrySize;
    const uint32_t pieceBytes = uint32_t(std::min<uint64_t>(kFatPieceBytes, fatBytes));
    CHugePageBuffer piece(pieceBytes);
    const uint64_t start = uint64_t(reservedSectorCount) * sectorSize;
    for (uint64_t done = 0; done < fatBytes; done += pieceBytes) {
        const uint32_t length = uint32_t(std::min<uint64_t>(pieceBytes, fatBytes - done));
        if (!readFromDevice(*volumeHandle, start + done, length, piece.data(), 0)) {
            std::fflush(stdout);
            throw CVolumeOpenError("the FAT cannot be read");
        }
        markUsed(piece.data(), done / kFatEntrySize, length / kFatEntrySize);
    }
    used[0] |= 3;
    for (uint64_t n = clusterLimit; n < uint64_t(words) * 64;) {
        if (n % 64 == 0) {
            used[n / 64] = ~uint64_t(0);
            n += 64;
        } else {
            used[n / 64] |= uint64_t(1) << (n % 64);
            ++n;
        }
    }
    std::printf("DONE!\n");
    std::fflush(stdout);
}

void CFAT32VolumeAccess::markUsed(const unsigned char* entries, uint64_t first, uint64_t count) {
    for (uint64_t n = 0; n < count; n += 64)
        used[(first + n) / 64] =
            usedBitsOf(entries + n * kFatEntrySize, std::min<uint64_t>(64, count - n));
}

bool CFAT32VolumeAccess::isClusterUsed(uint64_t cluster) {
    if (cluster < 2 || cluster >= clusterLimit)
        return true;
    return (used[cluster / 64] >> (cluster % 64)) & 1;
}

uint64_t CFAT32VolumeAccess::countFreeClusters() {
    // Every cluster that is not a free data cluster has its bit set.
    const size_t words = (size_t(clusterCount) + 63) / 64;
    uint64_t inUse = 0;
    for (size_t w = 0; w < words; ++w)
        inUse += uint64_t(__builtin_popcountll(used[w]));
    return uint64_t(words) * 64 - inUse;
}

uint64_t CFAT32VolumeAccess::firstWithBit(uint64_t from, uint64_t to, bool wanted) const {
    // Every bit past the FAT's last entry is set: those clusters are in use.
    const uint64_t bits = (uint64_t(clusterCount) + 63) / 64 * 64;
    const uint64_t end = std::min(to, bits);
    uint64_t n = from;
    while (n < end) {
        uint64_t word = used[n / 64];
        if (!wanted)
            word = ~word;
        word &= ~uint64_t(0) << (n % 64);
        if (word) {
            const uint64_t found = n / 64 * 64 + uint64_t(__builtin_ctzll(word));
            return std::min(found, to);
        }
        n = n / 64 * 64 + 64;
    }
    if (wanted && from < to && std::max(from, bits) < to)
        return std::max(from, bits);
    return to;
}

uint64_t CFAT32VolumeAccess::firstUsedCluster(uint64_t from, uint64_t to) {
    return firstWithBit(from, to, true);
}

uint64_t CFAT32VolumeAccess::firstFreeCluster(uint64_t from, uint64_t to) {
    return firstWithBit(from, to, false);
}

uint64_t CFAT32VolumeAccess::clusterToSector(uint64_t cluster) {
    return uint64_t(fatCount) * fatSectors + clusterSectors * (cluster - 2);
}

uint64_t CFAT32VolumeAccess::sectorToByteOffset(uint64_t sector) {
    return (reservedSectorCount + sector) * sectorSize;
}

bool CFAT32VolumeAccess::readSectors(uint64_t first, uint64_t last, void* buffer) {
    const uint32_t length = uint32_t((last - first + 1) * sectorSize);
    return readFromDevice(*volumeHandle, sectorToByteOffset(first), length, buffer, first);
}

bool CFAT32VolumeAccess::readClusters(uint64_t first, uint64_t last, void* buffer) {
    const uint64_t sector = clusterToSector(first);
    const uint32_t length = uint32_t((last - first + 1) * clusterSize);
    return readFromDevice(*volumeHandle, sectorToByteOffset(sector), length, buffer, sector);
}

uint32_t CFAT32VolumeAccess::rootCluster() const {
    return CByteView::of(bootSector).le32(kRootClusterOffset);
}

namespace {

// What one sector of directory entries says: whether every entry looks
// like one, and the first clusters the entries point at.
struct tagDirectorySector {
    bool plausible = true;
    std::vector<uint32_t> clusters;   // first clusters of files and folders
    std::vector<uint32_t> subfolders; // first clusters of folders (not . or ..)
    bool startsWithDot = false;       // the first entry is "." (a folder's own)
};

tagDirectorySector readDirectorySector(const unsigned char* bytes, uint32_t size) {
    tagDirectorySector dir;
    const CByteView sector(bytes, size);
    for (uint32_t at = 0; at + kDirEntrySize <= size; at += kDirEntrySize) {
        const CByteView e = sector.sub(at, kDirEntrySize);
        const unsigned char first = e.u8(0);
        if (first == kDirEndMarker)
            break;
        if (first == kDirDeleted)
            continue;
        const unsigned char attribute = e.u8(kDirAttributeOffset);
        if ((attribute & kAttrReservedBits) != 0) {
            dir.plausible = false;
            break;
        }
        if (attribute == kAttrLongName)
            continue;
        // Short names hold no control characters (0x05 stands for 0xE5).
        for (int i = 0; i < 11; ++i)
            if (e.u8(i) < 0x20 && !(i == 0 && e.u8(i) == 0x05))
                dir.plausible = false;
        if (!dir.plausible)
            break;
        const uint32_t cluster =
            (uint32_t(e.le16(kDirClusterHighOffset)) << 16) | e.le16(kDirClusterLowOffset);
        const bool dot = first == '.';
        if (at == 0 && dot && (attribute & kAttrDirectory))
            dir.startsWithDot = true;
        if (!dot && cluster != 0) {
            dir.clusters.push_back(cluster);
            if (attribute & kAttrDirectory)
                dir.subfolders.push_back(cluster);
        }
    }
    return dir;
}

} // namespace

std::string CFAT32VolumeAccess::rootDirectoryWarning() {
    const std::string consequence =
        ": the boot sector's geometry (" + number(clusterSectors) + " sectors per cluster, " +
        number(fatSectors) +
        " sectors per FAT) may be wrong, and the sweep may read the wrong "
        "sectors";
    const uint32_t root = rootCluster();
    if (root == 0)
        return ""; // no root directory named: nothing to compare with
    if (root < 2 || root >= clusterLimit)
        return "the root directory's first cluster (" + number(root) + ") lies outside the volume" +
               consequence;
    std::vector<unsigned char> sector(sectorSize);
    const uint64_t rootSector = clusterToSector(root);
    if (!readSectors(rootSector, rootSector, sector.data()))
        return "the root directory's first cluster (" + number(root) + ") cannot be read";
    const tagDirectorySector dir = readDirectorySector(sector.data(), sectorSize);
    if (!dir.plausible)
        return "the root directory's first cluster (" + number(root) +
               ") does not look like a directory" + consequence;
    for (uint32_t cluster : dir.clusters)
        if (cluster < 2 || cluster >= clusterLimit)
            return "the root directory names cluster " + number(cluster) + ", outside the volume" +
                   consequence;
    // A folder's first cluster begins with its "." entry: where the clusters
    // are placed wrong, it does not.
    if (!dir.subfolders.empty()) {
        const uint64_t folderSector = clusterToSector(dir.subfolders.front());
        if (readSectors(folderSector, folderSector, sector.data()) &&
            !readDirectorySector(sector.data(), sectorSize).startsWithDot)
            return "the first cluster of a folder in the root directory (cluster " +
                   number(dir.subfolders.front()) + ") does not hold that folder" + consequence;
    }
    return "";
}

std::string CFAT32VolumeAccess::volumeWarning() {
    if (!rootChecked) {
        rootWarning = rootDirectoryWarning();
        rootChecked = true;
    }
    return rootWarning;
}
