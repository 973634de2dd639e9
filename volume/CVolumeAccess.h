#pragma once

#include <cstdint>
#include <memory>
#include <string>

class CDevice;
class CFileDevice;

// A volume seen as a row of clusters, each a run of consecutive sectors.
// The scan engine sees a volume only through this interface.
class CVolumeAccess {
public:
    virtual uint32_t getClusterCount() { return 0; }
    virtual uint32_t getClusterSize() { return 0; }
    virtual uint32_t getSectorSize() { return 0; }
    // True when the cluster is allocated (the sweep skips it).
    virtual bool isClusterUsed(uint32_t /*cluster*/) { return true; }
    virtual ~CVolumeAccess() = default;
    // Number of the cluster's first sector, in the numbering readSectors takes.
    virtual uint32_t clusterToSector(uint32_t /*cluster*/) { return 0; }
    // Reads sectors first..last inclusive into buffer.
    virtual bool readSectors(uint32_t /*first*/, uint32_t /*last*/, void* /*buffer*/) {
        return true;
    }
    // Reads clusters first..last inclusive into buffer.
    virtual bool readClusters(uint32_t /*first*/, uint32_t /*last*/, void* /*buffer*/) {
        return true;
    }

    // Byte offset on the device of a sector in the numbering readSectors
    // takes (reports map recovered files back onto the source with it).
    virtual uint64_t sectorToByteOffset(uint32_t sector) {
        return uint64_t(sector) * getSectorSize();
    }

    // True once the source has gone away (a card reader unplugged): every
    // later read fails, so the sweep ends rather than try them all.
    virtual bool isSourceLost() { return false; }
    // True when the source holds more sectors than the 32-bit numbering
    // reaches: those beyond are not swept.
    virtual bool isTruncated() { return false; }

    // What the access's own reader found, in one line for the person running
    // the program (version and layout), or "".
    virtual std::string volumeDetail() { return {}; }
    // Something that person should know before trusting the sweep (an
    // unclean journal), or "".
    virtual std::string volumeWarning() { return {}; }

    // Opens a source read-only for an access. On failure writes the
    // diagnostic line and throws CVolumeOpenError.
    static std::shared_ptr<CFileDevice> openVolumeDevice(const std::string& path,
                                                         uint32_t imageSectorSize);

protected:
    // The sector read shared by the accesses: length bytes at byte offset.
    // sectorNumber only names the place in the diagnostic line. Bytes past
    // the end of the device are delivered as zeros, so no caller ever sees
    // what its buffer held before. A read that comes back short before the
    // end fails; one that brings nothing there marks the device lost.
    static bool readFromDevice(CDevice& device, uint64_t offset, uint32_t length, void* buffer,
                               uint32_t sectorNumber);
};
