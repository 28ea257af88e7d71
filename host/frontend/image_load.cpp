#include <cstdio>
#include <cstring>

#include "frontend/console_services.h"
#include "frontend/dump_line.h"
#include "frontend/image_files.h"
#include "frontend/run_state.h"
#include "platform/console.h"
#include "platform/files.h"

namespace {

char line[DUMP_LINE_SIZE];

[[noreturn]] void fail_loading(std::FILE* file) {
    if (file != nullptr) std::fclose(file);
    fail_run();
}

[[noreturn]] void not_found(const char* path) {
    con_printf("Error: ファイルが見つかりません(%s)\n", path);
    fail_run();
}

[[noreturn]] void read_failed(std::FILE* file, const char* path) {
    con_printf("Error: ファイルを読み込めませんでした(%s)\n", path);
    fail_loading(file);
}

// Opens the input file in binary mode; a name that opens but cannot be read (a folder
// on POSIX systems) counts as not found, as it does on Windows.
std::FILE* open_input(const char* path) {
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) not_found(path);
    std::fgetc(file);
    if (std::ferror(file)) {
        std::fclose(file);
        not_found(path);
    }
    std::rewind(file);
    return file;
}

// Any printable ASCII text in the first 16 bytes (missing bytes count as 0x00) makes
// a text dump; anything else is a binary file.
bool content_is_text(const char* path) {
    std::FILE* file = open_input(path);
    unsigned char head[16] = {};
    std::fread(head, 1, sizeof head, file);
    bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) read_failed(nullptr, path);
    for (unsigned char byte : head) {
        if (byte < 0x20 || byte > 0x7E) return false;
    }
    return true;
}

bool is_text_dump(const char* path) {
    size_t length = std::strlen(path);
    if (length >= 4 && std::strcmp(path + length - 4, ".txt") == 0) return true;
    if (length >= 4 && std::strcmp(path + length - 4, ".sav") == 0) return false;
    return content_is_text(path);
}

// Reads the next piece of a line like fgets with a DUMP_LINE_SIZE buffer, as a Windows
// text-mode stream delivers it: CR LF reads as one newline, and a 0x1A byte (the old
// end-of-file mark) ends the file. The file itself is open in binary mode, so that the
// same bytes give the same rows on every platform. Returns the piece's length, 0 at
// the end of the file.
int read_dump_line(std::FILE* file) {
    const int END_OF_FILE_MARK = 0x1A;
    int length = 0;
    while (length < DUMP_LINE_SIZE - 1) {
        int c = std::getc(file);
        if (c == EOF) break;
        if (c == END_OF_FILE_MARK) {
            std::ungetc(c, file);  // every later call ends here too
            break;
        }
        if (c == '\r') {
            int next = std::getc(file);
            if (next == '\n') {
                c = '\n';
            } else if (next != EOF) {
                std::ungetc(next, file);
            }
        }
        line[length++] = static_cast<char>(c);
        if (c == '\n') break;
    }
    return length;
}

void load_text_dump(const char* path) {
    con_printf("テキストファイル(%s)を読み込みます\n", path);
    std::FILE* file = open_input(path);
    std::memset(image_buffer, 0xFF, sizeof image_buffer);
    data_length = 0;
    for (;;) {
        int length = read_dump_line(file);
        if (length == 0) break;
        if (line[0] == '\n') continue;
        int values[DUMP_LINE_VALUES];
        bool all_numbers;
        int count = split_dump_line(line, length, values, &all_numbers);
        // A token without a digit would put an arbitrary byte into the memory.
        if (count != DUMP_LINE_VALUES || !all_numbers) {
            con_printf("Error: ファイルの形式が違います(%d)\n", count);
            fail_loading(file);
        }
        int address = values[0];
        if (address < 0 || address > BUFFER_SIZE - 16) {
            con_printf("Error: アドレスが大き過ぎです(%d)\n", address);
            fail_loading(file);
        }
        for (int i = 0; i < 16; ++i) {
            image_buffer[address + i] = static_cast<unsigned char>(values[1 + i]);
        }
        if (address + 16 > data_length) data_length = address + 16;
    }
    if (std::ferror(file)) read_failed(file, path);
    std::fclose(file);
    con_printf("ファイル(%s)を読み込みました\n", path);
}

void load_binary_file(const char* path) {
    con_printf("バイナリファイル(%s)を読み込みます\n", path);
    std::FILE* file = open_input(path);
    long long length = file_length(file);
    if (length < 0) read_failed(file, path);
    if (length > BUFFER_SIZE) {
        std::fclose(file);
        con_printf("Error: ファイルが大き過ぎです(%lld)\n", length);
        fail_run();
    }
    std::memset(image_buffer, 0xFF, sizeof image_buffer);
    size_t size = static_cast<size_t>(length);
    if (std::fread(image_buffer, 1, size, file) != size) read_failed(file, path);
    std::fclose(file);
    data_length = static_cast<int>(length);
    con_printf("ファイル(%s)を読み込みました\n", path);
}

}  // namespace

void load_image_file(const char* path) {
    if (is_text_dump(path)) {
        load_text_dump(path);
    } else {
        load_binary_file(path);
    }
}
