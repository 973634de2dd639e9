#pragma once

#include "ntfs/tagDeletedData.h"

#include <cstdint>
#include <functional>

class CNTFSVolume;
class CFileRecord;

// Walks the MFT for the records of deleted files (the in-use flag of the
// record header clear) that still list their unnamed $DATA in clusters:
// a non-resident attribute starting at VCN 0 whose runs decode, none of
// them sparse, and cover the data size. The MFT is read in order (no
// further than the device holds, whatever size its record claims),
// kReadBytes at a time; records in use are passed over by their header
// alone. Records that do not decode are passed over as corrupt.
class CDeletedDataFinder {
public:
    static constexpr uint32_t kReadBytes = 1024 * 1024;

    explicit CDeletedDataFinder(CNTFSVolume& volume);

    // Calls visit for each such record, in MFT order, until it returns
    // false. False when the MFT could not be read to its end (the records
    // before were visited).
    bool forEach(const std::function<bool(const tagDeletedData&)>& visit);

private:
    // The deleted data of the record image at bytes, when it has some.
    bool deletedData(uint64_t number, const uint8_t* bytes, CFileRecord& record,
                     tagDeletedData& found);

    CNTFSVolume& volume;
};
