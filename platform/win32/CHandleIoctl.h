#pragma once

#include "platform/win32/CIoctlChannel.h"

// Control requests sent with DeviceIoControl to an open handle (not owned).
class CHandleIoctl : public CIoctlChannel {
public:
    explicit CHandleIoctl(void* handle) : handle(handle) {}
    bool control(uint32_t code, const void* input, uint32_t inputSize, void* output,
                 uint32_t outputSize, uint32_t& returned, uint32_t& error) override;

private:
    void* handle;
};
