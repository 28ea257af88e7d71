// The save image files: the text dump (hexadecimal rows of 16 bytes, CR LF line ends)
// and the binary file (the raw bytes), the loader of a write run's input file and the
// two writers.
#pragma once

// Loads the file into image_buffer (0xFF wherever the file puts nothing) and sets
// data_length. A name ending in ".txt" is a text dump, one ending in ".sav" a binary
// file; any other name is decided by the first 16 bytes. Prints its messages; any
// failure ends the run.
void load_image_file(const char* path);

// Write the first length bytes of buffer as a text dump or a binary file. An existing
// file is replaced only once the new one is complete on disk; a file that cannot be
// written completely ends the run.
void write_text_dump(const char* name, const unsigned char* buffer, int length);
void write_binary_file(const char* name, const unsigned char* buffer, int length);
