#include "platform/CInvokingUser.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace {

// A whole decimal number, nothing else.
bool parseId(const char* text, unsigned long& value) {
    if (!text || *text == '\0')
        return false;
    char* end = nullptr;
    value = std::strtoul(text, &end, 10);
    return *end == '\0';
}

} // namespace

bool CInvokingUser::find(tagInvokingUser& user) {
    if (::geteuid() != 0)
        return false;
    const char* pkexec = std::getenv("PKEXEC_UID");
    const bool sudo = !pkexec || *pkexec == '\0';
    unsigned long uid = 0;
    if (!parseId(sudo ? std::getenv("SUDO_UID") : pkexec, uid) || uid == 0)
        return false;
    const passwd* entry = ::getpwuid(uid_t(uid));
    unsigned long gid = 0;
    if (sudo && parseId(std::getenv("SUDO_GID"), gid))
        user.gid = gid_t(gid);
    else if (entry)
        user.gid = entry->pw_gid;
    else
        return false;
    user.uid = uid_t(uid);
    user.name = entry ? entry->pw_name : "";
    return true;
}
