#include <cstdarg>
#include <cstdio>

#include "platform/console.h"

void con_printf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(stdout, format, args);
    va_end(args);
}

void con_flush() { std::fflush(stdout); }

int con_read_key() { return std::getchar(); }
