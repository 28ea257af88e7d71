#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdio>

#include "platform/files.h"

long long file_length(std::FILE* file) {
    if (fseeko(file, 0, SEEK_END) != 0) return -1;
    off_t length = ftello(file);
    if (fseeko(file, 0, SEEK_SET) != 0) return -1;
    return length;
}

std::FILE* create_new_file(const char* name) {
    int fd = open(name, O_WRONLY | O_CREAT | O_EXCL, 0666);
    if (fd < 0) return nullptr;
    std::FILE* file = fdopen(fd, "wb");
    if (file == nullptr) {
        close(fd);
        unlink(name);
    }
    return file;
}

int sync_file(std::FILE* file) { return fsync(fileno(file)) == 0 ? 0 : -1; }

int replace_file(const char* temp_name, const char* name) {
    return std::rename(temp_name, name) == 0 ? 0 : -1;
}

void discard_file(const char* name) { unlink(name); }
