#pragma once

#include <atomic>
#include <memory>
#include <string>

class CFileDevice;

// Opens the source of a scan read-only for the person running the program.
// An image file, or a device the person may read, is opened directly. A
// device that needs rights is handed out by udisks2 (polkit asks for the
// password); where udisks2 is not there, by the pkexec helper.
class CDeviceOpener {
public:
    // Throws CDeviceOpenError when the source cannot be opened.
    static std::shared_ptr<CFileDevice> open(const std::string& path, bool imageFile,
                                             const std::atomic<bool>& stop);
};
