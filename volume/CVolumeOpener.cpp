#include "volume/CVolumeOpener.h"

#include "platform/CByteView.h"

#include "platform/CFileDevice.h"
#include "platform/CFsProbe.h"
#include "volume/CExFATVolumeAccess.h"
#if VALLORA_WITH_EXT
#include "volume/CExtVolumeAccess.h"
#endif
#include "volume/CFAT32VolumeAccess.h"
#include "volume/CFATVolumeAccess.h"
#include "volume/CNTFSAccessBuilder.h"
#include "volume/CNTFSVolumeAccess.h"
#include "volume/CRawVolumeAccess.h"
#include "volume/CVolumeOpenError.h"

bool CVolumeOpener::parseChoice(const std::string& text, Choice& choice) {
    for (Choice c : {Choice::Auto, Choice::Raw, Choice::Fat32, Choice::Ntfs, Choice::ExFat,
                     Choice::Fat, Choice::Ext}) {
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
    case Choice::ExFat:
        return "exfat";
    case Choice::Fat:
        return "fat";
    case Choice::Ext:
        return "ext";
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
    case Kind::ExFat:
        return "exFAT";
    case Kind::Fat:
        return "FAT12/FAT16";
    case Kind::Ext:
        return "ext2/3/4";
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
    case Choice::ExFat:
        return Kind::ExFat;
    case Choice::Fat:
        return Kind::Fat;
    case Choice::Ext:
        return Kind::Ext;
    case Choice::Auto:
        break;
    }
    if (fileSystem == "NTFS")
        return Kind::Ntfs;
    if (fileSystem == "FAT32")
        return Kind::Fat32;
    if (fileSystem == "FAT12" || fileSystem == "FAT16")
        return Kind::Fat;
    if (fileSystem == "exfat")
        return Kind::ExFat;
    if (fileSystem == "ext2" || fileSystem == "ext3" || fileSystem == "ext4")
        return Kind::Ext;
    return Kind::Raw;
}

std::unique_ptr<CVolumeAccess> CVolumeOpener::build(Kind kind, std::shared_ptr<CDevice> device) {
    try {
        return buildAccess(kind, std::move(device));
    } catch (const CByteRangeError&) {
        // A structure whose fields run outside the bytes read for it.
        throw CVolumeOpenError(std::string("the ") + kindText(kind) +
                               " metadata is corrupt (a field lies outside its structure)");
    }
}

std::unique_ptr<CVolumeAccess> CVolumeOpener::buildAccess(Kind kind,
                                                          std::shared_ptr<CDevice> device) {
    switch (kind) {
    case Kind::Fat32:
        return std::make_unique<CFAT32VolumeAccess>(std::move(device));
    case Kind::Ntfs:
        return buildNtfs(std::move(device));
    case Kind::ExFat:
        return std::make_unique<CExFATVolumeAccess>(std::move(device));
    case Kind::Fat:
        return std::make_unique<CFATVolumeAccess>(std::move(device));
    case Kind::Ext:
#if VALLORA_WITH_EXT
        return std::make_unique<CExtVolumeAccess>(std::move(device));
#else
        throw CVolumeOpenError("ext2/3/4 volumes are not read by this build of the program "
                               "(made without libext2fs)");
#endif
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
    g.detail = access.volumeDetail();
    g.warning = access.volumeWarning();
    g.freeClusters = kind == Kind::Raw ? g.clusterCount : access.countFreeClusters();
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
    if (!g.warning.empty())
        text += "Warning: " + g.warning + "\n";
    return text;
}
