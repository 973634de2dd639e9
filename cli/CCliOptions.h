#pragma once

#include "volume/CVolumeOpener.h"

#include <cstdint>
#include <string>

// The command line of vallora-recover.
class CCliOptions {
public:
    // Parses argv; false with a one-line error for bad usage.
    bool parse(int argc, char** argv, std::string& error);
    static std::string helpText();

    bool showHelp = false;
    bool showVersion = false;
    bool quiet = false;
    // Write into an output folder whose storage cannot be determined.
    bool forceOutput = false;
    bool thorough = false;    // the thorough carving mode
    bool keepPartial = false; // thorough mode: write partial images into OUTPUT_DIR/partial
    bool report = VALLORA_WITH_REPORT; // report.xml in the output folder
    bool photoDates = true;            // photos dated by their Exif date
    uint32_t sectorSize = 0;           // 0: the device's own, or 512 for an image file
    // Which volume access sweeps the source; Auto follows the detected file system.
    CVolumeOpener::Choice fileSystem = CVolumeOpener::Choice::Auto;
    // --resume: take up the sweep interrupted in outputDir, with its options;
    // source is "" unless given again.
    bool resume = false;
    std::string source;
    std::string outputDir;
};
