#pragma once

#include <string>

// A folder opened for writing files into it by name, as a descriptor: on
// Linux a read-only directory descriptor (close-on-exec), on Windows a C
// runtime descriptor over a directory handle that keeps the folder from
// being renamed or removed while it is open.
class CFolderDescriptor {
public:
    // The open folder, or -1 with the reason in error.
    static int open(const std::string& path, std::string& error);
    static void close(int fd);
};
