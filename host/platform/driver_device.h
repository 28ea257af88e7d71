// The stand-ins for the Windows EZ-USB driver share one request dispatcher: it owns
// the handles, checks and takes apart the request records, and turns each request into
// USB transfers on a device that the backend opens (a real adapter through libusb, or
// an emulated one). Each backend defines CreateFileA, DeviceIoControl and CloseHandle
// by handing them to the ezusb_* functions, and supplies the device_* functions.
#pragma once
#include <cstdint>

#include "platform/winapi.h"

enum {
    DRIVER_MAX_OPEN = 8,          // handles open at one time
    TRANSFER_TIMEOUT_MS = 10000,  // far beyond any reply the firmware owes
};

// The adapter's USB identities: the bare chip under its default product id (AN2131 and
// its relatives), and the adapter with its firmware running.
bool is_adapter_id(uint16_t vendor, uint16_t product);
// One line on standard error when an adapter is there but cannot be used, the same line
// only once: the reopening after a download tries again every two seconds.
void report_unusable(const char* line);

// One endpoint of interface 0, alternate setting 0.
struct DeviceEndpoint {
    uint8_t address;     // bit 7 set: IN
    uint8_t attributes;  // low two bits: 2 bulk, 3 interrupt
};

// Opens the index-th adapter; nullptr when there is none or it cannot be opened.
void* device_open(int index);
void device_close(void* device);
// A control transfer on endpoint 0; bytes of the data stage moved, or -1.
int device_control(void* device, uint8_t request_type, uint8_t request, uint16_t value,
                   uint16_t index, uint8_t* data, uint16_t length);
// The endpoint that a pipe number stands for (descriptor order); 0, or -1 if none.
int device_endpoint(void* device, uint32_t pipe, DeviceEndpoint* endpoint);
// A bulk or interrupt transfer, by the endpoint's type and direction; bytes moved, or -1.
int device_transfer(void* device, const DeviceEndpoint& endpoint, uint8_t* data, int length);

// The dispatcher, with the Windows functions' meanings.
HANDLE ezusb_create(const char* path);
BOOL ezusb_ioctl(HANDLE handle, DWORD code, const void* in, DWORD in_size, void* out,
                 DWORD out_size, DWORD* returned);
BOOL ezusb_close(HANDLE handle);
// Whether the handle is one of the dispatcher's (open or closed since).
bool ezusb_owns(HANDLE handle);
// Closes every open handle; later requests on them fail.
void ezusb_close_all();
