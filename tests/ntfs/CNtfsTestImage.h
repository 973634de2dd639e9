#pragma once

#include "CMemoryDevice.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct tagNtfsTestGeometry {
    uint16_t bytesPerSector = 512;
    uint8_t sectorsPerCluster = 8;
    int8_t clustersPerRecord = -10; // 1024-byte records
    int8_t clustersPerIndex = 1;
    uint64_t totalSectors = 8 * 64;
    uint64_t mftCluster = 4;
};

// Builds small NTFS volume images in memory for the tests: a boot sector,
// file records with their update sequence applied, resident and
// non-resident attributes, and raw bytes anywhere.
class CNtfsTestImage {
public:
    using tagGeometry = tagNtfsTestGeometry;

    // The attributes of one file record, in the order given.
    class CRecord {
    public:
        CRecord& resident(uint32_t type, const std::vector<uint8_t>& value,
                          const std::u16string& name = u"");
        CRecord& nonResident(uint32_t type, const std::vector<uint8_t>& runs, uint64_t lastVcn,
                             uint64_t dataSize, const std::u16string& name = u"",
                             uint64_t startVcn = 0);
        // An attribute header written as given (its length field included).
        CRecord& raw(const std::vector<uint8_t>& attribute);
        // A $STANDARD_INFORMATION value with the given file attribute flags.
        CRecord& standardInformation(uint32_t flags = 0);
        // Record bytes before the update sequence is applied.
        std::vector<uint8_t> layout(uint32_t recordSize) const;

        std::vector<uint8_t> attributes;
        uint16_t usaOffset = 0x30;
        uint16_t headerFlags = 1; // in use; 0: a deleted file's record
    };

    explicit CNtfsTestImage(tagGeometry geometry = {});

    // A volume of clusterCount 4096-byte clusters: $MFT (record 0) with its
    // data over clusters 4 to 11, $Volume (record 3) with the version, and
    // $Bitmap (record 6) with its data in cluster 20, every cluster below 24
    // marked in use. Other records are left for the test.
    static CNtfsTestImage standardVolume(uint32_t clusterCount = 64, uint8_t major = 3,
                                         uint8_t minor = 1);

    uint32_t clusterSize() const;
    uint32_t recordSize() const;
    uint64_t mftOffset() const;

    // Writes record with the update sequence applied at mftOffset + number
    // * recordSize, or at a byte offset.
    void putRecord(uint64_t number, const CRecord& record);
    void putRecordAt(uint64_t offset, const CRecord& record);
    void putBytes(uint64_t offset, const std::vector<uint8_t>& bytes);
    void setClusterUsed(uint32_t cluster, bool used = true);
    // Marks the bitmap of the standard volume: cluster n is bit n of the
    // data at bitmapOffset.
    uint64_t bitmapOffset = 20 * 4096;

    // The image as a device of size bytes (0: the volume's size).
    std::shared_ptr<CMemoryDevice> device(uint64_t size = 0) const;

    std::vector<uint8_t> bytes;
    uint64_t volumeBytes = 0;
    tagGeometry geometry;

    // The update sequence number written into every record.
    static constexpr uint16_t kUsn = 0x0A0B;
};
