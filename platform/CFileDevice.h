#pragma once

#include "platform/CDevice.h"

#include <memory>
#include <stdexcept>
#include <string>
#include <sys/types.h>
#include <utility>

// Thrown when a source cannot be opened; what() names the source and the reason.
class CDeviceOpenError : public std::runtime_error {
public:
    CDeviceOpenError(const std::string& message, int error)
        : std::runtime_error(message), errorCode(error) {}
    int errorCode;
};

// A block device or an image file, opened read-only.
class CFileDevice : public CDevice {
public:
    static constexpr uint32_t kDefaultImageSectorSize = 512;
    // Reads from this size on go around the page cache where they can.
    static constexpr uint32_t kDirectFromBytes = 1u << 20;

    // Opens path read-only. For an image file the sector size is
    // imageSectorSize (0: 512); a block device reports its own.
    static std::shared_ptr<CFileDevice> open(const std::string& path, uint32_t imageSectorSize = 0);
#ifndef _WIN32
    // Takes over an already open read-only descriptor (for instance one that
    // udisks2 handed out), and closes it when refused; name is used in messages.
    static std::shared_ptr<CFileDevice> adopt(int fd, const std::string& name,
                                              uint32_t imageSectorSize = 0);
#endif
    // True for sector sizes the program accepts: powers of two from 512 to 65536.
    static bool isValidSectorSize(uint32_t size) {
        return size >= 512 && size <= 65536 && (size & (size - 1)) == 0;
    }

    ~CFileDevice() override;
    CFileDevice(const CFileDevice&) = delete;
    CFileDevice& operator=(const CFileDevice&) = delete;

    uint32_t sectorSize() const override {
        return sectorBytes;
    }
    uint64_t byteSize() const override {
        return sizeBytes;
    }
    bool readAt(uint64_t offset, void* buffer, uint32_t length, uint32_t& got, int& error) override;
    const std::string& path() const override {
        return name;
    }
    // Block devices only: an image file's pages are the file system's, and
    // whoever reads it next (another sweep) finds them still there.
    void releaseCache(uint64_t offset, uint64_t length) override;

    bool isBlockDevice() const {
        return blockDevice;
    }
    // The open descriptor, for probes that need one (libblkid); still owned.
    int descriptor() const {
        return fd;
    }
    // For a block device its device number, for an image file the device
    // number of the file system holding it.
    dev_t deviceNumber() const {
        return devNumber;
    }

private:
    CFileDevice(int fd, std::string name) : fd(fd), name(std::move(name)) {}
    void queryGeometry(uint32_t imageSectorSize);

    // Reads of whole aligned sectors go through a second descriptor opened
    // for direct I/O where the device allows it: large reads then reach the
    // device at its own size, with no copy through the page cache.
    void openDirect();
    // True when a read of length bytes at offset goes around the cache
    // (given a sector-aligned buffer).
    bool goesDirect(uint64_t offset, uint64_t length) const;
    bool directRead(uint64_t offset, void* buffer, uint32_t length, uint32_t& got, int& error);

    int fd = -1;
    int directFd = -1;
    std::string name;
    uint32_t sectorBytes = 0;
    uint64_t sizeBytes = 0;
    bool blockDevice = false;
    dev_t devNumber = 0;
};
