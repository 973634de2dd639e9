#include "volume/COpenFailureText.h"

std::string COpenFailureText::cannotOpen(const std::string& reason) {
    return "cannot open the source " + reason;
}

std::string COpenFailureText::cannotRead(const std::string& source, CVolumeOpener::Kind kind,
                                         const std::string& reason) {
    const bool raw = kind == CVolumeOpener::Kind::Raw;
    return "cannot read " + source +
           (raw ? "" : std::string(" as ") + CVolumeOpener::kindText(kind)) + ": " + reason;
}
