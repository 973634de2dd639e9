#include "platform/CFolderDescriptor.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

int CFolderDescriptor::open(const std::string& path, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        error = std::strerror(errno);
    return fd;
}

void CFolderDescriptor::close(int fd) {
    if (fd >= 0)
        ::close(fd);
}
