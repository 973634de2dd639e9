#include "privilege/CPkexecOpener.h"

#include "privilege/CFdPassing.h"

#include <QCoreApplication>
#include <QStandardPaths>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

#ifndef VALLORA_HELPER_PATH
#define VALLORA_HELPER_PATH "/usr/libexec/vallora/vallora-open-device"
#endif

std::string CPkexecOpener::helperPath() {
    if (::access(VALLORA_HELPER_PATH, X_OK) == 0)
        return VALLORA_HELPER_PATH;
    const QString local = QCoreApplication::applicationDirPath() + "/vallora-open-device";
    if (::access(local.toLocal8Bit().constData(), X_OK) == 0)
        return local.toStdString();
    return {};
}

bool CPkexecOpener::available() {
    return !QStandardPaths::findExecutable("pkexec").isEmpty() && !helperPath().empty();
}

int CPkexecOpener::open(const std::string& devicePath, const std::atomic<bool>& stop,
                        std::string& error) {
    const QString pkexec = QStandardPaths::findExecutable("pkexec");
    const std::string helper = helperPath();
    if (pkexec.isEmpty() || helper.empty()) {
        error = "pkexec or vallora-open-device is missing";
        return -1;
    }
    return runHelper(pkexec.toStdString(), helper, devicePath, stop, error);
}

int CPkexecOpener::runHelper(const std::string& launcher, const std::string& helper,
                             const std::string& devicePath, const std::atomic<bool>& stop,
                             std::string& error) {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        error = std::string("socketpair: ") + std::strerror(errno);
        return -1;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // dup2 clears close-on-exec on the child's standard output.
    posix_spawn_file_actions_adddup2(&actions, pair[1], STDOUT_FILENO);

    std::vector<std::string> words;
    if (!launcher.empty())
        words.push_back(launcher);
    words.push_back(helper);
    words.push_back(devicePath);
    std::vector<char*> argv;
    for (auto& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    pid_t child = -1;
    const int spawned = ::posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pair[1]);
    if (spawned != 0) {
        ::close(pair[0]);
        error = words[0] + ": " + std::strerror(spawned);
        return -1;
    }

    // The password prompt may take a while; look at the stop flag meanwhile.
    int fd = -1;
    for (;;) {
        fd = CFdPassing::receiveFd(pair[0], 100);
        if (fd >= 0 || errno != ETIMEDOUT)
            break;
        if (stop.load()) {
            ::kill(child, SIGTERM);
            break;
        }
    }
    const int receiveError = errno;
    ::close(pair[0]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (fd < 0) {
        if (stop.load())
            error = "cancelled";
        else if (WIFEXITED(status) && WEXITSTATUS(status) != 0)
            error = "the helper failed (status " + std::to_string(WEXITSTATUS(status)) + ")";
        else
            error = std::string("no descriptor received: ") + std::strerror(receiveError);
    }
    return fd;
}
