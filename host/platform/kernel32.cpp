#include "platform/kernel32.h"

#include <windows.h>

void* kernel32_create_file(const char* name, uint32_t access, uint32_t share,
                           _SECURITY_ATTRIBUTES* security, uint32_t disposition, uint32_t flags,
                           void* template_file) {
    return CreateFileA(name, access, share, security, disposition, flags, template_file);
}

int kernel32_device_io_control(void* device, uint32_t code, void* in, uint32_t in_size, void* out,
                               uint32_t out_size, uint32_t* returned, _OVERLAPPED* overlapped) {
    DWORD count = 0;
    BOOL result = DeviceIoControl(device, code, in, in_size, out, out_size, &count, overlapped);
    if (returned != nullptr) *returned = count;
    return result;
}

int kernel32_close_handle(void* handle) { return CloseHandle(handle); }

void kernel32_sleep(uint32_t milliseconds) { Sleep(milliseconds); }
