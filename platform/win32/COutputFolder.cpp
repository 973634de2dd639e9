// The Windows side of the output-folder rule: the folder is opened once (and
// cannot be renamed or removed while open); a folder on a volume that lies
// on a disk of the scanned device is refused, found through
// GetVolumePathNameW and the disks the volume's extents name.
#include "platform/COutputFolder.h"

#include "platform/CFolderDescriptor.h"
#include "platform/win32/CHandleIoctl.h"
#include "platform/win32/CWinDiskQuery.h"
#include "platform/win32/CWinText.h"

#include <io.h>
#include <vector>
#include <windows.h>

namespace {

// The disks under the volume that holds path; false with the reason.
bool disksUnder(const std::string& path, std::set<uint32_t>& disks, std::string& reason) {
    const std::wstring wide = CWinText::widen(path);
    std::vector<wchar_t> mount(wide.size() + MAX_PATH + 1);
    if (!::GetVolumePathNameW(wide.c_str(), mount.data(), DWORD(mount.size()))) {
        reason = "its volume cannot be found: " + CWinText::errorText(::GetLastError());
        return false;
    }
    wchar_t volume[MAX_PATH + 1] = {};
    if (!::GetVolumeNameForVolumeMountPointW(mount.data(), volume, MAX_PATH)) {
        reason = "it is not on a local volume (" + CWinText::narrow(mount.data()) + ")";
        return false;
    }
    std::wstring device = volume;
    if (!device.empty() && device.back() == L'\\')
        device.pop_back();
    // No access asked for: the control requests that name the disks need none.
    HANDLE handle = ::CreateFileW(device.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        reason = "its volume cannot be examined: " + CWinText::errorText(::GetLastError());
        return false;
    }
    CHandleIoctl channel(handle);
    const bool found = CWinDiskQuery::disks(channel, disks);
    ::CloseHandle(handle);
    if (!found)
        reason = "its volume names no disk";
    return found;
}

} // namespace

// A device names its disks (all of them, for a volume spanning several);
// an image file is a file whatever its handle answers.
bool tagScannedSource::ofDevice(const CFileDevice& device, tagScannedSource& source) {
    source = tagScannedSource();
    if (!device.isBlockDevice())
        return true;
    const HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(device.descriptor()));
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    CHandleIoctl channel(handle);
    source.blockDevice = true;
    // A device whose disks cannot be told leaves every folder undetermined.
    CWinDiskQuery::disks(channel, source.disks);
    return true;
}

bool tagScannedSource::ofPath(const std::string& path, tagScannedSource& source) {
    try {
        return ofDevice(*CFileDevice::open(path), source);
    } catch (const CDeviceOpenError&) {
        return false;
    }
}

COutputFolder::COutputFolder(const std::string& path, const tagScannedSource& source)
    : folder(path) {
    check(source);
}

COutputFolder::~COutputFolder() {
    CFolderDescriptor::close(fd);
}

void COutputFolder::refuse(Verdict verdict, const std::string& reason) {
    result = verdict;
    why = "output folder " + folder + reason;
}

void COutputFolder::check(const tagScannedSource& source) {
    std::string error;
    fd = CFolderDescriptor::open(folder, error);
    if (fd < 0) {
        refuse(Verdict::Refused, error == "not a folder" ? " is not a folder" : ": " + error);
        return;
    }
    DWORD flags = 0;
    if (::GetVolumeInformationByHandleW(reinterpret_cast<HANDLE>(::_get_osfhandle(fd)), nullptr, 0,
                                        nullptr, nullptr, &flags, nullptr, 0) &&
        (flags & FILE_READ_ONLY_VOLUME)) {
        refuse(Verdict::Refused, " is on a read-only file system");
        return;
    }
    if (!source.blockDevice) {
        result = Verdict::Accepted;
        return;
    }
    std::set<uint32_t> disks;
    std::string reason = "the scanned device names no disk";
    if (source.disks.empty() || !disksUnder(folder, disks, reason)) {
        refuse(Verdict::Undetermined,
               ": cannot tell whether it lies on the data being scanned: " + reason);
        return;
    }
    for (uint32_t disk : disks) {
        if (source.disks.count(disk)) {
            overlapsScanned = true;
            refuse(Verdict::Refused,
                   " is on the disk being scanned; writing there would overwrite the photos "
                   "being recovered. Choose a folder on another disk");
            return;
        }
    }
    result = Verdict::Accepted;
}
