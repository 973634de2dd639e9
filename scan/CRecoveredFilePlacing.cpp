// What a recovered file does the same on every system. Placing it under
// its name: the name, else the first free suffixed name; a link planted
// under a name is removed and the name tried again; a file with the same
// bytes stands for this one.
#include "scan/CRecoveredFile.h"

#include <cerrno>
#include <cstring>

namespace {

// Suffixed names tried before giving up on a clash.
constexpr int kMaxSuffix = 9999;
// Times one name is tried again after what held it went away.
constexpr int kMaxRetries = 8;

} // namespace

CRecoveredFile::CRecoveredFile(int folderFd, std::string fileName)
    : folder(folderFd), name(std::move(fileName)) {}

CRecoveredFile::~CRecoveredFile() {
    discard();
}

std::string CRecoveredFile::suffixed(const std::string& name, int k) {
    const size_t dot = name.rfind('.');
    const std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
    const std::string extension = dot == std::string::npos ? "" : name.substr(dot);
    return stem + "_" + std::to_string(k) + extension;
}

bool CRecoveredFile::place(Placement& placement, std::string& finalName, std::string& error) {
    int retries = 0;
    for (int k = 0; k <= kMaxSuffix; ++k) {
        const std::string target = k == 0 ? name : suffixed(name, k);
        int failure = 0;
        if (link(target, failure)) {
            placement = k == 0 ? Placement::New : Placement::Renamed;
            finalName = target;
            discard();
            return true;
        }
        if (failure != EEXIST) {
            error = std::string("cannot create: ") + std::strerror(failure);
            return false;
        }
        switch (entryAt(target)) {
        case Entry::Gone:
            if (retries++ < kMaxRetries)
                --k; // gone again meanwhile: the name is tried once more
            continue;
        case Entry::Unknown:
            continue;
        case Entry::Link:
            // A link planted under the name holds no photo: it is removed
            // (the link itself, never what it points at), the name tried again.
            if (removeLink(target) && retries++ < kMaxRetries)
                --k;
            continue;
        case Entry::Other:
            // A folder (or another kind of entry) under the photo's name:
            // this photo is reported, not hidden under another name.
            error = "cannot create: " + target + " exists and is not a file";
            return false;
        case Entry::File:
            break;
        }
        if (sameBytesAs(target)) {
            placement = Placement::Identical;
            finalName = target;
            discard();
            return true;
        }
    }
    error = "cannot create: every name from " + name + " to " + suffixed(name, kMaxSuffix) +
            " is taken";
    return false;
}
