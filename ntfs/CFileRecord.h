#pragma once

#include "ntfs/CSList.h"

#include <cstdint>
#include <memory>

class CNTFSVolume;
class CAttrBase;

// One file record of the MFT: fetched, checked for its magic, its update
// sequence undone, and its attributes turned into objects kept in sixteen
// lists, one per attribute type (list i holds types (i + 1) * 16 .. +15).
class CFileRecord {
public:
    static constexpr uint64_t kNoRecord = ~uint64_t(0);
    static constexpr uint32_t kAllAttributes = ~uint32_t(0);

    explicit CFileRecord(CNTFSVolume* volume);
    virtual ~CFileRecord();
    CFileRecord(const CFileRecord&) = delete;
    CFileRecord& operator=(const CFileRecord&) = delete;

    bool ReadRecord(uint64_t number);
    // Attribute types to instantiate at the next LoadAttributes: the bit of a
    // type is its list index, taken modulo 32.
    void SetAttributeMask(uint32_t mask) { attributeMask = mask; }
    bool LoadAttributes();
    // The list for an attribute type (0x10 .. 0x10F); types outside that
    // range give an empty list.
    CSList<CAttrBase>& Attributes(uint32_t type);
    // The first $DATA attribute without a name, or none.
    CAttrBase* FirstUnnamedData();
    // The $DATA attribute without a name, whole: when an attribute list
    // spread it over several records (a fragmented $MFT or $Bitmap), the
    // piece that starts at VCN 0 with the runs of the following pieces
    // joined behind it in VCN order, as far as they follow each other
    // without a gap. None when no piece starts at VCN 0.
    CAttrBase* UnnamedData();

    CNTFSVolume* Volume() const { return volume; }
    uint64_t RecordNumber() const { return recordNumber; }
    uint32_t AttributeMask() const { return attributeMask; }
    // The record after fixups, FileRecordSize() bytes; none until read.
    const uint8_t* Image() const { return image.get(); }

private:
    std::unique_ptr<uint8_t[]> FetchRecordImage(uint64_t number);
    bool ApplyFixups(uint8_t* bytes) const;
    bool AddAttribute(const uint8_t* header, uint32_t length);
    CAttrBase* CreateAttribute(const uint8_t* header, uint32_t length);
    void ReleaseAttributes();

    CNTFSVolume* volume;
    std::unique_ptr<uint8_t[]> image;
    uint64_t recordNumber = kNoRecord;
    uint32_t attributeMask = kAllAttributes;
    CSList<CAttrBase> attributes[16];
    CSList<CAttrBase> noAttributes;
    bool piecesJoined = false; // UnnamedData has joined the pieces
};
