#include "frontend/image_parse.h"

#include <cstdio>
#include <cstring>

#include "frontend/dump_line.h"
#include "frontend/run_state.h"
#include "platform/files.h"

namespace {

char line[DUMP_LINE_SIZE];

// Opens the input file in binary mode. A folder counts as not found, as it does on
// Windows; a named pipe, device or socket is refused without waiting on it.
std::FILE* open_input(const char* path, ImageError* error) {
    FileKind kind;
    std::FILE* file = open_regular_file(path, &kind);
    if (file == nullptr) *error = kind == FILE_OTHER ? IMAGE_NOT_REGULAR : IMAGE_NOT_FOUND;
    return file;
}

ImageError close_with(std::FILE* file, ImageError error) {
    std::fclose(file);
    return error;
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

}  // namespace

ImageError decide_image_format(const char* path, bool* text) {
    size_t length = std::strlen(path);
    if (length >= 4 && std::strcmp(path + length - 4, ".txt") == 0) {
        *text = true;
        return IMAGE_OK;
    }
    if (length >= 4 && std::strcmp(path + length - 4, ".sav") == 0) {
        *text = false;
        return IMAGE_OK;
    }
    ImageError error = IMAGE_OK;
    std::FILE* file = open_input(path, &error);
    if (file == nullptr) return error;
    unsigned char head[16] = {};  // bytes past the end of a short file count as 0x00
    std::fread(head, 1, sizeof head, file);
    if (std::ferror(file)) return close_with(file, IMAGE_READ_FAILED);
    std::fclose(file);
    *text = true;
    for (unsigned char byte : head) {
        if (byte < 0x20 || byte > 0x7E) *text = false;
    }
    return IMAGE_OK;
}

ImageError read_text_dump(const char* path, long long* detail) {
    ImageError error = IMAGE_OK;
    std::FILE* file = open_input(path, &error);
    if (file == nullptr) return error;
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
            *detail = count;
            return close_with(file, IMAGE_BAD_FORMAT);
        }
        int address = values[0];
        if (address < 0 || address > BUFFER_SIZE - 16) {
            *detail = address;
            return close_with(file, IMAGE_BAD_ADDRESS);
        }
        for (int i = 0; i < 16; ++i) {
            image_buffer[address + i] = static_cast<unsigned char>(values[1 + i]);
        }
        if (address + 16 > data_length) data_length = address + 16;
    }
    if (std::ferror(file)) return close_with(file, IMAGE_READ_FAILED);
    std::fclose(file);
    return IMAGE_OK;
}

ImageError read_binary_file(const char* path, long long* detail) {
    ImageError error = IMAGE_OK;
    std::FILE* file = open_input(path, &error);
    if (file == nullptr) return error;
    long long length = file_length(file);
    if (length < 0) return close_with(file, IMAGE_READ_FAILED);
    if (length > BUFFER_SIZE) {
        *detail = length;
        return close_with(file, IMAGE_TOO_LARGE);
    }
    std::memset(image_buffer, 0xFF, sizeof image_buffer);
    size_t size = static_cast<size_t>(length);
    if (std::fread(image_buffer, 1, size, file) != size) return close_with(file, IMAGE_READ_FAILED);
    std::fclose(file);
    data_length = static_cast<int>(length);
    return IMAGE_OK;
}
