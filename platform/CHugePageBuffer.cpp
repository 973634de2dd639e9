#include "platform/CHugePageBuffer.h"

#include <new>
#include <sys/mman.h>

namespace {
constexpr size_t kHugePage = size_t(2) << 20;
}

CHugePageBuffer::CHugePageBuffer(size_t bytes) : length(bytes) {
    // Anonymous memory comes zeroed. Map a little more so that the block can
    // start on a huge page boundary.
    mapped = (bytes + kHugePage - 1) / kHugePage * kHugePage + kHugePage;
    void* area =
        ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (area == MAP_FAILED)
        throw std::bad_alloc();
    auto* base = static_cast<unsigned char*>(area);
    auto* aligned = reinterpret_cast<unsigned char*>(
        (reinterpret_cast<size_t>(base) + kHugePage - 1) / kHugePage * kHugePage);
    // Give back the unaligned head and the tail past the aligned block.
    const size_t head = size_t(aligned - base);
    if (head)
        ::munmap(base, head);
    const size_t used = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    const size_t tail = mapped - head - used;
    if (tail)
        ::munmap(aligned + used, tail);
    mapped = used;
#ifdef MADV_HUGEPAGE
    ::madvise(aligned, used, MADV_HUGEPAGE);
#endif
    block = aligned;
}

CHugePageBuffer::~CHugePageBuffer() {
    if (block)
        ::munmap(block, mapped);
}
