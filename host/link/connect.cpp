#include <cstring>

#include "link/link.h"

namespace {

enum {
    FIRMWARE_SIZE = 4096,
    REOPEN_WAIT_MS = 2000,
    REOPEN_ATTEMPTS = 15,  // 30 seconds for the adapter to come back with its firmware
};

// The firmware leaves the bus after its start and comes back as its own device, so the
// old handle is closed and the adapter opened anew once it is back.
int load_and_reopen(int index, HANDLE* handle, const unsigned char* image) {
    if (hold_8051(handle) != 0 || download_firmware(handle, image, FIRMWARE_SIZE) != 0 ||
        run_8051(handle) != 0) {
        return -1;
    }
    close_adapter(handle);
    for (int attempt = 0; attempt < REOPEN_ATTEMPTS; ++attempt) {
        Sleep(REOPEN_WAIT_MS);
        if (open_adapter(index, handle) == 0) return 0;
    }
    return -1;
}

}  // namespace

int connect_adapter(int index, HANDLE* handle, const unsigned char* image, const char* manufacturer,
                    const char* product) {
    if (open_adapter(index, handle) != 0) return -1;
    // A string that cannot be read is no match: a bare chip has no strings at all.
    char first[128];
    char second[128];
    bool running = get_string_descriptor(handle, 1, first) == 0 &&
                   get_string_descriptor(handle, 2, second) == 0 &&
                   std::strcmp(first, manufacturer) == 0 && std::strcmp(second, product) == 0;
    if (running) return 0;
    return load_and_reopen(index, handle, image);
}
