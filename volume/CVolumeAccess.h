#pragma once

#include "volume/tagListedFile.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class CDevice;
class CFileDevice;

// A volume seen as a row of clusters, each a run of consecutive sectors.
// The scan engine sees a volume only through this interface.
class CVolumeAccess {
public:
    // Cluster and sector numbers are 64-bit: a volume may hold more than
    // 2^32 of either (a disk of several TB with 512-byte sectors).
    virtual uint64_t getClusterCount() { return 0; }
    virtual uint32_t getClusterSize() { return 0; }
    virtual uint32_t getSectorSize() { return 0; }
    // True when the cluster is allocated (the sweep skips it).
    virtual bool isClusterUsed(uint64_t /*cluster*/) { return true; }
    // Clusters the sweep would read: those isClusterUsed calls free. An
    // access that holds its allocation table in memory counts them in one
    // pass over it.
    virtual uint64_t countFreeClusters();
    // The first cluster from from on (up to, not including, to) that is in
    // use, or free; to when there is none. What isClusterUsed says, cluster
    // by cluster; an access with its allocation table in memory answers
    // without a call per cluster.
    virtual uint64_t firstUsedCluster(uint64_t from, uint64_t to);
    virtual uint64_t firstFreeCluster(uint64_t from, uint64_t to);
    virtual ~CVolumeAccess() = default;
    // Number of the cluster's first sector, in the numbering readSectors takes.
    virtual uint64_t clusterToSector(uint64_t /*cluster*/) { return 0; }
    // Reads sectors first..last inclusive into buffer.
    virtual bool readSectors(uint64_t /*first*/, uint64_t /*last*/, void* /*buffer*/) {
        return true;
    }
    // Reads clusters first..last inclusive into buffer.
    virtual bool readClusters(uint64_t /*first*/, uint64_t /*last*/, void* /*buffer*/) {
        return true;
    }

    // Byte offset on the device of a sector in the numbering readSectors
    // takes (reports map recovered files back onto the source with it).
    virtual uint64_t sectorToByteOffset(uint64_t sector) { return sector * getSectorSize(); }

    // True once the source has gone away (a card reader unplugged): every
    // later read fails, so the sweep ends rather than try them all.
    virtual bool isSourceLost() { return false; }

    // What the access's own reader found, in one line for the person running
    // the program (version and layout), or "".
    virtual std::string volumeDetail() { return {}; }
    // Something that person should know before trusting the sweep (an
    // unclean journal), or "".
    virtual std::string volumeWarning() { return {}; }

    // Calls visit, until it returns false, for each deleted file that the
    // file system still lists and whose clusters are all free now (none are
    // known by default).
    virtual void
    forEachListedDeletedFile(const std::function<bool(const tagListedFile&)>& /*visit*/) {}

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
    static constexpr uint32_t kReleaseAfterBytes = 1u << 20;
    static bool readFromDevice(CDevice& device, uint64_t offset, uint32_t length, void* buffer,
                               uint64_t sectorNumber);
};
