#pragma once

#include "volume/CVolumeOpener.h"

#include <string>

// The one line that says why a scan cannot start, the same in every front
// end: the terminal prints it, the desktop program shows it in a box.
class COpenFailureText {
public:
    // The source cannot be opened: "cannot open the source /dev/sdb: Permission denied".
    static std::string cannotOpen(const std::string& reason);
    // The source does not hold what the access of kind needs:
    // "cannot read card.img as FAT32: the FAT cannot be read".
    static std::string cannotRead(const std::string& source, CVolumeOpener::Kind kind,
                                  const std::string& reason);
};
