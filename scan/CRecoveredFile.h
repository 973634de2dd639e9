#pragma once

#include "platform/OwnerIds.h"

#include <cstddef>
#include <string>

// One recovered file on its way into the output folder. It is written
// unnamed (O_TMPFILE) where the file system allows, else under a hidden
// ".N.jpg.partial" name, and only given its name once complete, so a file
// that fails half way never looks like a recovered photo; whatever is not
// placed is removed when the object goes. Placing never replaces a file: a
// clashing name gets a suffix ("N_1.jpg", "N_2.jpg"...), and a file already
// there with the same bytes is left alone and this one dropped. A link
// planted under either name is removed, never followed; a folder holding
// the name fails the file.
class CRecoveredFile {
public:
    enum class Placement {
        New,       // under its own name
        Renamed,   // its name was taken by another file: under a suffixed name
        Identical, // a file with the same bytes already holds the name
    };

    // Names the file; nothing is created until open.
    CRecoveredFile(int folderFd, std::string name);
    ~CRecoveredFile();
    CRecoveredFile(const CRecoveredFile&) = delete;
    CRecoveredFile& operator=(const CRecoveredFile&) = delete;

    // Each returns false with a one-line reason on failure.
    bool open(std::string& error);
    bool handTo(uid_t user, gid_t group, std::string& error);
    bool write(const unsigned char* data, size_t length, std::string& error);
    // Flushes, closes and names the file; finalName receives the name given.
    bool place(Placement& placement, std::string& finalName, std::string& error);
    // Removes what was written so far.
    void discard();
    // The open file, for setting its times before it is placed; -1 when none.
    int descriptor() const { return fd; }

    // For a signal handler ending the program at once: removes the hidden
    // file being written, if any. Async-signal-safe.
    static void removeInProgress();

    // The name with "_k" before its extension: "1992.jpg" -> "1992_1.jpg".
    static std::string suffixed(const std::string& name, int k);

private:
    // What holds a name in the folder.
    enum class Entry {
        Gone,    // nothing (any more)
        Unknown, // cannot be examined
        Link,    // a symbolic link or other reparse point
        File,    // a regular file
        Other,   // a folder, a device...
    };

    // Gives the file the name target without replacing anything; false
    // with EEXIST when the name is taken, or another errno value.
    bool link(const std::string& target, int& error);
    bool sameBytesAs(const std::string& existing);
    Entry entryAt(const std::string& entry) const;
    // Removes the link (never what it points at); true when it went.
    bool removeLink(const std::string& entry) const;
    static bool isSymlink(int folderFd, const std::string& name);

    int folder;
    std::string name;
    std::string partial; // the hidden name, "" while unnamed
    int fd = -1;
    off_t length = 0;
};
