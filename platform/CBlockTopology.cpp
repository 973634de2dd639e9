#include "platform/CBlockTopology.h"

#include <filesystem>
#include <fstream>
#include <sys/sysmacros.h>

namespace fs = std::filesystem;

namespace {

bool readDevNumber(const fs::path& dir, dev_t& device) {
    std::ifstream in(dir / "dev");
    unsigned major = 0, minor = 0;
    char colon = 0;
    if (!(in >> major >> colon >> minor) || colon != ':')
        return false;
    device = makedev(major, minor);
    return true;
}

} // namespace

CBlockTopology::CBlockTopology(std::string sysfsRoot) : root(std::move(sysfsRoot)) {}

std::set<dev_t> CBlockTopology::underlyingDisks(dev_t device) const {
    std::set<dev_t> disks;
    const std::string link =
        root + "/dev/block/" + std::to_string(major(device)) + ":" + std::to_string(minor(device));
    std::error_code ec;
    if (fs::exists(link, ec))
        collect(fs::canonical(link, ec).string(), disks, 0);
    if (disks.empty())
        disks.insert(device);
    return disks;
}

void CBlockTopology::collect(const std::string& sysPath, std::set<dev_t>& disks, int depth) const {
    if (depth > 8)
        return;
    std::error_code ec;
    const fs::path dir(sysPath);
    // A partition's folder sits inside its disk's folder.
    if (fs::exists(dir / "partition", ec)) {
        collect(dir.parent_path().string(), disks, depth + 1);
        return;
    }
    bool stacked = false;
    if (fs::is_directory(dir / "slaves", ec)) {
        for (const auto& slave : fs::directory_iterator(dir / "slaves", ec)) {
            stacked = true;
            collect(fs::canonical(slave.path(), ec).string(), disks, depth + 1);
        }
    }
    dev_t device = 0;
    if (!stacked && readDevNumber(dir, device))
        disks.insert(device);
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
