#include "CNTFSFuzzEntry.h"

#include "CMemoryDevice.h"
#include "ntfs/CAttrBase.h"
#include "ntfs/CFileRecord.h"
#include "ntfs/CNTFSVolume.h"
#include "volume/CNTFSAccessBuilder.h"
#include "volume/CNTFSVolumeAccess.h"
#include "volume/CVolumeOpenError.h"

#include <memory>
#include <vector>

namespace {

// Reads some of an attribute's data: its start, a piece straddling cluster
// boundaries, and its last bytes.
void readData(CAttrBase* attribute, uint32_t clusterSize, std::vector<uint8_t>& buffer) {
    uint64_t allocated = 0;
    const uint64_t size = attribute->DataSize(&allocated);
    attribute->IsDataValid();
    uint32_t got = 0;
    attribute->ReadAt(0, buffer.data(), static_cast<uint32_t>(buffer.size()), got);
    attribute->ReadAt(clusterSize / 2 + 1, buffer.data(), 2 * clusterSize + 7, got);
    if (size)
        attribute->ReadAt(size - 1, buffer.data(), 16, got);
    attribute->ReadAt(size, buffer.data(), 1, got);
    attribute->ReadAt(size + 1, buffer.data(), 1, got);
}

} // namespace

void CNTFSFuzzEntry::run(const uint8_t* data, size_t size) {
    auto device = std::make_shared<CMemoryDevice>(std::vector<unsigned char>(data, data + size));
    {
        CNTFSVolume volume(device);
        if (!volume.IsOpen())
            return;
        const uint32_t clusterSize = volume.ClusterSize();
        std::vector<uint8_t> buffer(2 * clusterSize + 4096 + 7);
        for (uint64_t number = 0; number < 32; ++number) {
            CFileRecord record(&volume);
            if (!record.ReadRecord(number))
                continue;
            record.LoadAttributes();
            for (uint32_t type = 0x10; type <= 0x100; type += 0x10) {
                CSList<CAttrBase>& list = record.Attributes(type);
                for (CAttrBase* attribute = list.First(); attribute; attribute = list.Next()) {
                    // readData moves no list cursor: it only reads data.
                    readData(attribute, clusterSize, buffer);
                }
            }
            record.FirstUnnamedData();
        }
    }
    try {
        CNTFSAccessBuilder builder(device);
        std::unique_ptr<CNTFSVolumeAccess> access = builder.build();
        const uint32_t count = access->getClusterCount();
        for (uint32_t n = 0; n < count && n < 4096; ++n)
            access->isClusterUsed(n);
        std::vector<uint8_t> cluster(2 * size_t(access->getClusterSize()));
        access->readClusters(count - 1, count - 1, cluster.data());
        access->readSectors(0, 1, cluster.data());
        uint32_t listed = 0;
        access->forEachListedDeletedFile([&](const tagListedFile&) { return ++listed < 64; });
        builder.describe();
    } catch (const CVolumeOpenError&) {
    }
}
