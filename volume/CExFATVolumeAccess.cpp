#include "volume/CExFATVolumeAccess.h"

#include "platform/CByteView.h"
#include "platform/CDevice.h"
#include "volume/CVolumeOpenError.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

// Main boot sector fields.
constexpr size_t kFileSystemNameOffset = 3;
constexpr size_t kMustBeZeroOffset = 11;
constexpr size_t kMustBeZeroLength = 53;
constexpr size_t kVolumeLengthOffset = 72;
constexpr size_t kFatOffsetOffset = 80;
constexpr size_t kFatLengthOffset = 84;
constexpr size_t kClusterHeapOffsetOffset = 88;
constexpr size_t kClusterCountOffset = 92;
constexpr size_t kRootDirectoryClusterOffset = 96;
constexpr size_t kRevisionOffset = 104;
constexpr size_t kVolumeFlagsOffset = 106;
constexpr size_t kBytesPerSectorShiftOffset = 108;
constexpr size_t kSectorsPerClusterShiftOffset = 109;
constexpr size_t kNumberOfFatsOffset = 110;
constexpr size_t kPercentInUseOffset = 112;
constexpr size_t kBootSignatureOffset = 510;
constexpr uint16_t kBootSignature = 0xAA55;
constexpr char kFileSystemName[] = "EXFAT   ";

// The boot region: the main boot sector, eight extended boot sectors, the
// OEM parameters, a reserved sector, then the sector that repeats the
// region's checksum.
constexpr uint32_t kChecksummedSectors = 11;
constexpr uint32_t kBootRegionSectors = 12;

constexpr uint32_t kMinSectorShift = 9;
constexpr uint32_t kMaxSectorShift = 12;
constexpr uint32_t kMaxClusterShift = 25; // 32 MiB clusters
constexpr uint32_t kMinFatOffset = 24;    // sectors: the boot region and its backup
constexpr uint32_t kMaxClusterCount = 0xFFFFFFF5;
constexpr uint32_t kActiveFatFlag = 0x0001;
// The sweep reads whole clusters into a buffer of 40000 sectors; larger
// clusters are seen as runs of pieces of 2^14 sectors.
constexpr uint32_t kMaxPieceShift = 14;

// FAT entries.
constexpr uint32_t kFirstDataCluster = 2;
constexpr uint32_t kEndOfChain = 0xFFFFFFFF;

// Directory entries.
constexpr size_t kDirectoryEntrySize = 32;
constexpr unsigned char kEndOfDirectory = 0x00;
constexpr unsigned char kAllocationBitmapEntry = 0x81;
constexpr size_t kBitmapFlagsOffset = 1;
constexpr unsigned char kSecondBitmapFlag = 0x01;
constexpr size_t kEntryFirstClusterOffset = 20;
constexpr size_t kEntryDataLengthOffset = 24;
// A directory holds at most 256 MiB of entries.
constexpr uint64_t kMaxDirectoryBytes = uint64_t(256) << 20;

// Bitmap pieces read at once.
constexpr uint32_t kBitmapReadPiece = 16u << 20;

std::string number(uint64_t value) {
    return std::to_string(value);
}

} // namespace

CExFATVolumeAccess::CExFATVolumeAccess(std::shared_ptr<CDevice> device)
    : volumeHandle(std::move(device)) {
    sectorSize = volumeHandle->sectorSize();
    std::printf("Sector size is %d bytes\n", static_cast<int>(sectorSize));
    readBootRegion();
    uint32_t first = 0;
    uint64_t length = 0;
    findBitmap(first, length);
    loadBitmap(first, length);
    std::fflush(stdout);
}

CExFATVolumeAccess::~CExFATVolumeAccess() = default;

void CExFATVolumeAccess::fail(const std::string& why) {
    std::fflush(stdout);
    throw CVolumeOpenError(why);
}

bool CExFATVolumeAccess::readBytes(uint64_t offset, uint32_t length, void* buffer) {
    uint32_t got = 0;
    int error = 0;
    if (!volumeHandle->readAt(offset, buffer, length, got, error))
        return false;
    return got == length;
}

void CExFATVolumeAccess::readBootRegion() {
    if (sectorSize < (1u << kMinSectorShift) || sectorSize > (1u << kMaxSectorShift))
        fail("exFAT has no " + number(sectorSize) + "-byte sectors");
    if (volumeHandle->byteSize() < uint64_t(kBootRegionSectors) * sectorSize)
        fail("the device is smaller than an exFAT boot region");
    std::vector<unsigned char> region(size_t(kBootRegionSectors) * sectorSize);
    if (!readBytes(0, static_cast<uint32_t>(region.size()), region.data()))
        fail("the boot region cannot be read");

    if (!CByteView::of(region).equals(kFileSystemNameOffset, kFileSystemName, 8))
        fail("the boot sector does not name exFAT");
    if (CByteView::of(region).le16(kBootSignatureOffset) != kBootSignature)
        fail("the boot sector has no boot signature");
    for (size_t i = 0; i < kMustBeZeroLength; ++i)
        if (CByteView::of(region).u8(kMustBeZeroOffset + i) != 0)
            fail("the boot sector has FAT parameters where exFAT has zeros");
    const uint32_t sectorShift = CByteView::of(region).u8(kBytesPerSectorShiftOffset);
    if (sectorShift < kMinSectorShift || sectorShift > kMaxSectorShift)
        fail("the boot sector gives a bytes-per-sector shift of " + number(sectorShift));
    // The sector size is the device's. A boot sector that was written for
    // another sector size would put every cluster in the wrong place.
    if ((1u << sectorShift) != sectorSize)
        fail("the boot sector is written for " + number(1u << sectorShift) +
             "-byte sectors but the device has " + number(sectorSize) + "-byte sectors");

    // The checksum of the first eleven sectors, without the volume flags and
    // the percentage in use, which change while the volume is mounted.
    uint32_t sum = 0;
    const size_t summed = size_t(kChecksummedSectors) * sectorSize;
    for (size_t i = 0; i < summed; ++i) {
        if (i == kVolumeFlagsOffset || i == kVolumeFlagsOffset + 1 || i == kPercentInUseOffset)
            continue;
        sum = ((sum & 1) ? 0x80000000u : 0u) + (sum >> 1) + region[i];
    }
    for (size_t at = summed; at < region.size(); at += 4)
        if (CByteView::of(region).le32(at) != sum)
            fail("the boot region's checksum does not match");

    const CByteView revision = CByteView::of(region).sub(kRevisionOffset, 2);
    versionText = "exFAT " + number(revision.u8(1)) + "." + (revision.u8(0) < 10 ? "0" : "") +
                  number(revision.u8(0));
    checkGeometry(region);
}

// Every value that decides a read or an allocation is checked against the
// device before anything is read or allocated on its word.
void CExFATVolumeAccess::checkGeometry(const std::vector<unsigned char>& boot) {
    const uint32_t clusterShift = CByteView::of(boot).u8(kSectorsPerClusterShiftOffset);
    const uint32_t fatCount = CByteView::of(boot).u8(kNumberOfFatsOffset);
    const uint64_t volumeLength = CByteView::of(boot).le64(kVolumeLengthOffset);
    const uint32_t firstFat = CByteView::of(boot).le32(kFatOffsetOffset);
    fatLength = CByteView::of(boot).le32(kFatLengthOffset);
    heapOffset = CByteView::of(boot).le32(kClusterHeapOffsetOffset);
    heapClusters = CByteView::of(boot).le32(kClusterCountOffset);
    rootCluster = CByteView::of(boot).le32(kRootDirectoryClusterOffset);
    const uint32_t flags = CByteView::of(boot).le16(kVolumeFlagsOffset);

    if (clusterShift + CByteView::of(boot).u8(kBytesPerSectorShiftOffset) > kMaxClusterShift)
        fail("the boot sector gives clusters of 2^" +
             number(clusterShift + CByteView::of(boot).u8(kBytesPerSectorShiftOffset)) + " bytes");
    clusterSectors = 1u << clusterShift;
    pieceShift = clusterShift > kMaxPieceShift ? clusterShift - kMaxPieceShift : 0;
    pieceSectors = clusterSectors >> pieceShift;
    clusterSize = pieceSectors * sectorSize;
    if (fatCount != 1 && fatCount != 2)
        fail("the boot sector gives " + number(fatCount) + " FATs");
    if (firstFat < kMinFatOffset)
        fail("the boot sector puts the FAT at sector " + number(firstFat) +
             ", inside the boot regions");
    if (heapClusters == 0 || heapClusters > kMaxClusterCount)
        fail("the boot sector gives " + number(heapClusters) + " clusters");
    // The FAT has an entry for each heap cluster and the two before them.
    const uint64_t fatNeeded = (uint64_t(heapClusters) + 2) * 4;
    if (uint64_t(fatLength) * sectorSize < fatNeeded)
        fail("the boot sector gives a FAT of " + number(fatLength) + " sectors, too small for " +
             number(heapClusters) + " clusters");
    if (uint64_t(firstFat) + uint64_t(fatLength) * fatCount > heapOffset)
        fail("the boot sector puts the cluster heap at sector " + number(heapOffset) +
             ", inside the FATs");
    const uint64_t heapEnd = heapOffset + (uint64_t(heapClusters) << clusterShift);
    if (heapEnd > volumeLength)
        fail("the cluster heap ends at sector " + number(heapEnd) +
             ", past the volume's length of " + number(volumeLength) + " sectors");
    if (rootCluster < kFirstDataCluster || rootCluster - kFirstDataCluster >= heapClusters)
        fail("the boot sector gives root directory cluster " + number(rootCluster));

    // The active FAT is the second only on a volume that has two.
    const uint32_t active = (fatCount == 2 && (flags & kActiveFatFlag)) ? 1 : 0;
    fatOffset = firstFat + active * fatLength;
    secondFatActive = active == 1;

    const uint64_t deviceSectors = volumeHandle->byteSize() / sectorSize;
    if (uint64_t(fatOffset) + fatLength > deviceSectors)
        fail("the FAT ends at sector " + number(uint64_t(fatOffset) + fatLength) +
             ", past the end of the device (" + number(deviceSectors) + " sectors)");
    if (uint64_t(heapOffset) + clusterSectors > deviceSectors)
        fail("the first cluster ends at sector " + number(uint64_t(heapOffset) + clusterSectors) +
             ", past the end of the device (" + number(deviceSectors) + " sectors)");
    // Clusters lying wholly on the device.
    const uint64_t onDevice = (deviceSectors - heapOffset) >> clusterShift;
    clusterLimit =
        static_cast<uint32_t>(kFirstDataCluster + std::min(onDevice, uint64_t(heapClusters)));
    if (rootCluster >= clusterLimit)
        fail("the root directory lies past the end of the device");
    pieceCount = (uint64_t(heapClusters) + kFirstDataCluster) << pieceShift;
    pieceLimit = std::min(uint64_t(clusterLimit) << pieceShift, pieceCount);
}

bool CExFATVolumeAccess::fatEntry(uint32_t cluster, uint32_t& next) {
    const uint64_t byte = uint64_t(cluster) * 4;
    const uint64_t sector = fatOffset + byte / sectorSize;
    if (sector != fatSectorNumber) {
        fatSector.resize(sectorSize);
        fatSectorNumber = UINT64_MAX;
        if (!readBytes(sector * sectorSize, sectorSize, fatSector.data()))
            return false;
        fatSectorNumber = sector;
    }
    next = CByteView::of(fatSector).le32(byte % sectorSize);
    return true;
}

uint32_t CExFATVolumeAccess::followChain(uint32_t cluster, const char* what) {
    uint32_t next = 0;
    if (!fatEntry(cluster, next))
        fail(std::string("the FAT cannot be read while following the ") + what);
    if (next == kEndOfChain)
        return 0;
    if (next < kFirstDataCluster || next - kFirstDataCluster >= heapClusters)
        fail(std::string("the ") + what + "'s cluster chain breaks at cluster " + number(cluster));
    if (next >= clusterLimit)
        fail(std::string("the ") + what + " goes on past the end of the device");
    return next;
}

void CExFATVolumeAccess::findBitmap(uint32_t& firstCluster, uint64_t& length) {
    std::vector<unsigned char> sector(sectorSize);
    uint64_t scanned = 0;
    uint64_t steps = 0;
    for (uint32_t cluster = rootCluster; cluster != 0;
         cluster = followChain(cluster, "root directory")) {
        if (++steps > heapClusters || scanned >= kMaxDirectoryBytes)
            fail("the root directory's cluster chain does not end");
        const uint64_t firstSector =
            heapOffset + uint64_t(cluster - kFirstDataCluster) * clusterSectors;
        for (uint32_t s = 0; s < clusterSectors; ++s) {
            if (!readBytes((firstSector + s) * sectorSize, sectorSize, sector.data()))
                fail("the root directory cannot be read");
            scanned += sectorSize;
            for (size_t at = 0; at + kDirectoryEntrySize <= sectorSize; at += kDirectoryEntrySize) {
                const CByteView entry = CByteView::of(sector).sub(at, kDirectoryEntrySize);
                const unsigned char type = entry.u8(0);
                if (type == kEndOfDirectory)
                    fail("the root directory has no allocation bitmap entry");
                if (type != kAllocationBitmapEntry)
                    continue;
                const bool second = entry.u8(kBitmapFlagsOffset) & kSecondBitmapFlag;
                if (second != secondFatActive)
                    continue;
                firstCluster = entry.le32(kEntryFirstClusterOffset);
                length = entry.le64(kEntryDataLengthOffset);
                return;
            }
        }
    }
    fail("the root directory has no allocation bitmap entry");
}

void CExFATVolumeAccess::loadBitmap(uint32_t firstCluster, uint64_t length) {
    if (firstCluster < kFirstDataCluster || firstCluster >= clusterLimit)
        fail("the allocation bitmap entry gives cluster " + number(firstCluster));
    // A bitmap shorter than the heap leaves the clusters past its end used.
    const uint64_t needed = (uint64_t(heapClusters) + 7) / 8;
    const uint64_t loaded = std::min(length, needed);
    const uint64_t fsClusterSize = uint64_t(clusterSectors) * sectorSize;
    const uint64_t available = uint64_t(clusterLimit - firstCluster) * fsClusterSize;
    if (loaded > available)
        fail("the allocation bitmap (" + number(loaded) +
             " bytes) runs past the end of the device");
    try {
        bitmap.assign(loaded, 0);
    } catch (const std::bad_alloc&) {
        fail("not enough memory for the allocation bitmap (" + number(loaded) + " bytes)");
    }
    bitmapCluster = firstCluster;

    // The bitmap's clusters are chained in the FAT; where its first cluster
    // has no entry there, the bitmap is one contiguous run.
    uint32_t entry = 0;
    if (!fatEntry(firstCluster, entry))
        fail("the FAT cannot be read");
    bitmapContiguous = entry == 0;
    uint64_t done = 0;
    uint32_t cluster = firstCluster;
    while (done < loaded) {
        const uint64_t sector = heapOffset + uint64_t(cluster - kFirstDataCluster) * clusterSectors;
        uint64_t piece = std::min<uint64_t>(loaded - done, fsClusterSize);
        if (bitmapContiguous)
            piece = std::min<uint64_t>(loaded - done, kBitmapReadPiece);
        if (!readBytes(sector * sectorSize + (bitmapContiguous ? done : 0),
                       static_cast<uint32_t>(piece), bitmap.data() + done))
            fail("the allocation bitmap cannot be read");
        done += piece;
        if (done >= loaded)
            break;
        if (!bitmapContiguous) {
            cluster = followChain(cluster, "allocation bitmap");
            if (cluster == 0)
                fail("the allocation bitmap's cluster chain ends after " +
                     number(done / fsClusterSize) + " clusters");
        }
    }
}

bool CExFATVolumeAccess::isClusterUsed(uint64_t piece) {
    if (piece >= pieceLimit)
        return true;
    const uint64_t cluster = piece >> pieceShift;
    if (cluster < kFirstDataCluster)
        return true;
    const uint64_t bit = cluster - kFirstDataCluster;
    if (bit / 8 >= bitmap.size())
        return true;
    return (bitmap[bit / 8] >> (bit % 8)) & 1;
}

uint64_t CExFATVolumeAccess::clusterToSector(uint64_t piece) {
    return heapOffset + pieceSectors * (piece - (uint64_t(kFirstDataCluster) << pieceShift));
}

bool CExFATVolumeAccess::readSectors(uint64_t first, uint64_t last, void* buffer) {
    const uint32_t length = uint32_t((last - first + 1) * sectorSize);
    return readFromDevice(*volumeHandle, first * sectorSize, length, buffer, first);
}

bool CExFATVolumeAccess::readClusters(uint64_t first, uint64_t last, void* buffer) {
    const uint64_t sector = clusterToSector(first);
    const uint32_t length = uint32_t((last - first + 1) * clusterSize);
    return readFromDevice(*volumeHandle, sector * sectorSize, length, buffer, sector);
}

bool CExFATVolumeAccess::isSourceLost() {
    return volumeHandle->isLost();
}

std::string CExFATVolumeAccess::volumeDetail() {
    return versionText + ", cluster heap at sector " + number(heapOffset) + ", " +
           number(heapClusters) + " clusters, allocation bitmap at cluster " +
           number(bitmapCluster) + (bitmapContiguous ? " (contiguous)" : " (chained)");
}
