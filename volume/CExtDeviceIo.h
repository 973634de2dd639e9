#pragma once

#include <string>

class CDevice;
struct struct_io_manager;

// A libext2fs I/O manager whose channels read through one of the program's
// devices, so that libext2fs reads the very descriptor the program opened
// read-only (or a device held in memory), with the same checks on every
// read. Channels never write: opening one for writing is refused, and every
// write fails.
class CExtDeviceIo {
public:
    // The manager to hand to ext2fs_open2.
    static struct_io_manager* manager();
    // The name to hand to ext2fs_open2 with that manager: it stands for the
    // device, which must outlive every channel opened on it.
    static std::string nameFor(CDevice* device);
};
