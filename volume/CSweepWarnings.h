#pragma once

#include "volume/CVolumeOpener.h"

#include <string>
#include <vector>

class CDevice;
class CVolumeAccess;

// What a person should know before a sweep starts, for every front end to
// show (standard error in the terminal, a message in the desktop program):
// an automatic choice that fell back to sweeping every sector because the
// boot sector could not be read, and the access's own warning (FAT32
// geometry that is legal but does not fit the volume's own directory, an
// unclean ext journal...). A front end that prints CVolumeOpener::describe
// has the access's warning there already and needs only rawFallback.
class CSweepWarnings {
public:
    static std::vector<std::string> collect(CDevice& device, CVolumeOpener::Choice choice,
                                            CVolumeOpener::Kind kind, CVolumeAccess& access);
    // The fallback alone: "" unless the choice was automatic, the raw access
    // was taken, and the source's first sector cannot be read.
    static std::string rawFallback(CDevice& device, CVolumeOpener::Choice choice,
                                   CVolumeOpener::Kind kind);
};
