#pragma once

#include <atomic>
#include <cstdint>
#include <string>

// A volume source opened read-only: a block device or a disk image file.
// Reads are positioned (pread), so several readers may share one device
// without a shared file position.
class CDevice {
public:
    virtual ~CDevice() = default;

    // Bytes per sector: the device's logical sector size, or the size given
    // for an image file.
    virtual uint32_t sectorSize() const = 0;
    // Size of the device in bytes.
    virtual uint64_t byteSize() const = 0;
    // Reads up to length bytes at offset. got receives the bytes delivered,
    // which is less than length only at the end of the device. On failure
    // returns false and error holds the system error code (errno).
    virtual bool readAt(uint64_t offset, void* buffer, uint32_t length, uint32_t& got,
                        int& error) = 0;
    // The name the device was opened by, for messages.
    virtual const std::string& path() const = 0;
    // The bytes at offset were read and are not needed again soon: a device
    // may let the system drop them from its cache, so that sweeping a large
    // disk does not push everything else out of memory.
    virtual void releaseCache(uint64_t /*offset*/, uint64_t /*length*/) {}

    // True once a read has shown that the device is gone (unplugged, medium
    // removed, shrunk under the reader): no later read can succeed.
    bool isLost() const { return lost.load(); }
    void markLost() { lost.store(true); }

    // True for the errors of a device that is no longer there.
    static bool isLossError(int error);

    // Runs of failing reads: a failure is reported once per run of
    // consecutive failures with the same error, not once per read.
    // noteReadFailure returns true when this failure starts a new run.
    bool noteReadFailure(int error) {
        const bool starts = !failing || error != failingError;
        failing = true;
        failingError = error;
        return starts;
    }
    void noteReadSuccess() { failing = false; }

private:
    // Read and set by the sweep and by the decode worker of the thorough mode.
    std::atomic<bool> lost{false};
    std::atomic<bool> failing{false};
    std::atomic<int> failingError{0};
};
