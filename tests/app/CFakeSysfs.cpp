#include "CFakeSysfs.h"

#include <filesystem>
#include <fstream>
#include <sys/sysmacros.h>

namespace fs = std::filesystem;

namespace {

std::string devText(dev_t device) {
    return std::to_string(major(device)) + ":" + std::to_string(minor(device));
}

} // namespace

CFakeSysfs::CFakeSysfs(std::string root) : root(std::move(root)) {
    fs::create_directories(sysRoot() + "/block");
    fs::create_directories(sysRoot() + "/dev/block");
    fs::create_directories(devRoot() + "/disk/by-label");
    std::ofstream(mountInfo()).flush();
}

void CFakeSysfs::write(const std::string& path, const std::string& text) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path) << text << "\n";
}

void CFakeSysfs::linkDevNumber(dev_t device, const std::string& target) {
    fs::create_directory_symlink(target, sysRoot() + "/dev/block/" + devText(device));
}

void CFakeSysfs::addDisk(const std::string& name, dev_t device, unsigned long long sectors,
                         bool removable, const std::string& model, const std::string& type) {
    // The kernel's /sys/block entries link into /sys/devices.
    const std::string real = sysRoot() + "/devices/virtual/fake/" + name;
    fs::create_directories(real);
    write(real + "/dev", devText(device));
    write(real + "/size", std::to_string(sectors));
    write(real + "/removable", removable ? "1" : "0");
    write(real + "/device/type", type);
    if (!model.empty())
        write(real + "/device/model", model);
    fs::create_directory_symlink("../devices/virtual/fake/" + name, sysRoot() + "/block/" + name);
    linkDevNumber(device, "../../devices/virtual/fake/" + name);
}

void CFakeSysfs::addPartition(const std::string& disk, const std::string& name, int number,
                              dev_t device, unsigned long long sectors) {
    const std::string real = sysRoot() + "/devices/virtual/fake/" + disk + "/" + name;
    write(real + "/dev", devText(device));
    write(real + "/size", std::to_string(sectors));
    write(real + "/partition", std::to_string(number));
    linkDevNumber(device, "../../devices/virtual/fake/" + disk + "/" + name);
}

void CFakeSysfs::addLabel(const std::string& label, const std::string& name) {
    fs::create_symlink("../../" + name, devRoot() + "/disk/by-label/" + label);
}

void CFakeSysfs::addFileSystem(dev_t device, const std::string& type, const std::string& version) {
    write(root + "/run/udev/data/b" + devText(device),
          "S:disk/by-uuid/0000\nE:ID_FS_TYPE=" + type + "\nE:ID_FS_VERSION=" + version);
}

void CFakeSysfs::addLoop(const std::string& name, dev_t device, unsigned long long sectors,
                         const std::string& backingFile) {
    addDisk(name, device, sectors, false);
    write(sysRoot() + "/devices/virtual/fake/" + name + "/loop/backing_file", backingFile);
}

void CFakeSysfs::addMount(dev_t device, const std::string& mountPoint, const std::string& type) {
    std::ofstream(mountInfo(), std::ios::app) << "40 1 " << devText(device) << " / " << mountPoint
                                              << " rw,relatime - " << type << " /dev/x rw\n";
}

CDriveList CFakeSysfs::driveList(const std::string& systemRoot) const {
    return CDriveList(sysRoot(), devRoot(), mountInfo(), systemRoot);
}
