// The loader's core: deciding the format of a write run's input file and reading it into
// image_buffer. Prints nothing and never ends the run, so that every outcome can be
// reported by the caller (and any file at all can be fed to it).
#pragma once

enum ImageError {
    IMAGE_OK = 0,
    IMAGE_NOT_FOUND,    // cannot be opened (or is a folder)
    IMAGE_NOT_REGULAR,  // a named pipe, device or socket
    IMAGE_READ_FAILED,  // opened, but reading it failed
    IMAGE_BAD_FORMAT,   // detail: the token count of the offending line
    IMAGE_BAD_ADDRESS,  // detail: the row's address
    IMAGE_TOO_LARGE,    // detail: the binary file's length
};

// A name ending in ".txt" is a text dump, one ending in ".sav" a binary file; any other
// name is decided by the first 16 bytes: all printable ASCII makes a text dump.
ImageError decide_image_format(const char* path, bool* text);

// Fill image_buffer with 0xFF, read the file into it and set data_length. On an error
// *detail holds the number the message shows; the file is closed in every case.
ImageError read_text_dump(const char* path, long long* detail);
ImageError read_binary_file(const char* path, long long* detail);
