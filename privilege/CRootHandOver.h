#pragma once

#include <ctime>
#include <string>
#include <sys/types.h>

// When the program was started as root through pkexec or sudo, the photos it
// recovers are handed to the person who started it, and their folder is
// opened as that person, not as root.
class CRootHandOver {
public:
    struct tagUser {
        uid_t uid = 0;
        gid_t gid = 0;
        std::string name;
    };
    // The person behind PKEXEC_UID or SUDO_UID, when running as root.
    static bool invokingUser(tagUser& user);
    // Gives the recovered files in folder ("<number>.jpg", owned by root,
    // changed at or after since) to user. Returns how many were given.
    static int giveBack(const std::string& folder, time_t since, const tagUser& user);
    // Opens folder in the user's file manager as that user; false when the
    // program does not run as root for someone else.
    static bool openFolderAsUser(const std::string& folder);
};
