#pragma once

#include "platform/OwnerIds.h"

#include <string>

// The person who started the program through sudo or pkexec, when it runs
// as root for someone else: what the program writes is handed to them, and
// what it opens for them is opened as them.
struct tagInvokingUser {
    uid_t uid = 0;
    gid_t gid = 0;
    std::string name; // from the password database; "" when it has no entry
};

class CInvokingUser {
public:
    // PKEXEC_UID, else SUDO_UID (with SUDO_GID), when the effective user is
    // root. The group is SUDO_GID under sudo, else the user's primary group.
    // False when not run as root, when neither is set, when the number is not
    // a number or is root's, or when no group can be found.
    static bool find(tagInvokingUser& user);
};
