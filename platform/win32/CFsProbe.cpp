// The Windows side of CFsProbe: there is no libblkid, so the file system is
// named from the volume's first bytes (CBootSectorProbe).
#include "platform/CFsProbe.h"

#include "platform/CBootSectorProbe.h"
#include "platform/CFileDevice.h"

#include <io.h>
#include <malloc.h>
#include <windows.h>

std::string CFsProbe::probePath(const std::string& path) {
    try {
        const auto device = CFileDevice::open(path);
        return probeDescriptor(device->descriptor());
    } catch (const CDeviceOpenError&) {
        return "";
    }
}

std::string CFsProbe::probeDescriptor(int fd) {
    const HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
    if (handle == INVALID_HANDLE_VALUE)
        return "";
    // Raw devices read whole, aligned sectors: a block as large as the
    // largest sector, or smaller for a device shorter than that.
    constexpr DWORD kLargestSector = 65536;
    auto* block = static_cast<unsigned char*>(::_aligned_malloc(kLargestSector, kLargestSector));
    if (!block)
        return "";
    std::string name;
    for (DWORD length = kLargestSector; length >= 512; length /= 2) {
        OVERLAPPED at{};
        DWORD got = 0;
        if (::ReadFile(handle, block, length, &got, &at)) {
            name = CBootSectorProbe::name(block, got);
            break;
        }
    }
    ::_aligned_free(block);
    return name;
}

// Sweeps are not resumed on Windows: nothing asks for the serial there.
std::string CFsProbe::volumeSerial(int /*fd*/) {
    return "";
}
