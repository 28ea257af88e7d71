#include <io.h>
#include <windows.h>

#include <cstdio>

#include "platform/files.h"

long long file_length(std::FILE* file) {
    if (_fseeki64(file, 0, SEEK_END) != 0) return -1;
    long long length = _ftelli64(file);
    if (_fseeki64(file, 0, SEEK_SET) != 0) return -1;
    return length;
}

int sync_file(std::FILE* file) { return _commit(_fileno(file)) == 0 ? 0 : -1; }

// The C runtime's rename refuses an existing target; MoveFileEx replaces it.
int replace_file(const char* temp_name, const char* name) {
    return MoveFileExA(temp_name, name, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? 0
                                                                                           : -1;
}

void discard_file(const char* name) { DeleteFileA(name); }
