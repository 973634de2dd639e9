#include "scan/CSourceIdentity.h"

#include "platform/CDevice.h"
#include "platform/CFileDevice.h"
#include "platform/CFsProbe.h"
#include "scan/CSha256.h"
#include "volume/CVolumeOpener.h"

#include <algorithm>
#include <vector>

bool CSourceIdentity::of(CDevice& device, tagSourceIdentity& identity) {
    identity.byteSize = device.byteSize();
    identity.sectorSize = device.sectorSize();
    identity.fileSystem = CVolumeOpener::detect(device);
    const auto* file = dynamic_cast<const CFileDevice*>(&device);
    identity.serial = file ? CFsProbe::volumeSerial(file->descriptor()) : "";
    auto readInto = [&device](uint64_t offset, std::vector<unsigned char>& bytes) {
        uint32_t done = 0;
        while (done < bytes.size()) {
            uint32_t got = 0;
            int error = 0;
            if (!device.readAt(offset + done, bytes.data() + done, uint32_t(bytes.size()) - done,
                               got, error) ||
                got == 0)
                return false;
            done += got;
        }
        return true;
    };
    CSha256 digest;
    std::vector<unsigned char> bytes(size_t(std::min<uint64_t>(kHeadBytes, identity.byteSize)));
    if (!readInto(0, bytes))
        return false;
    digest.update(bytes.data(), bytes.size());
    if (identity.byteSize >= uint64_t(kHeadBytes) + kSampleBytes) {
        const uint64_t spread = (identity.byteSize - kHeadBytes - kSampleBytes) / kSamples;
        bytes.resize(kSampleBytes);
        for (uint32_t k = 1; k <= kSamples; ++k) {
            if (!readInto(kHeadBytes + spread * k, bytes))
                return false;
            digest.update(bytes.data(), bytes.size());
        }
    }
    identity.digest = digest.hexDigest();
    return true;
}

std::string CSourceIdentity::difference(const tagSourceIdentity& recorded,
                                        const tagSourceIdentity& found) {
    auto shown = [](const std::string& text) { return text.empty() ? "none" : text; };
    if (found.byteSize != recorded.byteSize)
        return "its size is " + std::to_string(found.byteSize) + " bytes, not " +
               std::to_string(recorded.byteSize);
    if (found.sectorSize != recorded.sectorSize)
        return "its sectors hold " + std::to_string(found.sectorSize) + " bytes, not " +
               std::to_string(recorded.sectorSize);
    if (found.fileSystem != recorded.fileSystem)
        return "its file system is " + shown(found.fileSystem) + ", not " +
               shown(recorded.fileSystem);
    if (found.serial != recorded.serial)
        return "its file system identifier is " + shown(found.serial) + ", not " +
               shown(recorded.serial);
    if (found.digest != recorded.digest)
        return "its bytes differ (the first " + std::to_string(kHeadBytes >> 10) +
               " KiB, or pieces spread over it)";
    return "";
}
