// Console output and key input. All program text goes through here. Its bytes are
// Shift-JIS (CP932) and reach a Windows console, file or pipe unchanged; on POSIX systems
// they go out translated where the locale's language has a catalog, and in the locale's
// character set (UTF-8 under a UTF-8 locale, unchanged under the C locale). A console or
// terminal shows every message the moment it is printed.
#pragma once

// printf-style output to standard output. The format is program text; a %s argument goes
// out as it is (a file name from the command line is in the locale's character set).
void con_printf(const char* format, ...)
#ifdef __GNUC__
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// Program text that is not a format, such as a message picked from a table.
void con_print(const char* program_message);

// Pushes everything printed so far to the console.
void con_flush();

// True once output has failed to reach standard output (a closed pipe, a full disk).
bool con_failed();

// Waits for one key press without echo and returns it; -1 at the end of input.
// When standard input is no console, one byte is read from it instead, so that a run
// fed from a pipe or a file never waits for a person.
int con_read_key();
