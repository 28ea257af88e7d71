// Splitting one line of a text dump into its numbers.
#pragma once

enum {
    DUMP_LINE_SIZE = 4096,  // a line is read in pieces of at most 4095 bytes
    DUMP_LINE_VALUES = 17,  // the address and the 16 data bytes of a row
};

// Splits a piece of a line (length bytes, usually ending in '\n'): every blank and every
// newline ends a token, and each token is read as a hexadecimal number, white space before
// it skipped. Returns the number of tokens; the first DUMP_LINE_VALUES values are stored.
// *all_numbers becomes false when a token holds no hexadecimal digit at all.
int split_dump_line(const char* line, int length, int* values, bool* all_numbers);
