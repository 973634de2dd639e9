#pragma once

#include <cstddef>

// One large zeroed block backed by huge pages where the system offers them
// (the scanner's read buffer, a FAT held in memory): filling tens of
// megabytes costs few page faults and few TLB misses.
class CHugePageBuffer {
public:
    explicit CHugePageBuffer(size_t bytes);
    ~CHugePageBuffer();
    CHugePageBuffer(const CHugePageBuffer&) = delete;
    CHugePageBuffer& operator=(const CHugePageBuffer&) = delete;

    unsigned char* data() { return block; }
    size_t size() const { return length; }

private:
    unsigned char* block = nullptr;
    size_t length = 0;
    size_t mapped = 0;
};
