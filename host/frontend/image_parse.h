// The loader's core: deciding the format of a write run's input file and reading it into
// image_buffer. Prints nothing and never ends the run, so that every outcome can be
// reported by the caller (and any file at all can be fed to it).
#pragma once
#include <cstddef>
#include <cstdio>

enum ImageError {
    IMAGE_OK = 0,
    IMAGE_NOT_FOUND,      // cannot be opened (or is a folder)
    IMAGE_NOT_REGULAR,    // a named pipe, device or socket
    IMAGE_READ_FAILED,    // opened, but reading it failed
    IMAGE_BAD_FORMAT,     // detail: the token count of the offending line
    IMAGE_BAD_ADDRESS,    // detail: the row's address
    IMAGE_TOO_LARGE,      // detail: the binary file's length (or the save's, unpacked)
    IMAGE_BAD_CONTAINER,  // an emulator's or cheat device's save file, broken or cut short
};

enum ImageFormat {
    FORMAT_RAW,            // the binary file: the raw save
    FORMAT_TEXT_DUMP,      // the text dump
    FORMAT_DESMUME,        // DeSmuME's .dsv: the raw save, then its footer
    FORMAT_NOCASH,         // no$gba's save file, uncompressed or packed in runs
    FORMAT_ACTION_REPLAY,  // Action Replay DS / MAX Drive .duc or .dss
};

// For the readers: opens the input file in binary mode (nullptr and *error when it
// cannot be), and closes it, giving back the error.
std::FILE* open_input(const char* path, ImageError* error);
ImageError close_with(std::FILE* file, ImageError error);
// Opens the input file and takes its *length; one longer than limit is refused as too
// large (*detail: the length). Once open, image_buffer is erased (0xFF) for the reader.
std::FILE* open_image_input(const char* path, long long limit, long long* length, long long* detail,
                            ImageError* error);

// A name ending in ".txt" is a text dump. Any other file is first looked at for the
// header or footer of an emulator's or cheat device's save file; without one, a name
// ending in ".sav" is a binary file and any other name is decided by the first 16
// bytes: all printable ASCII makes a text dump. A ".sav" file that cannot be opened is
// left to the binary reader to report.
ImageError decide_image_format(const char* path, ImageFormat* format);

// The format that the first head_size bytes and the last 16 (tail) of a file of length
// bytes show: one of the save files of emulators and cheat devices, or FORMAT_RAW.
ImageFormat container_format(const unsigned char* head, size_t head_size, const unsigned char* tail,
                             long long length);

// Fills image_buffer with 0xFF and takes the raw save out of a save file of that format
// (which it checks all over again), setting data_length; the file is closed in every case.
ImageError read_container(const char* path, ImageFormat format, long long* detail);

// Whether the bytes of image_buffer from size up to data_length are padding alone: all
// 0xFF or all 0x00 (false when there are none).
bool only_padding_beyond(int size);

// Fill image_buffer with 0xFF, read the file into it and set data_length. On an error
// *detail holds the number the message shows; the file is closed in every case.
ImageError read_text_dump(const char* path, long long* detail);
ImageError read_binary_file(const char* path, long long* detail);
