#pragma once

#include <QString>

#include <string>

// The scan engine writes its labels, captions and summary as Chinese UTF-8
// texts made from printf patterns. This turns such a text into the user's
// language: the pattern it was made from is recognised, its translation
// looked up, and the numbers put back in. A text made from no known pattern
// is shown as it is.
class CEngineText {
public:
    static QString translate(const std::string& text);
};
