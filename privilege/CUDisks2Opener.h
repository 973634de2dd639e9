#pragma once

#include <atomic>
#include <string>

// Asks udisks2 for a read-only descriptor of a block device
// (org.freedesktop.UDisks2.Block.OpenDevice with mode "r"); polkit asks the
// user for the administrator's password when needed. Runs on the scan
// worker's thread: the call waits for the answer, looking at stop meanwhile.
class CUDisks2Opener {
public:
    enum class Result { Opened, Unavailable, Failed };

    static Result open(const std::string& devicePath, const std::atomic<bool>& stop, int& fd,
                       std::string& error);
    // udisks2's object path for a device name ("dm-0" -> ".../block_devices/dm_2d0").
    static std::string objectPathFor(const std::string& deviceName);
};
