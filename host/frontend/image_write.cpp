#include <cstdio>
#include <cstring>

#include "frontend/image_files.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/interrupts.h"
#include "run/console_services.h"
#include "run/run_state.h"

namespace {

enum {
    WRITTEN_MAX = 2,    // the files of one run: a text dump and a binary file
    TEMP_TRIES = 1000,  // names taken by leftovers of earlier runs are passed over
    NAME_SIZE = PATH_SIZE + 16,
};

// A file written completely under a temporary name beside its target, which it
// replaces when the run commits it.
struct WrittenFile {
    char name[NAME_SIZE];
    char temp_name[NAME_SIZE + 32];
};

WrittenFile written[WRITTEN_MAX];
int written_count;
unsigned temp_serial;
// One row of a text dump: an address of up to eight digits, 16 fields, CR LF.
char row[8 + 16 * 3 + 2];
const char hex_digits[] = "0123456789ABCDEF";
unsigned char compared[2][4096];

void discard_written() {
    for (int i = 0; i < written_count; ++i) discard_file(written[i].temp_name);
    written_count = 0;
    forget_temporaries();
    let_interrupts();
}

[[noreturn]] void write_failed(const char* name, std::FILE* file) {
    if (file != nullptr) std::fclose(file);
    stop_writing(name);
}

// The temporary file is always a new one, named after this process and a serial number:
// a file that already has its name is a leftover or the user's (even this run's input).
// From its creation until it is closed an interrupt waits, and until it is in place (or
// removed) an interrupt that ends the run removes it.
std::FILE* create_temp(const char* name) {
    hold_interrupts();
    if (written_count == WRITTEN_MAX) write_failed(name, nullptr);
    WrittenFile& file = written[written_count];
    std::snprintf(file.name, sizeof file.name, "%s", name);
    for (int n = 0; n < TEMP_TRIES; ++n) {
        std::snprintf(file.temp_name, sizeof file.temp_name, "%s.tmp%lu-%u", name, process_number(),
                      ++temp_serial);
        bool exists = false;
        std::FILE* opened = create_new_file(file.temp_name, &exists);
        if (opened != nullptr) {
            ++written_count;
            track_temporary(file.temp_name);
            return opened;
        }
        if (!exists) break;
    }
    write_failed(name, nullptr);
}

void finish_temp(const char* name, std::FILE* file) {
    if (std::fflush(file) != 0 || std::ferror(file) || sync_file(file) != 0) {
        write_failed(name, file);
    }
    if (std::fclose(file) != 0) write_failed(name, nullptr);
    let_interrupts();
}

// Uppercase hexadecimal, at least min_digits digits (as "%0*X" gives).
void put_hex(char*& out, unsigned value, int min_digits) {
    int digits = min_digits;
    while (digits < 8 && (value >> (4 * digits)) != 0) ++digits;
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4)
        *out++ = hex_digits[(value >> shift) & 0xF];
}

bool same_contents(std::FILE* a, std::FILE* b) {
    for (;;) {
        size_t got_a = std::fread(compared[0], 1, sizeof compared[0], a);
        size_t got_b = std::fread(compared[1], 1, sizeof compared[1], b);
        if (got_a != got_b || std::memcmp(compared[0], compared[1], got_a) != 0) return false;
        if (got_a < sizeof compared[0]) return !std::ferror(a) && !std::ferror(b);
    }
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
    finish_temp(name, file);
}

void write_binary_file(const char* name, const unsigned char* buffer, int length) {
    std::FILE* file = create_temp(name);
    if (length > 0) std::fwrite(buffer, 1, static_cast<size_t>(length), file);
    finish_temp(name, file);
}

bool replaced_file_differs(const char* name) {
    const WrittenFile* file = nullptr;
    for (int i = 0; i < written_count; ++i) {
        if (std::strcmp(written[i].name, name) == 0) file = &written[i];
    }
    FileKind kind;
    std::FILE* old_file = open_regular_file(name, &kind);
    if (old_file == nullptr) return kind != FILE_MISSING || file_kind(name) != FILE_MISSING;
    std::FILE* new_file = file != nullptr ? open_regular_file(file->temp_name, &kind) : nullptr;
    bool same = new_file != nullptr && same_contents(old_file, new_file);
    std::fclose(old_file);
    if (new_file != nullptr) std::fclose(new_file);
    return !same;
}

void commit_written_files() {
    hold_interrupts();
    for (int i = 0; i < written_count; ++i) {
        if (replace_file(written[i].temp_name, written[i].name) != 0) {
            // Those already in place are no temporary files any more.
            std::memmove(&written[0], &written[i],
                         sizeof written[0] * static_cast<size_t>(written_count - i));
            written_count -= i;
            write_failed(written[0].name, nullptr);
        }
    }
    written_count = 0;
    forget_temporaries();
    let_interrupts();
}

void stop_writing(const char* name) {
    discard_written();
    con_printf("Error: ファイルを書き込めませんでした(%s)\n", name);
    fail_run();
}
