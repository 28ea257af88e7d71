// The four Windows functions through which the adapter link reaches the EZ-USB driver,
// plus Sleep. On Windows they are the real ones; elsewhere one backend library
// (libusb for real adapters, or the emulated adapter) provides them with the same
// signatures and semantics, chosen at link time. A Windows build against a stand-in
// (PELKAT_DRIVER_STANDIN: the emulated adapter) declares them here as well, so that the
// link reaches the stand-in's functions rather than those of kernel32.
#pragma once

#if defined(_WIN32) && !defined(PELKAT_DRIVER_STANDIN)
#include <windows.h>
#else
#include <cstdint>

typedef void* HANDLE;
typedef uint32_t DWORD;
typedef int BOOL;
typedef void* LPVOID;
typedef const char* LPCSTR;
typedef DWORD* LPDWORD;
struct _SECURITY_ATTRIBUTES;
typedef _SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;
struct _OVERLAPPED;
typedef _OVERLAPPED* LPOVERLAPPED;

#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_WRITE 0x00000002u
#define OPEN_EXISTING 3u
#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD flags, HANDLE template_file);
BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD in_size, LPVOID out,
                     DWORD out_size, LPDWORD returned, LPOVERLAPPED overlapped);
BOOL CloseHandle(HANDLE handle);
void Sleep(DWORD milliseconds);
#endif
