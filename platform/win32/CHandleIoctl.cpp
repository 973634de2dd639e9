#include "platform/win32/CHandleIoctl.h"

#include <windows.h>

bool CHandleIoctl::control(uint32_t code, const void* input, uint32_t inputSize, void* output,
                           uint32_t outputSize, uint32_t& returned, uint32_t& error) {
    DWORD got = 0;
    const BOOL done = ::DeviceIoControl(static_cast<HANDLE>(handle), code, const_cast<void*>(input),
                                        inputSize, output, outputSize, &got, nullptr);
    returned = got;
    error = done ? 0 : ::GetLastError();
    return done != 0;
}
