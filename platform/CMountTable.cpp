#include "platform/CMountTable.h"

#include <fstream>
#include <sstream>
#include <sys/sysmacros.h>

namespace {

// mountinfo writes space, tab, newline and backslash in paths as \ooo.
std::string unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size()) {
            const std::string digits = text.substr(i + 1, 3);
            if (digits.find_first_not_of("01234567") == std::string::npos) {
                out += char(std::stoi(digits, nullptr, 8));
                i += 3;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

} // namespace

std::string tagMountEntry::option(const std::string& name) const {
    // Options are comma-separated; the kernel writes a comma inside a value
    // as \054, so a plain split finds the options.
    std::stringstream list(options);
    std::string item;
    while (std::getline(list, item, ',')) {
        if (item.rfind(name + "=", 0) == 0)
            return unescape(item.substr(name.size() + 1));
    }
    return "";
}

CMountTable::CMountTable(const std::string& mountInfoPath) {
    std::ifstream in(mountInfoPath);
    std::string line;
    while (std::getline(in, line)) {
        tagMountEntry entry;
        if (parseLine(line, entry))
            mounts.push_back(std::move(entry));
    }
}

bool CMountTable::parseLine(const std::string& line, tagMountEntry& entry) {
    // id parent major:minor root mount-point options [optional...] - type source super-options
    std::istringstream fields(line);
    std::string id, parent, numbers, root, mountPoint, options;
    if (!(fields >> id >> parent >> numbers >> root >> mountPoint >> options))
        return false;
    std::string word;
    bool separated = false;
    while (fields >> word) {
        if (word == "-") {
            separated = true;
            break;
        }
    }
    std::string type, source, superOptions;
    if (!separated || !(fields >> type >> source))
        return false;
    fields >> superOptions;
    unsigned major = 0, minor = 0;
    char colon = 0;
    std::istringstream pair(numbers);
    if (!(pair >> major >> colon >> minor) || colon != ':')
        return false;
    entry.device = makedev(major, minor);
    entry.mountPoint = unescape(mountPoint);
    entry.type = type;
    entry.source = unescape(source);
    entry.options = superOptions;
    return true;
}

std::vector<tagMountEntry> CMountTable::mountsOf(dev_t device) const {
    std::vector<tagMountEntry> found;
    for (const auto& entry : mounts)
        if (entry.device == device)
            found.push_back(entry);
    return found;
}
