// The Windows side of CRecoveredFile: the file is created new (CREATE_NEW)
// under its hidden ".N.jpg.partial" name in the open output folder and
// moved to its name with MoveFileExW, which never replaces a file.
#include "scan/CRecoveredFile.h"

#include "platform/win32/CWinText.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <cwchar>
#include <fcntl.h>
#include <io.h>
#include <vector>
#include <windows.h>

namespace {

std::string reasonFor(const char* what, DWORD error) {
    return std::string(what) + ": " + CWinText::errorText(error);
}

HANDLE handleOf(int fd) {
    return reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
}

// The folder open as folderFd, by the path it has now.
std::wstring folderPath(int folderFd) {
    const HANDLE folder = handleOf(folderFd);
    if (folder == INVALID_HANDLE_VALUE)
        return std::wstring();
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        const DWORD length = ::GetFinalPathNameByHandleW(folder, path.data(), DWORD(path.size()),
                                                         FILE_NAME_NORMALIZED);
        if (length == 0)
            return std::wstring();
        if (length < path.size())
            return std::wstring(path.data(), length);
        path.resize(length + 1);
    }
}

bool readAll(HANDLE handle, uint64_t offset, unsigned char* data, size_t length) {
    while (length > 0) {
        OVERLAPPED at{};
        at.Offset = DWORD(offset);
        at.OffsetHigh = DWORD(offset >> 32);
        DWORD n = 0;
        if (!::ReadFile(handle, data, DWORD(length), &n, &at) || n == 0)
            return false;
        data += n;
        offset += n;
        length -= n;
    }
    return true;
}

// The hidden file being written, for removeInProgress.
std::atomic<bool> inProgressSet{false};
wchar_t inProgressPath[32768];

void registerInProgress(const std::wstring& path) {
    inProgressSet.store(false);
    if (path.size() >= sizeof inProgressPath / sizeof inProgressPath[0])
        return;
    std::wmemcpy(inProgressPath, path.c_str(), path.size() + 1);
    inProgressSet.store(true);
}

// Removes a link (a reparse point) planted under path, never what it
// points at; true when there was one.
bool removeLinkAt(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return false;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? ::RemoveDirectoryW(path.c_str())
                                                   : ::DeleteFileW(path.c_str());
}

} // namespace

void CRecoveredFile::removeInProgress() {
    if (inProgressSet.exchange(false))
        ::DeleteFileW(inProgressPath);
}

void CRecoveredFile::discard() {
    if (fd >= 0) {
        ::_close(fd);
        fd = -1;
    }
    if (!partial.empty()) {
        inProgressSet.store(false);
        ::DeleteFileW((folderPath(folder) + L"\\" + CWinText::widen(partial)).c_str());
        partial.clear();
    }
}

bool CRecoveredFile::open(std::string& error) {
    const std::wstring base = folderPath(folder);
    if (base.empty()) {
        error = reasonFor("cannot use the output folder", ::GetLastError());
        return false;
    }
    const std::string hidden = "." + name + ".partial";
    removeLinkAt(base + L"\\" + CWinText::widen(hidden));
    // CREATE_NEW makes a new file or fails: no file or link planted under
    // the name is opened. Shared for deleting, so the file can be moved to
    // its name while open.
    auto create = [&](const std::string& entry) {
        return ::CreateFileW((base + L"\\" + CWinText::widen(entry)).c_str(),
                             GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                             nullptr, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr);
    };
    partial = hidden;
    HANDLE handle = create(partial);
    if (handle == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_FILE_EXISTS) {
        // Another run's file in progress: this run takes its own name.
        partial = "." + name + "." + std::to_string(::GetCurrentProcessId()) + ".partial";
        handle = create(partial);
        if (handle == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_FILE_EXISTS) {
            ::DeleteFileW((base + L"\\" + CWinText::widen(partial)).c_str());
            handle = create(partial);
        }
    }
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD saved = ::GetLastError();
        partial.clear();
        error = reasonFor("cannot create", saved);
        return false;
    }
    fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDWR | _O_BINARY);
    if (fd < 0) {
        ::CloseHandle(handle);
        ::DeleteFileW((base + L"\\" + CWinText::widen(partial)).c_str());
        partial.clear();
        error = "cannot create: too many open files";
        return false;
    }
    registerInProgress(base + L"\\" + CWinText::widen(partial));
    return true;
}

bool CRecoveredFile::handTo(uid_t, gid_t, std::string&) {
    return true; // files belong to whoever runs the program
}

bool CRecoveredFile::write(const unsigned char* data, size_t size, std::string& error) {
    const HANDLE handle = handleOf(fd);
    while (size > 0) {
        DWORD n = 0;
        const DWORD piece = DWORD(std::min<size_t>(size, 1u << 30));
        if (!::WriteFile(handle, data, piece, &n, nullptr) || n == 0) {
            error = reasonFor("cannot write", ::GetLastError());
            return false;
        }
        data += n;
        size -= n;
        length += n;
    }
    return true;
}

bool CRecoveredFile::isSymlink(int folderFd, const std::string& entry) {
    const DWORD attributes =
        ::GetFileAttributesW((folderPath(folderFd) + L"\\" + CWinText::widen(entry)).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool CRecoveredFile::sameBytesAs(const std::string& existing) {
    const std::wstring path = folderPath(folder) + L"\\" + CWinText::widen(existing);
    HANDLE other = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (other == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER size{};
    bool same = ::GetFileSizeEx(other, &size) && uint64_t(size.QuadPart) == uint64_t(length);
    std::vector<unsigned char> mine(1 << 16), theirs(1 << 16);
    for (uint64_t at = 0; same && at < uint64_t(length); at += mine.size()) {
        const size_t piece = size_t(std::min<uint64_t>(mine.size(), uint64_t(length) - at));
        same = readAll(handleOf(fd), at, mine.data(), piece) &&
               readAll(other, at, theirs.data(), piece) &&
               std::memcmp(mine.data(), theirs.data(), piece) == 0;
    }
    ::CloseHandle(other);
    return same;
}

bool CRecoveredFile::link(const std::string& target, int& error) {
    const std::wstring base = folderPath(folder);
    const std::wstring from = base + L"\\" + CWinText::widen(partial);
    const std::wstring to = base + L"\\" + CWinText::widen(target);
    // No MOVEFILE_REPLACE_EXISTING: a name taken stays with its file.
    if (::MoveFileExW(from.c_str(), to.c_str(), 0)) {
        inProgressSet.store(false);
        partial.clear();
        ::SetFileAttributesW(to.c_str(), FILE_ATTRIBUTE_NORMAL);
        return true;
    }
    const DWORD failure = ::GetLastError();
    error = failure == ERROR_ALREADY_EXISTS || failure == ERROR_FILE_EXISTS
                ? EEXIST
                : CWinText::toErrno(failure);
    return false;
}

CRecoveredFile::Entry CRecoveredFile::entryAt(const std::string& entry) const {
    const DWORD attributes =
        ::GetFileAttributesW((folderPath(folder) + L"\\" + CWinText::widen(entry)).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Entry::Gone
                                                                              : Entry::Unknown;
    }
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return Entry::Link;
    return (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) ? Entry::Other
                                                                             : Entry::File;
}

bool CRecoveredFile::removeLink(const std::string& entry) const {
    return removeLinkAt(folderPath(folder) + L"\\" + CWinText::widen(entry));
}
