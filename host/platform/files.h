// File-system services the save image files need beyond the standard streams.
#pragma once
#include <cstdio>

// The length of an open file in bytes, or -1 when it cannot be taken.
long long file_length(std::FILE* file);

// Creates a file that must not exist yet and opens it for binary writing; nullptr when
// a file of that name exists already or cannot be created.
std::FILE* create_new_file(const char* name);

// Pushes the file's written bytes to the disk. 0 or -1.
int sync_file(std::FILE* file);

// Renames temp_name to name in one step, replacing an existing file of that name, so
// that a reader (or a crash) sees either the complete old file or the complete new one.
// 0 or -1.
int replace_file(const char* temp_name, const char* name);

// Removes a file that is no longer wanted; a failure is ignored.
void discard_file(const char* name);
