#pragma once

#include <cstddef>

// The scanner's read buffer: one large block, zeroed, backed by huge pages
// where the system offers them, so that reading runs of tens of megabytes
// into it costs few page faults and few TLB misses.
class CSweepBuffer {
public:
    explicit CSweepBuffer(size_t bytes);
    ~CSweepBuffer();
    CSweepBuffer(const CSweepBuffer&) = delete;
    CSweepBuffer& operator=(const CSweepBuffer&) = delete;

    unsigned char* data() { return block; }
    size_t size() const { return length; }

private:
    unsigned char* block = nullptr;
    size_t length = 0;
    size_t mapped = 0;
};
