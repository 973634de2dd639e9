#pragma once

#include <string>

// How a source is named on Windows: "E:" (or "E:\") names the volume, whose
// device is \\.\E:; \\.\PhysicalDriveN, \\.\E: and \\?\Volume{...} name
// devices as they are; anything else is an image file.
class CWinDevicePath {
public:
    // The path to open, in UTF-16; device tells whether it names a device.
    static std::wstring resolve(const std::string& path, bool& device);
};
