#pragma once

#include <cstddef>
#include <cstdint>

// The on-disk layout of NTFS as this reader uses it: offsets of fields in
// the structures it reads, type codes, record numbers and flag bits. Every
// offset is from the start of the structure named; all fields are
// little-endian.

// The boot sector (the first 512 bytes of the volume).
struct tagNtfsBoot {
    static constexpr uint32_t kSize = 512;
    static constexpr size_t kOemIdOffset = 0x03; // "NTFS    "
    static constexpr size_t kOemIdLength = 8;
    static constexpr size_t kBytesPerSectorOffset = 0x0B;    // 16 bits
    static constexpr size_t kSectorsPerClusterOffset = 0x0D; // 8 bits, see below
    static constexpr size_t kTotalSectorsOffset = 0x28;      // 64 bits
    static constexpr size_t kMftClusterOffset = 0x30;        // 64 bits
    static constexpr size_t kRecordSizeOffset = 0x40;        // signed 8 bits, see below
    static constexpr size_t kIndexBlockSizeOffset = 0x44;    // signed 8 bits, see below
    // Sectors per cluster above this value are the negative-exponent form
    // (256 - value is the power of two) that large-cluster volumes use.
    static constexpr uint8_t kLargestPlainSectorsPerCluster = 0x80;
    static constexpr uint32_t kLargestSectorsPerClusterShift = 12;
    // The record and index block sizes: above 0 a number of clusters, 0 or
    // below the negated power of two in bytes (0xF6: 2^10 bytes).
};

// A file record's header.
struct tagNtfsRecordHeader {
    static constexpr size_t kMagicOffset = 0x00; // "FILE"
    static constexpr size_t kMagicLength = 4;
    static constexpr size_t kUpdateSequenceOffsetOffset = 0x04; // 16 bits
    static constexpr size_t kFirstAttributeOffsetOffset = 0x14; // 16 bits
    static constexpr size_t kFlagsOffset = 0x16;                // 16 bits
    // Set while the record holds a file; clear once the file was deleted.
    static constexpr uint16_t kInUse = 0x0001;
    // The update sequence protects the last two bytes of every stride.
    static constexpr uint32_t kFixupStride = 512;
    // Ends the attributes of a record, in place of a type.
    static constexpr uint32_t kEndMarker = 0xFFFFFFFF;
};

// The header of an attribute in a file record: the common part, then the
// resident or the non-resident form.
struct tagNtfsAttrHeader {
    static constexpr size_t kTypeOffset = 0x00;        // 32 bits
    static constexpr size_t kLengthOffset = 0x04;      // 32 bits, to the next attribute
    static constexpr size_t kNonResidentOffset = 0x08; // 8 bits, 0: resident
    static constexpr size_t kNameLengthOffset = 0x09;  // 8 bits, in UTF-16 units
    static constexpr uint32_t kCommonSize = 0x10;

    // Resident form.
    static constexpr size_t kValueLengthOffset = 0x10; // 32 bits
    static constexpr size_t kValueOffsetOffset = 0x14; // 16 bits
    static constexpr uint32_t kResidentSize = 0x18;

    // Non-resident form.
    static constexpr size_t kStartingVcnOffset = 0x10;   // 64 bits
    static constexpr size_t kLastVcnOffset = 0x18;       // 64 bits
    static constexpr size_t kRunsOffsetOffset = 0x20;    // 16 bits
    static constexpr size_t kAllocatedSizeOffset = 0x28; // 64 bits
    static constexpr size_t kDataSizeOffset = 0x30;      // 64 bits
    static constexpr uint32_t kNonResidentSize = 0x40;
};

// One mapping pair of a non-resident attribute's runs: a header byte whose
// low nibble is the byte count of the run length and whose high nibble is
// the byte count of the (signed) cluster delta; a 0 header ends the runs.
struct tagNtfsRun {
    static constexpr uint8_t kLengthBytesMask = 0x0F;
    static constexpr unsigned kDeltaBytesShift = 4;
    static constexpr unsigned kMaxFieldBytes = 8;
    static constexpr uint8_t kEnd = 0x00;
};

// Attribute type codes. A record's attributes are kept in sixteen lists,
// list i holding types (i + 1) * 16 .. + 15; an attribute mask selects lists
// by bit i.
struct tagNtfsAttrType {
    static constexpr uint32_t kStandardInformation = 0x10;
    static constexpr uint32_t kAttributeList = 0x20;
    static constexpr uint32_t kFileName = 0x30;
    static constexpr uint32_t kVolumeName = 0x60;
    static constexpr uint32_t kVolumeInformation = 0x70;
    static constexpr uint32_t kData = 0x80;
    static constexpr uint32_t kIndexRoot = 0x90;
    static constexpr uint32_t kIndexAllocation = 0xA0;
    static constexpr uint32_t kBitmap = 0xB0;

    static constexpr uint32_t kTypesPerList = 16;
    static constexpr uint32_t kLists = 16;
    // The list of a type (may be kLists or more for types outside them).
    static constexpr uint32_t listOf(uint32_t type) { return type / kTypesPerList - 1; }
    // The mask bit of a type.
    static constexpr uint32_t maskBit(uint32_t type) { return uint32_t(1) << (listOf(type) % 32); }
};

// Attribute masks the reader loads records with.
struct tagNtfsAttrMask {
    // $Volume: the version and the name (and an attribute list, if any).
    static constexpr uint32_t kVolumeRecord =
        tagNtfsAttrType::maskBit(tagNtfsAttrType::kStandardInformation) |
        tagNtfsAttrType::maskBit(tagNtfsAttrType::kAttributeList) |
        tagNtfsAttrType::maskBit(tagNtfsAttrType::kVolumeName) |
        tagNtfsAttrType::maskBit(tagNtfsAttrType::kVolumeInformation);
    // A file read for its data ($MFT, $Bitmap).
    static constexpr uint32_t kDataRecord =
        tagNtfsAttrType::maskBit(tagNtfsAttrType::kStandardInformation) |
        tagNtfsAttrType::maskBit(tagNtfsAttrType::kAttributeList) |
        tagNtfsAttrType::maskBit(tagNtfsAttrType::kData);
    static constexpr uint32_t kAll = ~uint32_t(0);
};
static_assert(tagNtfsAttrMask::kVolumeRecord == 0x63 && tagNtfsAttrMask::kDataRecord == 0x83);

// The system files' record numbers in the MFT.
struct tagNtfsRecordNumber {
    static constexpr uint64_t kMft = 0;
    static constexpr uint64_t kVolume = 3;
    static constexpr uint64_t kBitmap = 6;
    // Records below this lie in the MFT's first clusters, read directly;
    // later ones are read through the MFT's own runs.
    static constexpr uint64_t kFirstThroughMftRuns = 16;
};

// $STANDARD_INFORMATION's value.
struct tagNtfsStdInfo {
    static constexpr size_t kFlagsOffset = 0x20; // 32 bits
    static constexpr uint32_t kCompressed = 0x800;
    static constexpr uint32_t kEncrypted = 0x4000;
};

// $VOLUME_INFORMATION's value.
struct tagNtfsVolInfo {
    static constexpr size_t kMajorVersionOffset = 0x08;
    static constexpr size_t kMinorVersionOffset = 0x09;
    static constexpr uint32_t kSize = 0x0A;
};

// $FILE_NAME's value (also the key of a file-name index entry).
struct tagNtfsFileName {
    static constexpr size_t kNameLengthOffset = 0x40; // 8 bits, UTF-16 units
    static constexpr size_t kNameOffset = 0x42;
};

// An entry of $ATTRIBUTE_LIST.
struct tagNtfsAttrListEntry {
    static constexpr uint32_t kSize = 32;             // the part read; entries may be longer
    static constexpr size_t kTypeOffset = 0x00;       // 32 bits
    static constexpr size_t kLengthOffset = 0x04;     // 16 bits
    static constexpr size_t kRecordLowOffset = 0x10;  // 32 bits of the 48-bit record number
    static constexpr size_t kRecordHighOffset = 0x14; // 16 bits
};

// $INDEX_ROOT's value: the root header, then a node header, then entries.
struct tagNtfsIndexRoot {
    static constexpr size_t kIndexedTypeOffset = 0x00; // 32 bits: $FILE_NAME
    static constexpr size_t kNodeHeaderOffset = 0x10;
    // In the node header, from its start: where the first entry lies (from
    // the node header) and the bytes the entries take.
    static constexpr size_t kEntriesOffsetInNode = 0x00; // 32 bits
    static constexpr size_t kIndexLengthInNode = 0x04;   // 32 bits
    static constexpr uint32_t kHeaderSize = 0x20;
};

// An index entry.
struct tagNtfsIndexEntry {
    static constexpr size_t kLengthOffset = 0x08;    // 16 bits
    static constexpr size_t kKeyLengthOffset = 0x0A; // 16 bits
    static constexpr size_t kFlagsOffset = 0x0C;     // 16 bits
    static constexpr size_t kKeyOffset = 0x10;
    static constexpr uint32_t kHeaderSize = 0x10;
    static constexpr uint16_t kLastEntry = 0x02;
};
