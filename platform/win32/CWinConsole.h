#pragma once

#include <string>
#include <vector>

// The console of a command-line program on Windows: UTF-8 both ways.
class CWinConsole {
public:
    // The program's arguments as UTF-8, from the UTF-16 command line (the
    // argv the C runtime makes holds them in the ANSI code page, which
    // loses Chinese folder names on most systems).
    static std::vector<std::string> utf8Arguments();
    // Console output in UTF-8, and the escape sequences the progress line
    // uses understood (Windows 10 and later).
    static void useUtf8();
};
