// Console output and key input. All program text goes through here: the bytes given
// are Shift-JIS (CP932) and reach files and pipes unchanged; a terminal shows every
// message the moment it is printed (on a POSIX terminal with a UTF-8 locale, converted
// to UTF-8 so that the Japanese text is readable).
#pragma once

// printf-style output to standard output.
void con_printf(const char* format, ...)
#ifdef __GNUC__
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// Pushes everything printed so far to the console.
void con_flush();

// True once output has failed to reach standard output (a closed pipe, a full disk).
bool con_failed();

// Waits for one key press without echo and returns it; -1 at the end of input.
// When standard input is no console, one byte is read from it instead, so that a run
// fed from a pipe or a file never waits for a person.
int con_read_key();
