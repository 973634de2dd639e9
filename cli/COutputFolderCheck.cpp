#include "cli/COutputFolderCheck.h"

#include "platform/CBlockTopology.h"
#include "platform/CFileDevice.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

bool COutputFolderCheck::accept(const std::string& folder, const CFileDevice& source,
                                std::string& reason, const std::string& sysfsRoot) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0) {
        reason = "output folder " + folder + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        reason = "output folder " + folder + " is not a folder";
        return false;
    }
    if (::access(folder.c_str(), W_OK | X_OK) != 0) {
        reason = "output folder " + folder + " is not writable: " + std::strerror(errno);
        return false;
    }
    // An image file is not the scanned volume: its own file system may take
    // the output. A device may not, nor may any other part of its disk.
    if (source.isBlockDevice() &&
        CBlockTopology(sysfsRoot).sharesDisk(st.st_dev, source.deviceNumber())) {
        reason = "output folder " + folder + " is on the disk being scanned (" + source.path() +
                 "); writing there would overwrite the photos being recovered. Choose a "
                 "folder on another disk";
        return false;
    }
    return true;
}
