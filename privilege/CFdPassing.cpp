#include "privilege/CFdPassing.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

bool CFdPassing::sendFd(int socket, int fd) {
    char byte = 'F';
    iovec io{&byte, 1};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
    std::memset(control, 0, sizeof control);
    msghdr msg{};
    msg.msg_iov = &io;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    cmsghdr* header = CMSG_FIRSTHDR(&msg);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(header), &fd, sizeof(int));
    for (;;) {
        const ssize_t sent = ::sendmsg(socket, &msg, MSG_NOSIGNAL);
        if (sent == 1)
            return true;
        if (sent < 0 && errno == EINTR)
            continue;
        return false;
    }
}

int CFdPassing::receiveFd(int socket, int timeoutMs) {
    pollfd waitFor{socket, POLLIN, 0};
    int ready;
    do {
        ready = ::poll(&waitFor, 1, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    if (ready == 0) {
        errno = ETIMEDOUT;
        return -1;
    }
    if (ready < 0)
        return -1;

    char byte = 0;
    iovec io{&byte, 1};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * 4)];
    msghdr msg{};
    msg.msg_iov = &io;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    ssize_t got;
    do {
        got = ::recvmsg(socket, &msg, MSG_CMSG_CLOEXEC);
    } while (got < 0 && errno == EINTR);
    if (got < 0)
        return -1;

    int received = -1;
    for (cmsghdr* header = CMSG_FIRSTHDR(&msg); header; header = CMSG_NXTHDR(&msg, header)) {
        if (header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS)
            continue;
        const size_t count = (header->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (size_t i = 0; i < count; ++i) {
            int fd;
            std::memcpy(&fd, CMSG_DATA(header) + i * sizeof(int), sizeof(int));
            if (received < 0)
                received = fd;
            else
                ::close(fd); // only one was asked for
        }
    }
    if (received < 0)
        errno = got == 0 ? ENODATA : EPROTO;
    if (msg.msg_flags & MSG_CTRUNC) {
        if (received >= 0)
            ::close(received);
        errno = EPROTO;
        return -1;
    }
    return received;
}
