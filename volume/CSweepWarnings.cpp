#include "volume/CSweepWarnings.h"

#include "platform/CDevice.h"
#include "volume/CVolumeAccess.h"

#include <cstring>

std::vector<std::string> CSweepWarnings::collect(CDevice& device, CVolumeOpener::Choice choice,
                                                 CVolumeOpener::Kind kind, CVolumeAccess& access) {
    std::vector<std::string> warnings;
    const std::string fallback = rawFallback(device, choice, kind);
    if (!fallback.empty())
        warnings.push_back(fallback);
    const std::string own = access.volumeWarning();
    if (!own.empty())
        warnings.push_back(own);
    return warnings;
}

std::string CSweepWarnings::rawFallback(CDevice& device, CVolumeOpener::Choice choice,
                                        CVolumeOpener::Kind kind) {
    if (choice != CVolumeOpener::Choice::Auto || kind != CVolumeOpener::Kind::Raw)
        return "";
    // The file system is told by the first sectors: when they cannot be
    // read, "nothing recognised" is not "no file system", and the sweep
    // that follows takes in the photos still in use as well.
    std::vector<unsigned char> sector(device.sectorSize() ? device.sectorSize() : 512);
    uint32_t got = 0;
    int error = 0;
    if (device.readAt(0, sector.data(), uint32_t(sector.size()), got, error))
        return "";
    return "the boot sector of " + device.path() + " cannot be read (" + std::strerror(error) +
           "), so its file system is unknown: every sector is swept, and photos still in use "
           "are recovered too";
}
