#pragma once

#include "platform/CFileDevice.h"

#include <string>
#ifdef _WIN32
#include <cstdint>
#include <set>
#else
#include "platform/CStorageBacking.h"

#include <sys/types.h>
#endif

// What is being scanned, as the output-folder rule needs to know it.
struct tagScannedSource {
    bool blockDevice = false;
#ifdef _WIN32
    std::set<uint32_t> disks; // the physical disks (PhysicalDriveN) a device lies on
#else
    dev_t device = 0; // a block device's own number; an image file's file system
    ino_t inode = 0;  // an image file's inode

    static tagScannedSource ofBlockDevice(dev_t device);
    static tagScannedSource ofImageFile(dev_t fileSystem, ino_t inode);
#endif
#ifndef _WIN32
    // From an open source; false when it cannot be examined.
    static bool ofDescriptor(int fd, tagScannedSource& source);
#endif
    // From an opened source; false when it cannot be examined.
    static bool ofDevice(const CFileDevice& device, tagScannedSource& source);
    // From a path (stat follows links); false with errno set when it cannot
    // be examined.
    static bool ofPath(const std::string& path, tagScannedSource& source);
};

// The output folder of a scan, opened once and checked as opened: it exists,
// is a folder, can be written, and writing into it cannot overwrite the
// data being scanned, through whatever layers lie between the folder and
// its disks. Every recovered file is written through descriptor(), so the
// folder checked is the folder written, whatever happens to its path.
//
// A block-device source refuses a folder whose storage shares a disk with
// it (another partition of the same card included). An image-file source
// refuses a folder whose storage runs through that very file (the image
// attached as a loop device and mounted); the file system holding the
// image is fine. A folder whose storage cannot be determined is refused
// with the reason, unless the caller accepts that risk.
class COutputFolder {
public:
    enum class Verdict {
        Accepted,     // files may be written
        Refused,      // missing, not a folder, not writable, or on the scanned data
        Undetermined, // usable, but whether it lies on the scanned data is unknown
    };

#ifdef _WIN32
    // On Windows a device source refuses a folder on a volume that lies on
    // one of its disks; an image file accepts any folder.
    COutputFolder(const std::string& path, const tagScannedSource& source);
#else
    COutputFolder(const std::string& path, const tagScannedSource& source,
                  const CStorageBacking& storage = CStorageBacking());
#endif
    ~COutputFolder();
    COutputFolder(const COutputFolder&) = delete;
    COutputFolder& operator=(const COutputFolder&) = delete;

    Verdict verdict() const {
        return result;
    }
    // One line saying why the folder is refused or undetermined; "" when accepted.
    const std::string& reason() const {
        return why;
    }
    // True when files may be written: accepted, or undetermined and the
    // caller takes the risk (a forced choice).
    bool usable(bool forced = false) const {
        return result == Verdict::Accepted || (forced && result == Verdict::Undetermined);
    }
    // The open folder (read-only directory descriptor, close-on-exec), kept
    // open until this object goes; -1 when it could not be opened.
    int descriptor() const {
        return fd;
    }
    // True when refused because writing there would reach the scanned data.
    bool onScannedData() const {
        return overlapsScanned;
    }
    const std::string& path() const {
        return folder;
    }

private:
#ifdef _WIN32
    void check(const tagScannedSource& source);
#else
    void check(const tagScannedSource& source, const CStorageBacking& storage);
#endif
    void refuse(Verdict verdict, const std::string& reason);

    std::string folder;
    int fd = -1;
    Verdict result = Verdict::Refused;
    bool overlapsScanned = false;
    std::string why;
};
