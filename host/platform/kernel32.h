// kernel32's own CreateFileA, DeviceIoControl, CloseHandle and Sleep under names of their
// own, for the Windows build's driver entry points: those take the Windows functions'
// names (platform/winapi.h), so they cannot also see kernel32's declarations. Handles
// pass as void* and counts as uint32_t, so that both sides can include this header.
#pragma once
#include <cstdint>

struct _SECURITY_ATTRIBUTES;
struct _OVERLAPPED;

void* kernel32_create_file(const char* name, uint32_t access, uint32_t share,
                           _SECURITY_ATTRIBUTES* security, uint32_t disposition, uint32_t flags,
                           void* template_file);
int kernel32_device_io_control(void* device, uint32_t code, void* in, uint32_t in_size, void* out,
                               uint32_t out_size, uint32_t* returned, _OVERLAPPED* overlapped);
int kernel32_close_handle(void* handle);
void kernel32_sleep(uint32_t milliseconds);
