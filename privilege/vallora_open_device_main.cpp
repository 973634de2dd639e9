// vallora-open-device DEVICE
//
// Started by the desktop program through pkexec when udisks2 is not there.
// Opens one block device read-only and passes the descriptor back over
// standard output, which must be a Unix socket. It opens nothing but block
// devices under /dev, so it cannot be used to read other files as root.
#include "privilege/CFdPassing.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: vallora-open-device /dev/DEVICE\n");
        return 2;
    }
    const std::string path = argv[1];
    if (path.rfind("/dev/", 0) != 0 || path.find("/../") != std::string::npos) {
        std::fprintf(stderr, "vallora-open-device: %s is not a device path\n", path.c_str());
        return 2;
    }
    struct stat out {};
    if (::fstat(STDOUT_FILENO, &out) != 0 || !S_ISSOCK(out.st_mode)) {
        std::fprintf(stderr, "vallora-open-device: standard output must be a socket\n");
        return 2;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        std::fprintf(stderr, "vallora-open-device: %s: %s\n", path.c_str(), std::strerror(errno));
        return 1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISBLK(st.st_mode)) {
        std::fprintf(stderr, "vallora-open-device: %s is not a block device\n", path.c_str());
        ::close(fd);
        return 1;
    }
    if (!CFdPassing::sendFd(STDOUT_FILENO, fd)) {
        std::fprintf(stderr, "vallora-open-device: cannot pass the device: %s\n",
                     std::strerror(errno));
        ::close(fd);
        return 1;
    }
    ::close(fd);
    return 0;
}
