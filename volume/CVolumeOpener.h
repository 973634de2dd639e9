#pragma once

#include <cstdint>
#include <memory>
#include <string>

class CDevice;
class CVolumeAccess;

// Sizes of an opened volume, for the front ends to show.
struct tagVolumeGeometry {
    uint32_t sectorSize = 0;
    uint32_t clusterSize = 0;
    uint64_t clusterCount = 0;
    uint64_t freeClusters = 0;
    // What the access's own reader found (version and layout), or "".
    std::string detail;
    // What the person running the program should know (an unclean
    // journal), or "".
    std::string warning;
};

// Chooses and builds the volume access for a source, the same way for every
// front end: the file system is detected first, then the matching access is
// built. The two steps are separate calls so that a front end can show
// something between them; open() does both.
class CVolumeOpener {
public:
    // The access asked for: Auto follows the detected file system. Fat is
    // FAT12 or FAT16; Ext is ext2, ext3 or ext4.
    enum class Choice { Auto, Raw, Fat32, Ntfs, ExFat, Fat, Ext };
    // The access built.
    enum class Kind { Raw, Fat32, Ntfs, ExFat, Fat, Ext };

    // "auto", "raw", "fat32", "ntfs", "exfat", "fat" or "ext"; false for
    // anything else.
    static bool parseChoice(const std::string& text, Choice& choice);
    static const char* choiceText(Choice choice);
    // "raw", "FAT32", "NTFS", "exFAT", "FAT12/FAT16" or "ext2/3/4".
    static const char* kindText(Kind kind);

    // Step 1: the file-system name of the source as CFsProbe gives it, or ""
    // when nothing is recognised.
    static std::string detect(const CDevice& device);
    // The access for a choice: Auto takes NTFS for exactly "NTFS", FAT32 for
    // "FAT32", FAT12/16 for "FAT12" and "FAT16", exFAT for "exfat", ext for
    // "ext2", "ext3" and "ext4", and the raw access for every other name.
    static Kind resolve(Choice choice, const std::string& fileSystem);
    // Step 2: builds the access over device. Throws CVolumeOpenError when the
    // source does not hold what the access needs.
    static std::unique_ptr<CVolumeAccess> build(Kind kind, std::shared_ptr<CDevice> device);

    struct tagOpened {
        std::string fileSystem; // as detected
        Kind kind = Kind::Raw;
        std::unique_ptr<CVolumeAccess> access;
    };
    // Both steps.
    static tagOpened open(std::shared_ptr<CDevice> device, Choice choice);

    // The access's sizes and its number of free clusters (one pass over the
    // allocation answers; the raw access has no used cluster).
    static tagVolumeGeometry geometry(Kind kind, CVolumeAccess& access);
    // A few lines for the terminal: file system, access, sizes, clusters.
    static std::string describe(const std::string& fileSystem, Choice choice, Kind kind,
                                const tagVolumeGeometry& geometry);

private:
    static std::unique_ptr<CVolumeAccess> buildAccess(Kind kind, std::shared_ptr<CDevice> device);
    static std::unique_ptr<CVolumeAccess> buildNtfs(std::shared_ptr<CDevice> device);
};
