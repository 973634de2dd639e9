#pragma once

#include "platform/CDevice.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

// A device held in memory, for the fuzz targets and the tests. Beyond its
// bytes and up to its stated size it reads as zeros, so a small buffer can
// stand for a large volume. Every read is recorded.
class CMemoryImageDevice : public CDevice {
public:
    struct tagRead {
        uint64_t offset;
        uint32_t length;
    };

    explicit CMemoryImageDevice(std::vector<unsigned char> bytes, uint64_t size = 0,
                                uint32_t sectorBytes = 512)
        : data(std::move(bytes)), size(std::max<uint64_t>(size, data.size())),
          sectorBytes(sectorBytes) {}

    uint32_t sectorSize() const override { return sectorBytes; }
    uint64_t byteSize() const override { return size; }
    bool readAt(uint64_t offset, void* buffer, uint32_t length, uint32_t& got,
                int& error) override {
        reads.push_back({offset, length});
        got = 0;
        error = 0;
        if (offset >= size)
            return true;
        got = static_cast<uint32_t>(std::min<uint64_t>(length, size - offset));
        auto* out = static_cast<unsigned char*>(buffer);
        uint64_t inData = offset < data.size() ? std::min<uint64_t>(got, data.size() - offset) : 0;
        if (inData)
            std::memcpy(out, data.data() + offset, inData);
        std::memset(out + inData, 0, got - inData);
        return true;
    }
    const std::string& path() const override { return name; }

    std::vector<unsigned char>& bytes() { return data; }
    std::vector<tagRead> reads;

private:
    std::vector<unsigned char> data;
    uint64_t size;
    uint32_t sectorBytes;
    std::string name = "memory";
};
