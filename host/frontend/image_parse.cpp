#include "frontend/image_parse.h"

#include <cstdio>
#include <cstring>

#include "frontend/dump_line.h"
#include "platform/files.h"
#include "run/run_state.h"

namespace {

char line[DUMP_LINE_SIZE];

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

ImageError decide_image_format(const char* path, ImageFormat* format) {
    enum { HEAD_SIZE = 32 };  // the longest mark a save file starts with, and 1Ah
    size_t length = std::strlen(path);
    *format = FORMAT_TEXT_DUMP;
    if (length >= 4 && std::strcmp(path + length - 4, ".txt") == 0) return IMAGE_OK;
    bool sav = length >= 4 && std::strcmp(path + length - 4, ".sav") == 0;
    ImageError error = IMAGE_OK;
    std::FILE* file = open_input(path, &error);
    if (file == nullptr) {
        *format = FORMAT_RAW;
        return sav ? IMAGE_OK : error;
    }
    unsigned char head[HEAD_SIZE] = {};  // bytes past the end of a short file count as 0x00
    unsigned char tail[16] = {};
    size_t got = std::fread(head, 1, sizeof head, file);
    long long size = file_length(file);
    if (size >= (long long)sizeof tail && (std::fseek(file, -(long)sizeof tail, SEEK_END) != 0 ||
                                           std::fread(tail, 1, sizeof tail, file) != sizeof tail))
        return close_with(file, IMAGE_READ_FAILED);
    if (std::ferror(file) || size < 0) return close_with(file, IMAGE_READ_FAILED);
    std::fclose(file);
    *format = container_format(head, got, tail, size);
    if (*format != FORMAT_RAW || sav) return IMAGE_OK;
    *format = FORMAT_TEXT_DUMP;
    for (int i = 0; i < 16; i++) {
        if (head[i] < 0x20 || head[i] > 0x7E) *format = FORMAT_RAW;
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

std::FILE* open_image_input(const char* path, long long limit, long long* length, long long* detail,
                            ImageError* error) {
    std::FILE* file = open_input(path, error);
    if (file == nullptr) return nullptr;
    *length = file_length(file);
    if (*length < 0 || *length > limit) {
        *error = close_with(file, *length < 0 ? IMAGE_READ_FAILED : IMAGE_TOO_LARGE);
        *detail = *length;
        return nullptr;
    }
    std::memset(image_buffer, 0xFF, sizeof image_buffer);
    return file;
}

ImageError read_binary_file(const char* path, long long* detail) {
    ImageError error = IMAGE_OK;
    long long length = 0;
    std::FILE* file = open_image_input(path, BUFFER_SIZE, &length, detail, &error);
    if (file == nullptr) return error;
    size_t size = static_cast<size_t>(length);
    if (std::fread(image_buffer, 1, size, file) != size) return close_with(file, IMAGE_READ_FAILED);
    std::fclose(file);
    data_length = static_cast<int>(length);
    return IMAGE_OK;
}

bool only_padding_beyond(int size) {
    if (size < 0 || data_length <= size) return false;
    unsigned char fill = image_buffer[size];
    if (fill != 0xFF && fill != 0x00) return false;
    for (int i = size; i < data_length; i++) {
        if (image_buffer[i] != fill) return false;
    }
    return true;
}
