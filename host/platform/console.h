// Console output and key input. All program text goes through here: the bytes given
// are Shift-JIS (CP932) and reach files and pipes unchanged; a terminal shows them at once.
#pragma once

// printf-style output to standard output.
void con_printf(const char* format, ...)
#ifdef __GNUC__
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// Pushes everything printed so far to the console.
void con_flush();

// Waits for one key press without echo and returns it; -1 at the end of input.
int con_read_key();
