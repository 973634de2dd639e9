#include "CVolumeFuzzEntry.h"

#include "CMemoryDevice.h"
#include "volume/CVolumeAccess.h"
#include "volume/CVolumeOpenError.h"

#include <memory>
#include <vector>

namespace {

constexpr uint32_t kMaxClustersAsked = 1u << 20;
constexpr uint32_t kMaxClustersRead = 8;
constexpr uint32_t kMaxClusterBytesRead = 1u << 20;

} // namespace

void CVolumeFuzzEntry::run(CVolumeOpener::Kind kind, const uint8_t* data, size_t size) {
    auto device = std::make_shared<CMemoryDevice>(std::vector<unsigned char>(data, data + size),
                                                  512, kDeviceBytes);
    std::unique_ptr<CVolumeAccess> access;
    try {
        access = CVolumeOpener::build(kind, device);
    } catch (const CVolumeOpenError&) {
        return;
    }
    const uint32_t count = access->getClusterCount();
    const uint32_t clusterSize = access->getClusterSize();
    std::vector<unsigned char> buffer(clusterSize <= kMaxClusterBytesRead ? clusterSize : 0);
    uint32_t read = 0;
    for (uint32_t n = 0; n < count && n < kMaxClustersAsked; ++n) {
        if (access->isClusterUsed(n))
            continue;
        access->clusterToSector(n);
        if (!buffer.empty() && read < kMaxClustersRead) {
            access->readClusters(n, n, buffer.data());
            ++read;
        }
    }
    access->volumeDetail();
    access->volumeWarning();
}
