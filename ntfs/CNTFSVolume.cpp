#include "ntfs/CNTFSVolume.h"

#include "ntfs/CAttrBase.h"
#include "ntfs/CAttr_VolInfo.h"
#include "ntfs/CFileRecord.h"
#include "ntfs/tagNtfsLayout.h"
#include "platform/CDevice.h"
#include "platform/CFileDevice.h"

#include <cstdio>
#include <cstring>

using Boot = tagNtfsBoot;

namespace {

bool isPowerOfTwo(uint64_t v) {
    return v != 0 && (v & (v - 1)) == 0;
}

// The size rule of the two signed boot sector bytes: above 0 counts
// clusters, 0 or below is a power of two in bytes. 0 when the result would
// not fit in 32 bits.
uint32_t sizeFromSignedByte(int8_t value, uint32_t clusterSize) {
    if (value > 0) {
        uint64_t bytes = uint64_t(value) * clusterSize;
        return bytes <= 0xFFFFFFFFu ? static_cast<uint32_t>(bytes) : 0;
    }
    int shift = -int(value);
    if (shift > 31)
        return 0;
    return uint32_t(1) << shift;
}

} // namespace

CNTFSVolume::CNTFSVolume(std::shared_ptr<CDevice> source) {
    if (OpenDevice(std::move(source)))
        OpenVolume();
}

CNTFSVolume::CNTFSVolume(const std::string& path) {
    std::shared_ptr<CDevice> source;
    try {
        source = CFileDevice::open(path);
    } catch (const CDeviceOpenError& e) {
        failure = e.what();
        return;
    }
    if (OpenDevice(std::move(source)))
        OpenVolume();
}

CNTFSVolume::~CNTFSVolume() {
    Close();
}

void CNTFSVolume::Close() {
    mftData = nullptr;
    mftRecord.reset();
    device.reset();
}

bool CNTFSVolume::OpenDevice(std::shared_ptr<CDevice> source) {
    if (!source) {
        failure = "no device to read";
        return false;
    }
    uint8_t bytes[Boot::kSize];
    const CByteView boot(bytes, sizeof bytes);
    uint32_t got = 0;
    int error = 0;
    if (!source->readAt(0, bytes, Boot::kSize, got, error) || got != Boot::kSize) {
        failure = error ? "the boot sector cannot be read: " + std::string(std::strerror(error))
                        : "the boot sector cannot be read: the source is shorter than 512 bytes";
        return false;
    }
    if (!boot.equals(Boot::kOemIdOffset, "NTFS    ", Boot::kOemIdLength)) {
        failure = "not an NTFS volume (the boot sector does not name NTFS)";
        return false;
    }
    if (!AcceptGeometry(boot))
        return false;
    device = std::move(source);
    return true;
}

bool CNTFSVolume::AcceptGeometry(const CByteView& boot) {
    const uint16_t sectorBytes = boot.le16(Boot::kBytesPerSectorOffset);
    const uint8_t clusterByte = boot.u8(Boot::kSectorsPerClusterOffset);
    // Sectors per cluster is one byte; values above 0x80 are the negative
    // exponent form that large-cluster volumes use (0xF4: 2^12 sectors).
    uint32_t sectors = 0;
    if (clusterByte <= Boot::kLargestPlainSectorsPerCluster)
        sectors = clusterByte;
    else if (256u - clusterByte <= Boot::kLargestSectorsPerClusterShift)
        sectors = uint32_t(1) << (256 - clusterByte);
    char line[200];
    if (sectorBytes < 256 || sectorBytes > 4096 || !isPowerOfTwo(sectorBytes) ||
        !isPowerOfTwo(sectors) || uint64_t(sectorBytes) * sectors > kMaxClusterSize) {
        std::snprintf(line, sizeof line,
                      "the NTFS boot sector has an unusable geometry (%u bytes per sector, "
                      "sectors-per-cluster byte 0x%02X)",
                      unsigned(sectorBytes), unsigned(clusterByte));
        failure = line;
        return false;
    }
    const uint32_t cluster = sectorBytes * sectors;
    const uint8_t recordByte = boot.u8(Boot::kRecordSizeOffset);
    const uint32_t recordBytes = sizeFromSignedByte(static_cast<int8_t>(recordByte), cluster);
    constexpr uint32_t kStride = tagNtfsRecordHeader::kFixupStride;
    if (recordBytes < kStride || recordBytes > kMaxFileRecordSize || recordBytes % kStride != 0) {
        std::snprintf(line, sizeof line,
                      "the NTFS boot sector has an unusable file record size (byte 0x%02X)",
                      unsigned(recordByte));
        failure = line;
        return false;
    }
    const uint64_t mftCluster = boot.le64(Boot::kMftClusterOffset);
    if (mftCluster > UINT64_MAX / cluster) {
        failure = "the NTFS boot sector has an unusable MFT position (past 64-bit offsets)";
        return false;
    }
    bytesPerSector = sectorBytes;
    sectorsPerCluster = sectors;
    clusterSize = cluster;
    totalSectors = boot.le64(Boot::kTotalSectorsOffset);
    fileRecordSize = recordBytes;
    // Only index readers use this; an unusable value is kept as 0.
    indexBlockSize =
        sizeFromSignedByte(static_cast<int8_t>(boot.u8(Boot::kIndexBlockSizeOffset)), cluster);
    mftOffset = mftCluster * cluster;
    return true;
}

void CNTFSVolume::OpenVolume() {
    CFileRecord volumeRecord(this);
    volumeRecord.SetAttributeMask(tagNtfsAttrMask::kVolumeRecord);
    if (!volumeRecord.ReadRecord(tagNtfsRecordNumber::kVolume)) {
        failure = "the $Volume record (MFT record 3) cannot be read";
        return;
    }
    volumeRecord.LoadAttributes();
    auto* info = dynamic_cast<CAttr_VolInfo*>(
        volumeRecord.Attributes(tagNtfsAttrType::kVolumeInformation).First());
    if (!info) {
        failure = "the $Volume record holds no $VOLUME_INFORMATION attribute";
        return;
    }
    version = static_cast<uint16_t>(info->MajorVersion() * 256 + info->MinorVersion());
    if (version < kMinimumVersion) {
        char line[80];
        std::snprintf(line, sizeof line, "NTFS version %u.%u is below 3.0",
                      unsigned(info->MajorVersion()), unsigned(info->MinorVersion()));
        failure = line;
        return;
    }
    ready = true;
    failure.clear();

    mftRecord = std::make_unique<CFileRecord>(this);
    mftRecord->SetAttributeMask(tagNtfsAttrMask::kDataRecord);
    if (!mftRecord->ReadRecord(tagNtfsRecordNumber::kMft))
        return;
    mftRecord->LoadAttributes();
    // A fragmented $MFT keeps its later pieces in other records, listed in
    // its attribute list: they are joined in VCN order.
    // A named one is taken only where there is no unnamed piece at all.
    mftData = mftRecord->UnnamedData();
    if (!mftData && !mftRecord->FirstUnnamedData())
        mftData = mftRecord->Attributes(tagNtfsAttrType::kData).First();
    if (!mftData)
        mftRecord.reset();
}
