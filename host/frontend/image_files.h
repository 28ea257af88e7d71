// The save image files: the text dump (hexadecimal rows of 16 bytes, CR LF line ends)
// and the binary file (the raw bytes), the loader of a write run's input file and the
// two writers.
#pragma once

// Loads the file into image_buffer (0xFF wherever the file puts nothing) and sets
// data_length. A name ending in ".txt" is a text dump; the save files of DeSmuME, no$gba
// and the Action Replay are known by their content and give the raw save inside them;
// otherwise a name ending in ".sav" is a binary file and any other name is decided by
// the first 16 bytes. Prints its messages; any failure ends the run.
void load_image_file(const char* path);

// A binary file longer than the memory of size bytes, whose excess is padding alone (all
// 0xFF or all 0x00, as flash cards and emulators pad saves), is cut to that size, with a
// line that says so; anything else is left for the size test.
void drop_padding(int size);

// Write the first length bytes of buffer as a text dump or a binary file, complete and
// on the disk, under a new temporary name beside the file name; commit_written_files
// then puts them in place. A file that cannot be written completely ends the run.
void write_text_dump(const char* name, const unsigned char* buffer, int length);
void write_binary_file(const char* name, const unsigned char* buffer, int length);

// Whether the existing file name, which a file written but not yet committed is to
// replace, holds other bytes than it (true also when it cannot be read; false when there
// is no such file).
bool replaced_file_differs(const char* name);

// Replaces each file by its new contents, in the order written. An existing file is
// replaced in one step, so that it is always either the complete old or the complete
// new one.
void commit_written_files();

// Removes the temporary files of what is not yet committed, prints that the file name
// cannot be written and ends the run.
[[noreturn]] void stop_writing(const char* name);
