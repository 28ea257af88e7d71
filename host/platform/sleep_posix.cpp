#include <time.h>

#include "platform/winapi.h"

void Sleep(DWORD milliseconds) {
    timespec t;
    t.tv_sec = milliseconds / 1000;
    t.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    while (nanosleep(&t, &t) != 0) {}
}
