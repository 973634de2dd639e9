#pragma once

#include <stdexcept>
#include <string>

// The failure of building a volume access over a source that cannot be
// opened or that does not hold what the access needs. what() is the
// program's fixed text; reason() says why, for the person running it.
class CVolumeOpenError : public std::runtime_error {
public:
    explicit CVolumeOpenError(std::string reason)
        : std::runtime_error("Error Creating accessing the volume"), why(std::move(reason)) {}
    const std::string& reason() const { return why; }

private:
    std::string why;
};
