#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/files.h"

namespace {

FileKind kind_of(const struct stat& info) {
    if (S_ISREG(info.st_mode)) return FILE_REGULAR;
    return S_ISDIR(info.st_mode) ? FILE_FOLDER : FILE_OTHER;
}

}  // namespace

FileKind file_kind(const char* name) {
    struct stat info;
    if (stat(name, &info) != 0) return FILE_MISSING;
    return kind_of(info);
}

// A device, pipe or socket is not even opened when the name shows it; the open itself
// does not wait (O_NONBLOCK, which a regular file ignores) in case the name has changed
// in between, and the open file is checked once more.
std::FILE* open_regular_file(const char* name, FileKind* kind) {
    *kind = file_kind(name);
    if (*kind != FILE_REGULAR) return nullptr;
    int fd = open(name, O_RDONLY | O_NONBLOCK | O_NOCTTY);
    struct stat info;
    *kind = FILE_MISSING;
    if (fd >= 0 && fstat(fd, &info) == 0) *kind = kind_of(info);
    std::FILE* file = *kind == FILE_REGULAR ? fdopen(fd, "rb") : nullptr;
    if (file == nullptr && fd >= 0) close(fd);
    return file;
}

bool same_file(const char* name, const char* other) {
    struct stat a, b;
    return stat(name, &a) == 0 && stat(other, &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

long long file_modified(const char* name) {
    struct stat info;
    return stat(name, &info) == 0 ? static_cast<long long>(info.st_mtime) : -1;
}

long long file_length(std::FILE* file) {
    if (fseeko(file, 0, SEEK_END) != 0) return -1;
    off_t length = ftello(file);
    if (fseeko(file, 0, SEEK_SET) != 0) return -1;
    return length;
}

std::FILE* create_new_file(const char* name, bool* exists) {
    int fd = open(name, O_WRONLY | O_CREAT | O_EXCL, 0666);
    *exists = fd < 0 && errno == EEXIST;
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

// link() refuses an existing kept_name; file systems without hard links (FAT) get the
// move that refuses one too.
int keep_file(const char* name, const char* kept_name) {
    if (link(name, kept_name) == 0) return 0;
#ifdef RENAME_NOREPLACE
    if (errno != EEXIST && renameat2(AT_FDCWD, name, AT_FDCWD, kept_name, RENAME_NOREPLACE) == 0)
        return 0;
#endif
    return -1;
}

void discard_file(const char* name) { unlink(name); }

unsigned long process_number() { return static_cast<unsigned long>(getpid()); }

void report_failed_writes() {
    signal(SIGPIPE, SIG_IGN);
    signal(SIGXFSZ, SIG_IGN);
}
