#include "volume/CVolumeOpener.h"

#include "platform/CFileDevice.h"
#include "platform/CFsProbe.h"
#include "volume/CFAT32VolumeAccess.h"
#include "volume/CNTFSAccessBuilder.h"
#include "volume/CNTFSVolumeAccess.h"
#include "volume/CRawVolumeAccess.h"
#include "volume/CVolumeOpenError.h"

bool CVolumeOpener::parseChoice(const std::string& text, Choice& choice) {
    for (Choice c : {Choice::Auto, Choice::Raw, Choice::Fat32, Choice::Ntfs}) {
        if (text == choiceText(c)) {
            choice = c;
            return true;
        }
    }
    return false;
}

const char* CVolumeOpener::choiceText(Choice choice) {
    switch (choice) {
    case Choice::Auto:
        return "auto";
    case Choice::Raw:
        return "raw";
    case Choice::Fat32:
        return "fat32";
    case Choice::Ntfs:
        return "ntfs";
    }
    return "auto";
}

const char* CVolumeOpener::kindText(Kind kind) {
    switch (kind) {
    case Kind::Raw:
        return "raw";
    case Kind::Fat32:
        return "FAT32";
    case Kind::Ntfs:
        return "NTFS";
    }
    return "raw";
}

std::string CVolumeOpener::detect(const CDevice& device) {
    if (auto* file = dynamic_cast<const CFileDevice*>(&device))
        return CFsProbe::probeDescriptor(file->descriptor());
    return CFsProbe::probePath(device.path());
}

CVolumeOpener::Kind CVolumeOpener::resolve(Choice choice, const std::string& fileSystem) {
    switch (choice) {
    case Choice::Raw:
        return Kind::Raw;
    case Choice::Fat32:
        return Kind::Fat32;
    case Choice::Ntfs:
        return Kind::Ntfs;
    case Choice::Auto:
        break;
    }
    if (fileSystem == "NTFS")
        return Kind::Ntfs;
    if (fileSystem == "FAT32")
        return Kind::Fat32;
    return Kind::Raw;
}

std::unique_ptr<CVolumeAccess> CVolumeOpener::build(Kind kind, std::shared_ptr<CDevice> device) {
    switch (kind) {
    case Kind::Fat32:
        return std::make_unique<CFAT32VolumeAccess>(std::move(device));
    case Kind::Ntfs:
        return buildNtfs(std::move(device));
    case Kind::Raw:
        break;
    }
    return std::make_unique<CRawVolumeAccess>(std::move(device));
}

// The NTFS access: open the NTFS volume on the device, load its allocation
// bitmap and build the access over it.
std::unique_ptr<CVolumeAccess> CVolumeOpener::buildNtfs(std::shared_ptr<CDevice> device) {
    CNTFSAccessBuilder builder(std::move(device));
    std::unique_ptr<CNTFSVolumeAccess> access = builder.build();
    access->setDescription(builder.describe());
    return access;
}

CVolumeOpener::tagOpened CVolumeOpener::open(std::shared_ptr<CDevice> device, Choice choice) {
    tagOpened opened;
    opened.fileSystem = detect(*device);
    opened.kind = resolve(choice, opened.fileSystem);
    opened.access = build(opened.kind, std::move(device));
    return opened;
}

tagVolumeGeometry CVolumeOpener::geometry(Kind kind, CVolumeAccess& access) {
    tagVolumeGeometry g;
    g.sectorSize = access.getSectorSize();
    g.clusterSize = access.getClusterSize();
    g.clusterCount = access.getClusterCount();
    if (auto* ntfs = dynamic_cast<CNTFSVolumeAccess*>(&access))
        g.detail = ntfs->description();
    if (kind == Kind::Raw) {
        g.freeClusters = g.clusterCount;
    } else {
        for (uint32_t n = 0; n < g.clusterCount; ++n)
            g.freeClusters += access.isClusterUsed(n) ? 0 : 1;
    }
    return g;
}

std::string CVolumeOpener::describe(const std::string& fileSystem, Choice choice, Kind kind,
                                    const tagVolumeGeometry& g) {
    std::string text;
    text +=
        "File system: " + (fileSystem.empty() ? std::string("not recognised") : fileSystem) + "\n";
    text += std::string("Access: ") + kindText(kind) +
            (choice == Choice::Auto ? " (auto)" : " (chosen)") + "\n";
    text += "Sector size: " + std::to_string(g.sectorSize) + " bytes\n";
    text += "Cluster size: " + std::to_string(g.clusterSize) + " bytes\n";
    text += "Clusters: " + std::to_string(g.clusterCount) +
            ", free: " + std::to_string(g.freeClusters) + "\n";
    if (!g.detail.empty())
        text += "Volume: " + g.detail + "\n";
    return text;
}
