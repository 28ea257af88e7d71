#include <cstdio>

#include "frontend/console_services.h"
#include "frontend/image_files.h"
#include "frontend/run_state.h"
#include "platform/console.h"
#include "platform/files.h"

namespace {

enum { TEMP_NAMES = 10 };  // name.tmp, then name.tmp1 to name.tmp9
char temp_name[PATH_SIZE + 8];
bool temp_created;
// One row of a text dump: an address of up to eight digits, 16 fields, CR LF.
char row[8 + 16 * 3 + 2];
const char hex_digits[] = "0123456789ABCDEF";

[[noreturn]] void write_failed(const char* name, std::FILE* file) {
    if (file != nullptr) std::fclose(file);
    if (temp_created) discard_file(temp_name);
    con_printf("Error: ファイルを書き込めませんでした(%s)\n", name);
    fail_run();
}

// The new contents go to a temporary file beside the target, which replaces the
// target only once every byte is written and on the disk. The temporary file is always
// a new one: a file that already has its name may be the user's (even this run's input).
std::FILE* create_temp(const char* name) {
    temp_created = false;
    for (int n = 0; n < TEMP_NAMES; ++n) {
        int end = std::snprintf(temp_name, sizeof temp_name, "%s.tmp", name);
        if (n > 0) std::snprintf(temp_name + end, sizeof temp_name - static_cast<size_t>(end), "%d", n);
        std::FILE* file = create_new_file(temp_name);
        if (file != nullptr) {
            temp_created = true;
            return file;
        }
    }
    write_failed(name, nullptr);
}

void commit_temp(const char* name, std::FILE* file) {
    if (std::fflush(file) != 0 || std::ferror(file) || sync_file(file) != 0) {
        write_failed(name, file);
    }
    if (std::fclose(file) != 0) write_failed(name, nullptr);
    if (replace_file(temp_name, name) != 0) write_failed(name, nullptr);
}

// Uppercase hexadecimal, at least min_digits digits (as "%0*X" gives).
void put_hex(char*& out, unsigned value, int min_digits) {
    int digits = min_digits;
    while (digits < 8 && (value >> (4 * digits)) != 0) ++digits;
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) *out++ = hex_digits[(value >> shift) & 0xF];
}

}  // namespace

void write_text_dump(const char* name, const unsigned char* buffer, int length) {
    std::FILE* file = create_temp(name);
    char* out = row;
    for (int i = 0; i < length; ++i) {
        if (i % 16 == 0) put_hex(out, static_cast<unsigned>(i), 4);
        *out++ = ' ';
        put_hex(out, buffer[i], 2);
        if (i % 16 == 15) {
            *out++ = '\r';
            *out++ = '\n';
            std::fwrite(row, 1, static_cast<size_t>(out - row), file);
            out = row;
        }
    }
    *out++ = '\r';
    *out++ = '\n';
    std::fwrite(row, 1, static_cast<size_t>(out - row), file);
    commit_temp(name, file);
}

void write_binary_file(const char* name, const unsigned char* buffer, int length) {
    std::FILE* file = create_temp(name);
    if (length > 0) std::fwrite(buffer, 1, static_cast<size_t>(length), file);
    commit_temp(name, file);
}
