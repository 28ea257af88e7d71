#include <cstdio>

#include "link/link.h"

int open_adapter(int index, HANDLE* handle) {
    char path[256];
    std::snprintf(path, sizeof path, "\\\\.\\ezusb-%d", index);
    *handle =
        CreateFileA(path, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    return *handle == INVALID_HANDLE_VALUE ? -1 : 0;
}

int close_adapter(HANDLE* handle) {
    CloseHandle(*handle);
    return 0;
}
