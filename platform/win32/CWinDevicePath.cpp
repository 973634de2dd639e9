#include "platform/win32/CWinDevicePath.h"

#include "platform/win32/CWinText.h"

#include <cwctype>

namespace {

bool startsWith(const std::wstring& text, const wchar_t* prefix) {
    return text.rfind(prefix, 0) == 0;
}

} // namespace

std::wstring CWinDevicePath::resolve(const std::string& text, bool& device) {
    const std::wstring path = CWinText::widen(text);
    device = false;
    if ((path.size() == 2 || (path.size() == 3 && (path[2] == L'\\' || path[2] == L'/'))) &&
        std::iswalpha(path[0]) && path[1] == L':') {
        device = true;
        return L"\\\\.\\" + path.substr(0, 2);
    }
    if (startsWith(path, L"\\\\.\\") || startsWith(path, L"\\\\?\\Volume") ||
        startsWith(path, L"\\\\?\\GLOBALROOT")) {
        device = true;
        std::wstring trimmed = path;
        // A volume GUID path names the volume's root folder with its trailing
        // backslash; the device has none.
        if (trimmed.size() > 4 && trimmed.back() == L'\\')
            trimmed.pop_back();
        return trimmed;
    }
    return path;
}
