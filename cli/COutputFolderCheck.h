#pragma once

#include <string>

class CFileDevice;

// Refuses an output folder that cannot take the recovered files, or that
// lies on the disk being scanned (writing there overwrites the very photos
// being recovered).
class COutputFolderCheck {
public:
    // True when files may be written into folder; otherwise reason says why.
    static bool accept(const std::string& folder, const CFileDevice& source, std::string& reason,
                       const std::string& sysfsRoot = "/sys");
};
