// The adapter link: opening the adapter through the EZ-USB driver, recognising or
// loading its firmware, and the two pipe transfers everything else uses.
// Results: 0 success, -1 failure, unless said otherwise.
#pragma once
#include "platform/winapi.h"

enum {
    EP1_OUT_PIPE = 0,  // endpoint 0x01, bulk: every command packet goes here
    EP1_IN_PIPE = 7,   // endpoint 0x81, interrupt: every reply comes from here
};

int open_adapter(int index, HANDLE* handle);
int close_adapter(HANDLE* handle);
int hold_8051(HANDLE* handle);
int run_8051(HANDLE* handle);
int download_firmware(HANDLE* handle, const unsigned char* image, int length);
int get_string_descriptor(HANDLE* handle, int index, char* text);
int bulk_write(HANDLE* handle, int pipe, const unsigned char* data, int length);
// Returns the number of bytes the driver reported as received, or -1.
int bulk_read(HANDLE* handle, int pipe, unsigned char* buffer, int length);
int connect_adapter(int index, HANDLE* handle, const unsigned char* image, const char* manufacturer,
                    const char* product);
// 1 if a bulk_write or bulk_read failed since the previous call, else 0; clears.
int link_take_failure();
