#pragma once

#include "ntfs/CSList.h"
#include "platform/CByteView.h"

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

    // Why the last ReadRecord or LoadAttributes failed: the device could
    // not give the bytes, or the bytes do not hold a usable record.
    enum class Failure {
        None,
        ReadError,   // the device failed, or the record lies beyond it
        Corrupt,     // bad magic or update sequence, an attribute that does not fit
        Unsupported, // compressed or encrypted
        NoMemory,
    };

    explicit CFileRecord(CNTFSVolume* volume);
    virtual ~CFileRecord();
    CFileRecord(const CFileRecord&) = delete;
    CFileRecord& operator=(const CFileRecord&) = delete;

    // Reads record number and undoes its update sequence; false (see
    // LastFailure) when it cannot be read or is not a file record.
    bool ReadRecord(uint64_t number);
    // The same for a record image the caller read (FileRecordSize() bytes
    // at bytes, copied), for walking the MFT in large reads.
    bool TakeRecord(uint64_t number, const uint8_t* bytes);
    // Attribute types to instantiate at the next LoadAttributes: the bit of a
    // type is its list index, taken modulo 32.
    void SetAttributeMask(uint32_t mask) { attributeMask = mask; }
    // Turns the attributes of the selected types into objects; false (see
    // LastFailure) when one does not fit its record or cannot be used.
    bool LoadAttributes();
    Failure LastFailure() const { return failure; }
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
    CByteView ImageView() const;

private:
    std::unique_ptr<uint8_t[]> FetchRecordImage(uint64_t number);
    bool ApplyFixups(uint8_t* bytes) const;
    bool AcceptImage(uint64_t number, std::unique_ptr<uint8_t[]> bytes);
    bool WalkAttributes(const CByteView& record);
    bool AddAttribute(const CByteView& header);
    CAttrBase* CreateAttribute(const CByteView& header);
    void ReleaseAttributes();

    CNTFSVolume* volume;
    std::unique_ptr<uint8_t[]> image;
    uint64_t recordNumber = kNoRecord;
    uint32_t attributeMask = kAllAttributes;
    CSList<CAttrBase> attributes[16];
    CSList<CAttrBase> noAttributes;
    bool piecesJoined = false; // UnnamedData has joined the pieces
    Failure failure = Failure::None;
};
