#include "platform/CFolderDescriptor.h"

#include "platform/win32/CWinText.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

int CFolderDescriptor::open(const std::string& path, std::string& error) {
    // Shared for reading and writing but not for deleting: the folder can
    // be neither removed nor renamed while it is open.
    HANDLE handle = ::CreateFileW(CWinText::widen(path).c_str(), FILE_LIST_DIRECTORY,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = CWinText::errorText(::GetLastError());
        return -1;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(handle, &info) ||
        !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        ::CloseHandle(handle);
        error = "not a folder";
        return -1;
    }
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY);
    if (fd < 0) {
        ::CloseHandle(handle);
        error = "too many open files";
    }
    return fd;
}

void CFolderDescriptor::close(int fd) {
    if (fd >= 0)
        ::_close(fd);
}
