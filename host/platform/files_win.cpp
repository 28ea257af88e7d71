#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cstdio>

#include "platform/files.h"

long long file_length(std::FILE* file) {
    if (_fseeki64(file, 0, SEEK_END) != 0) return -1;
    long long length = _ftelli64(file);
    if (_fseeki64(file, 0, SEEK_SET) != 0) return -1;
    return length;
}

std::FILE* create_new_file(const char* name) {
    int fd = _open(name, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0) return nullptr;
    std::FILE* file = _fdopen(fd, "wb");
    if (file == nullptr) {
        _close(fd);
        DeleteFileA(name);
    }
    return file;
}

int sync_file(std::FILE* file) { return _commit(_fileno(file)) == 0 ? 0 : -1; }

// The C runtime's rename refuses an existing target; MoveFileEx replaces it.
int replace_file(const char* temp_name, const char* name) {
    return MoveFileExA(temp_name, name, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? 0
                                                                                           : -1;
}

void discard_file(const char* name) { DeleteFileA(name); }
