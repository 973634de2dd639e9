#include "volume/CExtDeviceIo.h"

#include "platform/CDevice.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include <ext2fs/ext2fs.h>

namespace {

constexpr char kNamePrefix[] = "vallora-device:";
constexpr int kDefaultBlockSize = 1024;

CDevice* deviceOf(io_channel channel) {
    return static_cast<CDevice*>(channel->private_data);
}

errcode_t openChannel(const char* name, int flags, io_channel* channel);

errcode_t closeChannel(io_channel channel) {
    if (--channel->refcount > 0)
        return 0;
    ext2fs_free_mem(&channel->name);
    ext2fs_free_mem(&channel);
    return 0;
}

errcode_t setBlockSize(io_channel channel, int size) {
    if (size <= 0)
        return EXT2_ET_INVALID_ARGUMENT;
    channel->block_size = size;
    return 0;
}

// count blocks of the channel's block size, or -count bytes when negative.
errcode_t readBlocks64(io_channel channel, unsigned long long block, int count, void* data) {
    const uint64_t blockSize = uint64_t(channel->block_size);
    const uint64_t length = count < 0 ? uint64_t(-int64_t(count)) : uint64_t(count) * blockSize;
    if (length > UINT32_MAX || block > UINT64_MAX / blockSize)
        return EXT2_ET_LLSEEK_FAILED;
    const uint64_t offset = block * blockSize;
    CDevice* device = deviceOf(channel);
    if (offset > device->byteSize() || length > device->byteSize() - offset)
        return EXT2_ET_SHORT_READ;
    uint32_t got = 0;
    int error = 0;
    if (!device->readAt(offset, data, static_cast<uint32_t>(length), got, error)) {
        if (CDevice::isLossError(error))
            device->markLost();
        return error ? errcode_t(error) : EXT2_ET_SHORT_READ;
    }
    return got == length ? 0 : EXT2_ET_SHORT_READ;
}

errcode_t readBlocks(io_channel channel, unsigned long block, int count, void* data) {
    return readBlocks64(channel, block, count, data);
}

errcode_t writeBlocks(io_channel, unsigned long, int, const void*) {
    return EROFS;
}

errcode_t writeBlocks64(io_channel, unsigned long long, int, const void*) {
    return EROFS;
}

errcode_t writeBytes(io_channel, unsigned long, int, const void*) {
    return EROFS;
}

errcode_t flushChannel(io_channel) {
    return 0;
}

errcode_t setOption(io_channel, const char*, const char*) {
    return EXT2_ET_INVALID_ARGUMENT;
}

struct_io_manager deviceManager = [] {
    struct_io_manager m{};
    m.magic = EXT2_ET_MAGIC_IO_MANAGER;
    m.name = "Vallora read-only device I/O manager";
    m.open = openChannel;
    m.close = closeChannel;
    m.set_blksize = setBlockSize;
    m.read_blk = readBlocks;
    m.write_blk = writeBlocks;
    m.flush = flushChannel;
    m.write_byte = writeBytes;
    m.set_option = setOption;
    m.read_blk64 = readBlocks64;
    m.write_blk64 = writeBlocks64;
    return m;
}();

errcode_t openChannel(const char* name, int flags, io_channel* channel) {
    if (!name || !channel)
        return EXT2_ET_BAD_DEVICE_NAME;
    if (flags & IO_FLAG_RW)
        return EROFS;
    const size_t prefix = sizeof kNamePrefix - 1;
    if (std::strncmp(name, kNamePrefix, prefix) != 0)
        return EXT2_ET_BAD_DEVICE_NAME;
    uintptr_t address = 0;
    if (std::sscanf(name + prefix, "%" SCNxPTR, &address) != 1 || address == 0)
        return EXT2_ET_BAD_DEVICE_NAME;

    io_channel made = nullptr;
    errcode_t error = ext2fs_get_mem(sizeof(struct_io_channel), &made);
    if (error)
        return error;
    std::memset(made, 0, sizeof(struct_io_channel));
    error = ext2fs_get_mem(std::strlen(name) + 1, &made->name);
    if (error) {
        ext2fs_free_mem(&made);
        return error;
    }
    std::strcpy(made->name, name);
    made->magic = EXT2_ET_MAGIC_IO_CHANNEL;
    made->manager = &deviceManager;
    made->block_size = kDefaultBlockSize;
    made->refcount = 1;
    made->private_data = reinterpret_cast<CDevice*>(address);
    *channel = made;
    return 0;
}

} // namespace

struct_io_manager* CExtDeviceIo::manager() {
    return &deviceManager;
}

std::string CExtDeviceIo::nameFor(CDevice* device) {
    char text[64];
    std::snprintf(text, sizeof text, "%s%" PRIxPTR, kNamePrefix,
                  reinterpret_cast<uintptr_t>(device));
    return text;
}
