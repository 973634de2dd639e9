#pragma once

#include <string>

// When the program was started as root through pkexec or sudo, the folder
// of recovered photos is opened as the person who started it, not as root.
// (The photos themselves are handed over as they are written: see
// CScanner::handFilesToInvokingUser.)
class CRootHandOver {
public:
    // Opens folder in the user's file manager as that user; false when the
    // program does not run as root for someone else.
    static bool openFolderAsUser(const std::string& folder);
};
