// Windows console: the Shift-JIS text goes out unconverted through the C runtime's
// standard output, pushed out at once when it is a console. The key wait reads the
// console without echo; with standard input redirected it reads one byte from there.
#include <conio.h>
#include <io.h>
#include <windows.h>

#include <cstdarg>
#include <cstdio>

#include "platform/console.h"

namespace {

int stdout_is_console = -1;

bool is_console(DWORD which) {
    DWORD mode;
    return GetConsoleMode(GetStdHandle(which), &mode) != 0;
}

}  // namespace

void con_printf(const char* format, ...) {
    if (stdout_is_console < 0) stdout_is_console = is_console(STD_OUTPUT_HANDLE) ? 1 : 0;
    va_list args;
    va_start(args, format);
    std::vfprintf(stdout, format, args);
    va_end(args);
    if (stdout_is_console) std::fflush(stdout);
}

void con_print(const char* program_message) { con_printf("%s", program_message); }

void con_flush() { std::fflush(stdout); }

bool con_failed() { return std::ferror(stdout) != 0; }

int con_read_key() {
    std::fflush(stdout);
    // _isatty is also true for the NUL device, so ask the console itself.
    if (is_console(STD_INPUT_HANDLE)) return _getch();
    unsigned char key;
    return _read(0, &key, 1) == 1 ? key : -1;
}
