#pragma once

#include <atomic>
#include <string>

// Opens a block device through pkexec and the vallora-open-device helper:
// polkit asks for the administrator's password, the helper opens the device
// as root and passes the read-only descriptor back. The program itself never
// runs as root.
class CPkexecOpener {
public:
    // The helper to run: the installed one, or the one built next to the
    // program.
    static std::string helperPath();
    // True when pkexec and the helper are there.
    static bool available();
    // The descriptor, or -1 with error set. Gives up when stop becomes true.
    static int open(const std::string& devicePath, const std::atomic<bool>& stop,
                    std::string& error);
    // The same with a chosen launcher and helper (tests run the helper
    // without pkexec by passing an empty launcher).
    static int runHelper(const std::string& launcher, const std::string& helper,
                         const std::string& devicePath, const std::atomic<bool>& stop,
                         std::string& error);
};
