// The save files of emulators and cheat devices: the raw save inside a header or before
// a footer of their own. The layouts are those of DeSmuME's importers (src/mc.cpp:
// GetDSVFileInfo and BackupDeviceFileSaveFooter in src/mc.h for its own .dsv,
// no_gba_unpackSAV for no$gba's, import_duc for the Action Replay's), which read them
// as their makers write them.
#include <cstdio>
#include <cstring>

#include "frontend/image_parse.h"
#include "run/run_state.h"

namespace {

// DeSmuME: the raw save, an 82-byte line of text, then a record of five 32-bit
// little-endian words (size, padSize, type, addr_size, mem_size), a version word (0) and
// the 16-byte cookie. The raw save is padSize bytes, all of the file before the footer.
const char DESMUME_COOKIE[] = "|-DESMUME SAVE-|";
enum {
    DESMUME_FOOTER = 122,
    DESMUME_RECORD = 40,  // the record at the end of the footer
    DESMUME_PAD_SIZE = 4,
    DESMUME_VERSION = 20,
    COOKIE_SIZE = 16,
    // A save file of the buffer's size takes less than twice that room in any of the
    // formats; a longer one is refused before anything in it is looked for.
    CONTAINER_LIMIT = 2 * BUFFER_SIZE,
};

// no$gba: its 31-byte name and 1Ah, then at 40h "SRAM" and a 32-bit method: 0 the raw
// save's length at 48h and the save from 4Ch; 1 the packed and the unpacked length at 48h
// and 4Ch and, from 50h, runs: a byte n of 01h..7Fh and n bytes as they are; 80h, a byte
// and a 16-bit count of it; 81h..FFh and one byte n - 80h times; 00h the end.
const char NOCASH_NAME[] = "NocashGbaBackupMediaSavDataFile";
enum {
    NOCASH_NAME_END = 0x1F,
    NOCASH_MEDIA = 0x40,
    NOCASH_METHOD = 0x44,
    NOCASH_SIZE = 0x48,
    NOCASH_UNPACKED = 0x4C,
    NOCASH_HEADER = 0x50,
};

// Action Replay DS / MAX Drive: the 16-byte mark and a 500-byte header, then the save.
const char ARDS_MARK[] = "ARDS000000000001";
enum { ARDS_HEADER = 500 };

unsigned long le32(const unsigned char* bytes) {
    return bytes[0] | (unsigned long)bytes[1] << 8 | (unsigned long)bytes[2] << 16 |
           (unsigned long)bytes[3] << 24;
}

// Reads count bytes from offset on; false when the file ends before.
bool read_at(std::FILE* file, long long offset, unsigned char* buffer, size_t count) {
    return std::fseek(file, (long)offset, SEEK_SET) == 0 &&
           std::fread(buffer, 1, count, file) == count;
}

// The save of length bytes from offset on into image_buffer.
ImageError take_raw(std::FILE* file, long long offset, long long length, long long* detail) {
    if (length > BUFFER_SIZE) {
        *detail = length;
        return close_with(file, IMAGE_TOO_LARGE);
    }
    if (!read_at(file, offset, image_buffer, (size_t)length))
        return close_with(file, IMAGE_BAD_CONTAINER);
    data_length = (int)length;
    return close_with(file, IMAGE_OK);
}

ImageError read_desmume(std::FILE* file, long long length, long long* detail) {
    unsigned char record[DESMUME_RECORD];
    if (length < DESMUME_FOOTER || !read_at(file, length - DESMUME_RECORD, record, sizeof record) ||
        std::memcmp(record + DESMUME_RECORD - COOKIE_SIZE, DESMUME_COOKIE, COOKIE_SIZE) != 0)
        return close_with(file, IMAGE_BAD_CONTAINER);
    long long data = length - DESMUME_FOOTER;
    if (le32(record + DESMUME_VERSION) != 0 || (long long)le32(record + DESMUME_PAD_SIZE) != data)
        return close_with(file, IMAGE_BAD_CONTAINER);
    return take_raw(file, 0, data, detail);
}

// Unpacks the runs into image_buffer; a run past the buffer or past the end of the file,
// or a total other than the header's, is a broken file.
ImageError unpack_nocash(std::FILE* file, unsigned long unpacked, long long* detail) {
    long long out = 0;
    for (;;) {
        int code = std::getc(file);
        if (code == EOF) return close_with(file, IMAGE_BAD_CONTAINER);
        if (code == 0) break;
        long long count = code < 0x80 ? code : code - 0x80;
        int value = 0;
        if (code >= 0x80) {
            value = std::getc(file);
            if (code == 0x80) {
                int low = std::getc(file), high = std::getc(file);
                if (low == EOF || high == EOF) return close_with(file, IMAGE_BAD_CONTAINER);
                count = low | high << 8;
            }
            if (value == EOF) return close_with(file, IMAGE_BAD_CONTAINER);
        }
        if (out + count > BUFFER_SIZE) {
            *detail = out + count;
            return close_with(file, IMAGE_TOO_LARGE);
        }
        if (code >= 0x80) {
            std::memset(image_buffer + out, value, (size_t)count);
        } else if (std::fread(image_buffer + out, 1, (size_t)count, file) != (size_t)count) {
            return close_with(file, IMAGE_BAD_CONTAINER);
        }
        out += count;
    }
    if (out != (long long)unpacked) return close_with(file, IMAGE_BAD_CONTAINER);
    data_length = (int)out;
    return close_with(file, IMAGE_OK);
}

ImageError read_nocash(std::FILE* file, long long length, long long* detail) {
    unsigned char header[NOCASH_HEADER];
    if (length < NOCASH_HEADER || !read_at(file, 0, header, sizeof header) ||
        std::memcmp(header, NOCASH_NAME, NOCASH_NAME_END) != 0 || header[NOCASH_NAME_END] != 0x1A ||
        std::memcmp(header + NOCASH_MEDIA, "SRAM", 4) != 0)
        return close_with(file, IMAGE_BAD_CONTAINER);
    unsigned long method = le32(header + NOCASH_METHOD);
    if (method == 0) {
        long long size = (long long)le32(header + NOCASH_SIZE);
        if (NOCASH_UNPACKED + size > length) return close_with(file, IMAGE_BAD_CONTAINER);
        return take_raw(file, NOCASH_UNPACKED, size, detail);
    }
    if (method != 1) return close_with(file, IMAGE_BAD_CONTAINER);
    return unpack_nocash(file, le32(header + NOCASH_UNPACKED), detail);
}

ImageError read_ards(std::FILE* file, long long length, long long* detail) {
    unsigned char mark[COOKIE_SIZE];
    if (length < ARDS_HEADER || !read_at(file, 0, mark, sizeof mark) ||
        std::memcmp(mark, ARDS_MARK, COOKIE_SIZE) != 0)
        return close_with(file, IMAGE_BAD_CONTAINER);
    return take_raw(file, ARDS_HEADER, length - ARDS_HEADER, detail);
}

}  // namespace

ImageFormat container_format(const unsigned char* head, size_t head_size, const unsigned char* tail,
                             long long length) {
    if (head_size > NOCASH_NAME_END && std::memcmp(head, NOCASH_NAME, NOCASH_NAME_END) == 0 &&
        head[NOCASH_NAME_END] == 0x1A)
        return FORMAT_NOCASH;
    if (head_size >= COOKIE_SIZE && std::memcmp(head, ARDS_MARK, COOKIE_SIZE) == 0)
        return FORMAT_ACTION_REPLAY;
    if (length >= DESMUME_FOOTER && std::memcmp(tail, DESMUME_COOKIE, COOKIE_SIZE) == 0)
        return FORMAT_DESMUME;
    return FORMAT_RAW;
}

ImageError read_container(const char* path, ImageFormat format, long long* detail) {
    ImageError error = IMAGE_OK;
    long long length = 0;
    std::FILE* file = open_image_input(path, CONTAINER_LIMIT, &length, detail, &error);
    if (file == nullptr) return error;
    data_length = 0;
    switch (format) {
    case FORMAT_DESMUME: return read_desmume(file, length, detail);
    case FORMAT_NOCASH: return read_nocash(file, length, detail);
    case FORMAT_ACTION_REPLAY: return read_ards(file, length, detail);
    default: return close_with(file, IMAGE_BAD_CONTAINER);
    }
}
