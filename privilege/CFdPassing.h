#pragma once

// Passing an open descriptor over a Unix socket (SCM_RIGHTS), between the
// program and its root helper.
class CFdPassing {
public:
    // Sends fd with one byte of payload; false with errno set on failure.
    static bool sendFd(int socket, int fd);
    // Receives one descriptor, waiting at most timeoutMs (-1: no limit).
    // Returns it (close-on-exec set) or -1: errno ETIMEDOUT on time-out,
    // ENODATA when the peer closed without sending one.
    static int receiveFd(int socket, int timeoutMs);
};
