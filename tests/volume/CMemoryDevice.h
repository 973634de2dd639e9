#pragma once

#include "platform/CDevice.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <utility>
#include <vector>

// A device held in memory that records every read and can be told to fail
// the reads that reach a given offset.
class CMemoryDevice : public CDevice {
public:
    CMemoryDevice(std::vector<unsigned char> content, uint32_t sector = 512)
        : bytes(std::move(content)), sector(sector) {}

    uint32_t sectorSize() const override { return sector; }
    uint64_t byteSize() const override { return bytes.size(); }
    bool readAt(uint64_t offset, void* buffer, uint32_t length, uint32_t& got,
                int& error) override {
        reads.emplace_back(offset, length);
        got = 0;
        error = 0;
        if (offset + length > failFrom) {
            error = failError;
            return false;
        }
        if (offset < bytes.size()) {
            got = static_cast<uint32_t>(std::min<uint64_t>(length, bytes.size() - offset));
            std::memcpy(buffer, bytes.data() + offset, got);
        }
        return true;
    }
    const std::string& path() const override { return name; }

    std::vector<unsigned char> bytes;
    uint32_t sector;
    std::string name = "memory";
    // Reads that reach past this offset fail with failError.
    uint64_t failFrom = std::numeric_limits<uint64_t>::max();
    int failError = 5;
    std::vector<std::pair<uint64_t, uint32_t>> reads; // offset, length
};
