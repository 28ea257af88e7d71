// The Windows build's driver entry points: the EZ-USB general-purpose driver where its
// device object opens, as on the Windows it was written for; where it does not (64-bit
// Windows 10 and 11 load no such driver), the dispatcher serves the same path through
// WinUSB (platform/driver_winusb.cpp). Every later request goes where its handle came from.
#include "platform/driver_device.h"
#include "platform/kernel32.h"

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD flags, HANDLE template_file) {
    HANDLE handle =
        kernel32_create_file(name, access, share, security, disposition, flags, template_file);
    return handle != INVALID_HANDLE_VALUE ? handle : ezusb_create(name);
}

BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD in_size, LPVOID out,
                     DWORD out_size, LPDWORD returned, LPOVERLAPPED overlapped) {
    if (ezusb_owns(device)) return ezusb_ioctl(device, code, in, in_size, out, out_size, returned);
    return kernel32_device_io_control(device, code, in, in_size, out, out_size, returned,
                                      overlapped);
}

BOOL CloseHandle(HANDLE handle) {
    return ezusb_owns(handle) ? ezusb_close(handle) : kernel32_close_handle(handle);
}

void Sleep(DWORD milliseconds) { kernel32_sleep(milliseconds); }
