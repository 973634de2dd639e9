#include "platform/CDriveList.h"

#include "platform/CFsProbe.h"
#include "platform/CMountTable.h"
#include "platform/CStorageBacking.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string readLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back())))
        line.pop_back();
    return line;
}

uint64_t readNumber(const fs::path& file) {
    const std::string text = readLine(file);
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0])))
        return 0;
    return std::strtoull(text.c_str(), nullptr, 10);
}

dev_t readDevNumber(const fs::path& dir) {
    unsigned major = 0, minor = 0;
    if (std::sscanf(readLine(dir / "dev").c_str(), "%u:%u", &major, &minor) != 2)
        return 0;
    return makedev(major, minor);
}

// Orders "sda2" before "sda10": runs of digits compare by value.
bool naturalLess(const std::string& a, const std::string& b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (std::isdigit(static_cast<unsigned char>(a[i])) &&
            std::isdigit(static_cast<unsigned char>(b[j]))) {
            size_t ei = i, ej = j;
            while (ei < a.size() && std::isdigit(static_cast<unsigned char>(a[ei])))
                ++ei;
            while (ej < b.size() && std::isdigit(static_cast<unsigned char>(b[ej])))
                ++ej;
            const std::string na = a.substr(i, ei - i), nb = b.substr(j, ej - j);
            if (na.size() != nb.size())
                return na.size() < nb.size();
            if (na != nb)
                return na < nb;
            i = ei;
            j = ej;
            continue;
        }
        if (a[i] != b[j])
            return a[i] < b[j];
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

// udev writes awkward bytes of a label as \xNN.
std::string unescapeLabel(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x' &&
            std::isxdigit(static_cast<unsigned char>(text[i + 2])) &&
            std::isxdigit(static_cast<unsigned char>(text[i + 3]))) {
            out += static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

} // namespace

CDriveList::CDriveList(std::string sysfsRoot, std::string devRoot, std::string mountInfo,
                       std::string systemRoot)
    : sysRoot(std::move(sysfsRoot)), devDir(std::move(devRoot)), mountInfo(std::move(mountInfo)),
      systemRoot(std::move(systemRoot)) {}

bool CDriveList::skipped(const std::string& diskName, const std::string& diskDir) const {
    // A loop device is listed while it shows an image file.
    if (diskName.rfind("loop", 0) == 0)
        return readLine(fs::path(diskDir) / "loop" / "backing_file").empty();
    for (const char* prefix : {"ram", "zram", "sr", "nbd"})
        if (diskName.rfind(prefix, 0) == 0)
            return true;
    // SCSI peripheral type 5 is an optical drive, whatever its name.
    if (readLine(fs::path(diskDir) / "device" / "type") == "5")
        return true;
    return false;
}

std::string CDriveList::labelOf(const std::string& name) const {
    std::error_code ec;
    const fs::path dir = fs::path(devDir) / "disk" / "by-label";
    for (const auto& link : fs::directory_iterator(dir, ec)) {
        std::error_code linkError;
        const fs::path target = fs::read_symlink(link.path(), linkError);
        if (!linkError && target.filename() == name)
            return unescapeLabel(link.path().filename().string());
    }
    return {};
}

std::string CDriveList::fileSystemOf(dev_t device) const {
    const fs::path record =
        fs::path(sysRoot).parent_path() / "run" / "udev" / "data" /
        ("b" + std::to_string(major(device)) + ":" + std::to_string(minor(device)));
    std::ifstream in(record);
    std::string type, version;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("E:ID_FS_TYPE=", 0) == 0)
            type = line.substr(13);
        else if (line.rfind("E:ID_FS_VERSION=", 0) == 0)
            version = line.substr(16);
    }
    return CFsProbe::volumeName(type, version);
}

void CDriveList::describe(tagDriveEntry& entry) const {
    const CMountTable mounts(mountInfo);
    for (const tagMountEntry& mount : mounts.mountsOf(entry.deviceNumber)) {
        if (std::find(entry.mountPoints.begin(), entry.mountPoints.end(), mount.mountPoint) ==
            entry.mountPoints.end())
            entry.mountPoints.push_back(mount.mountPoint);
        if (entry.fileSystem.empty())
            entry.fileSystem = mount.type;
    }
}

std::string CDriveList::fingerprint() const {
    std::string text;
    std::error_code ec;
    std::vector<std::string> names;
    for (const auto& item : fs::directory_iterator(fs::path(sysRoot) / "block", ec))
        names.push_back(item.path().filename().string());
    std::sort(names.begin(), names.end());
    for (const std::string& name : names)
        text += name + "=" + readLine(fs::path(sysRoot) / "block" / name / "size") + ";";
    return text;
}

std::vector<tagDriveEntry> CDriveList::list() const {
    std::vector<std::string> disks;
    std::error_code ec;
    for (const auto& item : fs::directory_iterator(fs::path(sysRoot) / "block", ec))
        disks.push_back(item.path().filename().string());
    std::sort(disks.begin(), disks.end(), naturalLess);

    std::vector<tagDriveEntry> entries;
    for (const std::string& disk : disks) {
        const fs::path diskDir = fs::path(sysRoot) / "block" / disk;
        if (skipped(disk, diskDir.string()))
            continue;
        const uint64_t diskSectors = readNumber(diskDir / "size");
        if (diskSectors == 0)
            continue;
        tagDriveEntry whole;
        whole.name = disk;
        whole.devicePath = devDir + "/" + disk;
        whole.sizeBytes = diskSectors * 512; // sysfs counts 512-byte units
        whole.removable = readNumber(diskDir / "removable") != 0;
        whole.model = readLine(diskDir / "device" / "model");
        if (whole.model.empty())
            whole.model = readLine(diskDir / "device" / "name"); // SD and MMC cards
        whole.label = labelOf(disk);
        whole.deviceNumber = readDevNumber(diskDir);
        whole.fileSystem = fileSystemOf(whole.deviceNumber);
        whole.backingFile = readLine(diskDir / "loop" / "backing_file");
        entries.push_back(whole);

        std::map<uint64_t, tagDriveEntry> parts;
        for (const auto& item : fs::directory_iterator(diskDir, ec)) {
            std::error_code itemError;
            if (!fs::exists(item.path() / "partition", itemError))
                continue;
            tagDriveEntry part;
            part.name = item.path().filename().string();
            part.devicePath = devDir + "/" + part.name;
            part.sizeBytes = readNumber(item.path() / "size") * 512;
            if (part.sizeBytes == 0)
                continue; // an extended partition's stub
            part.removable = whole.removable;
            part.model = whole.model;
            part.partition = true;
            part.label = labelOf(part.name);
            part.deviceNumber = readDevNumber(item.path());
            part.fileSystem = fileSystemOf(part.deviceNumber);
            parts.emplace(readNumber(item.path() / "partition"), part);
        }
        for (auto& [number, part] : parts) {
            part.backingFile = whole.backingFile;
            entries.push_back(part);
        }
    }

    // The disks under the running system, through whatever layers it sits on.
    const CStorageBacking storage(sysRoot, mountInfo);
    std::set<dev_t> systemDisks;
    const int root = ::open(systemRoot.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (root >= 0) {
        systemDisks = storage.ofDescriptor(root).disks;
        ::close(root);
    }
    for (tagDriveEntry& entry : entries) {
        describe(entry);
        for (dev_t disk : storage.ofBlockDevice(entry.deviceNumber).disks)
            entry.systemDisk = entry.systemDisk || systemDisks.count(disk) > 0;
    }
    return entries;
}

std::string CDriveList::sizeText(uint64_t bytes) {
    static const char* const units[] = {"B", "KB", "MB", "GB", "TB", "PB"};
    double value = double(bytes);
    int unit = 0;
    while (value >= 1000 && unit < 5) {
        value /= 1000;
        ++unit;
    }
    char text[32];
    if (unit == 0)
        std::snprintf(text, sizeof text, "%llu B", static_cast<unsigned long long>(bytes));
    else
        std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    return text;
}

std::string CDriveList::displayText(const tagDriveEntry& entry, const tagDriveWords& words) {
    std::string text = entry.devicePath + "  " + sizeText(entry.sizeBytes);
    if (!entry.fileSystem.empty())
        text += "  " + entry.fileSystem;
    if (!entry.label.empty())
        text += "  \"" + entry.label + "\"";
    else if (!entry.partition && !entry.model.empty())
        text += "  " + entry.model;
    if (!entry.mountPoints.empty()) {
        text += "  " + words.mountedAt + " ";
        for (size_t i = 0; i < entry.mountPoints.size(); ++i)
            text += (i ? ", " : "") + entry.mountPoints[i];
    }
    if (!entry.backingFile.empty() && !entry.partition)
        text += "  " + words.imageFile + " " + entry.backingFile;
    if (entry.systemDisk)
        text += "  " + words.systemDisk;
    if (entry.removable)
        text += "  " + words.removable;
    return text;
}
