#pragma once

#include <cstdint>

// Where the device layer's control requests (IOCTL and FSCTL codes) go:
// DeviceIoControl on an open device (CHandleIoctl), or recorded answers in
// the tests.
class CIoctlChannel {
public:
    virtual ~CIoctlChannel() = default;
    // Sends code with input; fills output and sets returned to the bytes
    // given back. False with the Win32 error code on failure.
    virtual bool control(uint32_t code, const void* input, uint32_t inputSize, void* output,
                         uint32_t outputSize, uint32_t& returned, uint32_t& error) = 0;
};
