// File-system services the save image files need beyond the standard streams.
#pragma once
#include <cstdio>

// What a name stands for, symbolic links followed.
enum FileKind { FILE_MISSING, FILE_REGULAR, FILE_FOLDER, FILE_OTHER };
FileKind file_kind(const char* name);

// Opens a regular file for binary reading. Anything else is not opened at all, or is
// opened without waiting (a named pipe with no writer, a terminal) and closed again:
// nullptr, with *kind telling what the name stands for (FILE_OTHER: neither a regular
// file nor a folder).
std::FILE* open_regular_file(const char* name, FileKind* kind);

// True when both names lead to one and the same file (a link to it, or the same name
// spelt differently); false when either does not exist.
bool same_file(const char* name, const char* other);

// The last modification of the file, in seconds since 1970, or -1.
long long file_modified(const char* name);

// The length of an open file in bytes, or -1 when it cannot be taken.
long long file_length(std::FILE* file);

// Creates a file that must not exist yet and opens it for binary writing; nullptr when
// it cannot be created, with *exists telling whether a file of that name is in the way.
std::FILE* create_new_file(const char* name, bool* exists);

// Pushes the file's written bytes to the disk. 0 or -1.
int sync_file(std::FILE* file);

// Renames temp_name to name in one step, replacing an existing file of that name, so
// that a reader (or a crash) sees either the complete old file or the complete new one.
// 0 or -1.
int replace_file(const char* temp_name, const char* name);

// Gives the file name a further name, kept_name, which must not exist yet: a second
// link to the same file, or (where the file system has none) the file moved there in
// one step. Nothing that exists is ever replaced. 0 or -1.
int keep_file(const char* name, const char* kept_name);

// Removes a file that is no longer wanted; a failure is ignored.
void discard_file(const char* name);

// This process's number, to tell its temporary files from those of other runs.
unsigned long process_number();

// Writes that fail for a file-size limit or a closed pipe return an error from now on
// (which the writers and the console report) instead of ending the process by a signal.
void report_failed_writes();
