#include "platform/win32/CWinConsole.h"

#include "platform/win32/CWinText.h"

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

std::vector<std::string> CWinConsole::utf8Arguments() {
    std::vector<std::string> arguments;
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (!wide)
        return arguments;
    for (int i = 0; i < count; ++i)
        arguments.push_back(CWinText::narrow(wide[i]));
    ::LocalFree(wide);
    return arguments;
}

void CWinConsole::useUtf8() {
    ::SetConsoleOutputCP(CP_UTF8);
    for (DWORD which : {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
        const HANDLE handle = ::GetStdHandle(which);
        DWORD mode = 0;
        if (handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode))
            ::SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    }
}
