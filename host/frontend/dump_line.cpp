#include "frontend/dump_line.h"

#include <cstdint>

namespace {

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Reads a hexadecimal number the way "%X" does: white space skipped, an optional sign
// and "0x", then digits in either case. Numbers longer than 32 bits keep their low 32
// bits. Returns false when there is no digit.
bool scan_hex(const char* text, const char* end, int* value) {
    while (text < end && is_space(*text)) ++text;
    bool negative = false;
    if (text < end && (*text == '+' || *text == '-')) negative = *text++ == '-';
    if (end - text >= 3 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X') &&
        hex_digit(text[2]) >= 0) {
        text += 2;
    }
    if (text >= end || hex_digit(*text) < 0) return false;
    uint32_t number = 0;
    for (; text < end && hex_digit(*text) >= 0; ++text) {
        number = (number << 4) | static_cast<uint32_t>(hex_digit(*text));
    }
    if (negative) number = 0u - number;
    *value = static_cast<int>(number);
    return true;
}

}  // namespace

int split_dump_line(const char* line, int length, int* values, bool* all_numbers) {
    const char* end = line + length;
    const char* token = line;
    int count = 0;
    *all_numbers = true;
    for (const char* p = line; p < end; ++p) {
        if (*p != ' ' && *p != '\n') continue;
        int value = 0;
        if (!scan_hex(token, end, &value)) *all_numbers = false;
        if (count < DUMP_LINE_VALUES) values[count] = value;
        ++count;
        token = p + 1;
    }
    return count;
}
