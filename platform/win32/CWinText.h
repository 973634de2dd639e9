#pragma once

#include <string>

// Text at the edge of the Win32 API: the program keeps UTF-8 inside and
// talks UTF-16 to Windows.
class CWinText {
public:
    static std::wstring widen(const std::string& utf8);
    static std::string narrow(const std::wstring& utf16);
    static std::string narrow(const wchar_t* utf16);
    // The system's one-line description of a Win32 error code.
    static std::string errorText(unsigned long error);
    // The C library's errno value closest to a Win32 error code, so that the
    // engine's messages and its test for a lost device work the same on both
    // systems.
    static int toErrno(unsigned long error);
};
