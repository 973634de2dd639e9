#include "app/CRootHandOver.h"

#include <QProcess>
#include <QStandardPaths>

#include <cctype>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool recoveredName(const char* name) {
    const char* p = name;
    if (!std::isdigit(static_cast<unsigned char>(*p)))
        return false;
    while (std::isdigit(static_cast<unsigned char>(*p)))
        ++p;
    return std::string(p) == ".jpg";
}

} // namespace

bool CRootHandOver::invokingUser(tagUser& user) {
    if (::geteuid() != 0)
        return false;
    const char* text = std::getenv("PKEXEC_UID");
    if (!text || !*text)
        text = std::getenv("SUDO_UID");
    if (!text || !*text)
        return false;
    char* end = nullptr;
    const unsigned long uid = std::strtoul(text, &end, 10);
    if (*end != '\0' || uid == 0)
        return false;
    const passwd* entry = ::getpwuid(uid_t(uid));
    if (!entry)
        return false;
    user.uid = entry->pw_uid;
    user.gid = entry->pw_gid;
    user.name = entry->pw_name;
    return true;
}

int CRootHandOver::giveBack(const std::string& folder, time_t since, const tagUser& user) {
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return 0;
    DIR* dir = ::fdopendir(dirFd);
    if (!dir) {
        ::close(dirFd);
        return 0;
    }
    int given = 0;
    while (const dirent* item = ::readdir(dir)) {
        if (!recoveredName(item->d_name))
            continue;
        struct stat st {};
        if (::fstatat(dirFd, item->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
            st.st_uid != 0 || st.st_ctime < since)
            continue;
        if (::fchownat(dirFd, item->d_name, user.uid, user.gid, AT_SYMLINK_NOFOLLOW) == 0)
            ++given;
    }
    ::closedir(dir);
    return given;
}

bool CRootHandOver::openFolderAsUser(const std::string& folder) {
    tagUser user;
    if (!invokingUser(user))
        return false;
    const QString runuser = QStandardPaths::findExecutable("runuser");
    if (runuser.isEmpty())
        return true; // never open a file manager as root
    QProcess::startDetached(runuser, {"-u", QString::fromStdString(user.name), "--", "xdg-open",
                                      QString::fromStdString(folder)});
    return true;
}
