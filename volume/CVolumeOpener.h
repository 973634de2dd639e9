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
    uint32_t clusterCount = 0;
    uint32_t freeClusters = 0;
    // What the access's own reader found (NTFS: version and geometry), or "".
    std::string detail;
};

// Chooses and builds the volume access for a source, the same way for every
// front end: the file system is detected first, then the matching access is
// built. The two steps are separate calls so that a front end can show
// something between them; open() does both.
class CVolumeOpener {
public:
    // The access asked for: Auto follows the detected file system.
    enum class Choice { Auto, Raw, Fat32, Ntfs };
    // The access built.
    enum class Kind { Raw, Fat32, Ntfs };

    // "auto", "raw", "fat32" or "ntfs"; false for anything else.
    static bool parseChoice(const std::string& text, Choice& choice);
    static const char* choiceText(Choice choice);
    // "raw", "FAT32" or "NTFS".
    static const char* kindText(Kind kind);

    // Step 1: the file-system name of the source: "NTFS", "FAT32", another
    // name the probe gives, or "" when nothing is recognised.
    static std::string detect(const CDevice& device);
    // The access for a choice: Auto takes NTFS for exactly "NTFS", FAT32 for
    // exactly "FAT32" and the raw access for every other name.
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
    static std::unique_ptr<CVolumeAccess> buildNtfs(std::shared_ptr<CDevice> device);
};
