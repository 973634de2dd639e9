#include "platform/CBlockTopology.h"

#include <filesystem>
#include <fstream>
#include <sys/sysmacros.h>

namespace fs = std::filesystem;

namespace {

// Stacks deeper than this are not followed (sysfs links cannot loop, but a
// made-up tree could).
constexpr int kMaxDepth = 16;

} // namespace

bool CBlockTopology::readDeviceNumber(const std::string& sysPath, dev_t& device) {
    std::ifstream in(fs::path(sysPath) / "dev");
    unsigned major = 0, minor = 0;
    char colon = 0;
    if (!(in >> major >> colon >> minor) || colon != ':')
        return false;
    device = makedev(major, minor);
    return true;
}

CBlockTopology::CBlockTopology(std::string sysfsRoot) : root(std::move(sysfsRoot)) {}

tagDeviceLayers CBlockTopology::layersUnder(dev_t device) const {
    tagDeviceLayers layers;
    const std::string link =
        root + "/dev/block/" + std::to_string(major(device)) + ":" + std::to_string(minor(device));
    std::error_code ec;
    if (fs::exists(link, ec))
        collect(fs::canonical(link, ec).string(), layers, 0);
    if (layers.disks.empty())
        layers.disks.insert(device);
    return layers;
}

std::set<dev_t> CBlockTopology::underlyingDisks(dev_t device) const {
    return layersUnder(device).disks;
}

void CBlockTopology::collect(const std::string& sysPath, tagDeviceLayers& layers, int depth) const {
    if (depth > kMaxDepth)
        return;
    std::error_code ec;
    const fs::path dir(sysPath);
    // A partition's folder sits inside its disk's folder.
    if (fs::exists(dir / "partition", ec)) {
        collect(dir.parent_path().string(), layers, depth + 1);
        return;
    }
    bool stacked = false;
    if (fs::is_directory(dir / "slaves", ec)) {
        for (const auto& slave : fs::directory_iterator(dir / "slaves", ec)) {
            stacked = true;
            collect(fs::canonical(slave.path(), ec).string(), layers, depth + 1);
        }
    }
    if (stacked)
        return;
    dev_t device = 0;
    if (readDeviceNumber(dir.string(), device))
        layers.disks.insert(device);
    // A bound loop device names the file it reads and writes.
    std::ifstream backing(dir / "loop" / "backing_file");
    std::string file;
    if (std::getline(backing, file) && !file.empty())
        layers.loopFiles.insert(file);
}

bool CBlockTopology::sharesDisk(dev_t a, dev_t b) const {
    if (a == b)
        return true;
    const auto disksA = underlyingDisks(a);
    for (dev_t disk : underlyingDisks(b))
        if (disksA.count(disk))
            return true;
    return false;
}
