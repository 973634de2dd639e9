#pragma once

#include "ntfs/CAttrBase.h"
#include "ntfs/CSList.h"
#include "ntfs/tagDataRun_Entry.h"

#include <memory>

// An attribute whose data lies in clusters of the volume, found through its
// data runs. The runs are decoded once, at construction.
class CAttrNonResident : public CAttrBase {
public:
    // True when the non-resident header fits in the length bytes of the
    // attribute and its mapping pairs start inside them.
    static bool HeaderFits(const CByteView& header);

    CAttrNonResident(CByteView header, CFileRecord* record);
    ~CAttrNonResident() override;

    bool IsDataValid() const override { return runsValid; }
    uint64_t DataSize(uint64_t* allocatedSize = nullptr) const override;
    bool ReadAt(uint64_t offset, void* buffer, uint32_t length, uint32_t& bytesRead) override;

    CSList<tagDataRun_Entry>& Runs() { return runs; }
    // Joins the next piece of the same attribute (stored in another record
    // through an attribute list) behind this one: its runs are added with
    // their VCNs moved to the piece's place. False, and nothing changed,
    // when piece does not start right after this one's last VCN or its runs
    // are not valid.
    bool AppendPiece(CAttrNonResident& piece);
    uint64_t StartingVcn() const { return startingVcn; }
    uint64_t LastVcn() const { return lastVcn; }

protected:
    CSList<tagDataRun_Entry> runs;
    bool runsValid = false;
    // One cluster, for reads that start or end inside a cluster; allocated
    // on first use. Clusters above kKeptClusterBuffer bytes are not kept
    // between reads, so that many attributes never hold many large buffers.
    std::unique_ptr<uint8_t[]> clusterBuffer;
    static constexpr uint32_t kKeptClusterBuffer = 64 * 1024;

private:
    enum class EntryResult { Decoded, Stop, Truncated };

    bool DecodeRuns();
    // The entry at pos, moving pos past it.
    EntryResult DecodeRunEntry(size_t& pos, uint64_t& count, int64_t& delta) const;
    bool ReadLcnRange(int64_t lcn, uint64_t n, uint8_t* buffer);
    bool ReadVcnRange(uint64_t vcn, uint64_t n, uint8_t* buffer, uint32_t bufferSize,
                      uint32_t& bytesRead);
    bool ReadOneCluster(uint64_t vcn);
    bool ReadRange(uint64_t offset, uint8_t* buffer, uint32_t length, uint32_t& bytesRead);

    uint64_t startingVcn;
    uint64_t lastVcn;
    uint64_t allocatedSize;
    uint64_t dataSize;
};
