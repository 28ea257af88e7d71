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
    const char* number_at = nullptr;  // where the latest token's number begins, past white space
    int number = 0;
    bool has_digits = false;
    int count = 0;
    *all_numbers = true;
    for (const char* p = line; p < end; ++p) {
        if (*p != ' ' && *p != '\n') continue;
        // Tokens that begin within the same stretch of white space all reach the same
        // number: it is read once, or a line of blanks would cost time quadratic in its length.
        if (number_at == nullptr || token > number_at) {
            number_at = token;
            while (number_at < end && is_space(*number_at)) ++number_at;
            number = 0;
            has_digits = scan_hex(number_at, end, &number);
        }
        // A token of nothing but white space holds no digit of its own, even though the
        // scan reaches the next token's number: taking that number would shift the row.
        if (!has_digits || number_at >= p) *all_numbers = false;
        if (count < DUMP_LINE_VALUES) values[count] = number;
        ++count;
        token = p + 1;
    }
    return count;
}
