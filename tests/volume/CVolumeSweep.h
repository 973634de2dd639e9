#pragma once

#include "volume/CVolumeOpener.h"

#include <string>
#include <vector>

class CTempDir;

// A whole sweep of an image through CVolumeOpener and CScanner, as the front
// ends run it, with what it found.
struct tagSweep {
    std::string fileSystem;
    CVolumeOpener::Kind kind = CVolumeOpener::Kind::Raw;
    tagVolumeGeometry geometry;
    std::vector<std::vector<unsigned char>> recovered; // sorted contents
    uint64_t unreadable = 0;
    std::string output; // standard output during the sweep
};

class CVolumeSweep {
public:
    // Sweeps image into the new folder outName of dir (in the thorough mode
    // when asked, keeping partial files when asked).
    static tagSweep run(const std::string& image, CVolumeOpener::Choice choice, const CTempDir& dir,
                        const std::string& outName, bool thorough = false,
                        bool keepPartial = false);
    // count different real photos, of the three start signatures in turn.
    static std::vector<std::vector<unsigned char>> makePhotos(int count);
};
