// The Windows side of CHugePageBuffer: committed memory from VirtualAlloc
// (zeroed, page aligned). Large pages need a privilege users rarely hold,
// so ordinary pages are used.
#include "platform/CHugePageBuffer.h"

#include <new>
#include <windows.h>

CHugePageBuffer::CHugePageBuffer(size_t bytes) : length(bytes) {
    void* area =
        ::VirtualAlloc(nullptr, bytes ? bytes : 1, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (!area)
        throw std::bad_alloc();
    block = static_cast<unsigned char*>(area);
    mapped = bytes;
}

CHugePageBuffer::~CHugePageBuffer() {
    if (block)
        ::VirtualFree(block, 0, MEM_RELEASE);
}
