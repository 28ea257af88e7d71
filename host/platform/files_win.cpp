#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>

#include "platform/files.h"

FileKind file_kind(const char* name) {
    DWORD attributes = GetFileAttributesA(name);
    if (attributes == INVALID_FILE_ATTRIBUTES) return FILE_MISSING;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? FILE_FOLDER : FILE_REGULAR;
}

// Devices (CON, NUL, COM1) and pipes open like files without waiting; only what lies on
// a disk is a file to read.
std::FILE* open_regular_file(const char* name, FileKind* kind) {
    std::FILE* file = std::fopen(name, "rb");
    if (file == nullptr) {
        *kind = file_kind(name) == FILE_FOLDER ? FILE_FOLDER : FILE_MISSING;
        return nullptr;
    }
    *kind = FILE_REGULAR;
    if (GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)))) != FILE_TYPE_DISK) {
        std::fclose(file);
        *kind = FILE_OTHER;
        return nullptr;
    }
    return file;
}

namespace {

// The volume and the file's index on it name a file whatever the path; 0 or -1.
int file_identity(const char* name, BY_HANDLE_FILE_INFORMATION* info) {
    HANDLE handle = CreateFileA(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return -1;
    BOOL known = GetFileInformationByHandle(handle, info);
    CloseHandle(handle);
    return known ? 0 : -1;
}

}  // namespace

bool same_file(const char* name, const char* other) {
    BY_HANDLE_FILE_INFORMATION a, b;
    return file_identity(name, &a) == 0 && file_identity(other, &b) == 0 &&
           a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

long long file_modified(const char* name) {
    struct _stat64 info;
    return _stat64(name, &info) == 0 ? static_cast<long long>(info.st_mtime) : -1;
}

long long file_length(std::FILE* file) {
    if (_fseeki64(file, 0, SEEK_END) != 0) return -1;
    long long length = _ftelli64(file);
    if (_fseeki64(file, 0, SEEK_SET) != 0) return -1;
    return length;
}

std::FILE* create_new_file(const char* name, bool* exists) {
    int fd = _open(name, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    *exists = fd < 0 && errno == EEXIST;
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

// Both refuse an existing kept_name; FAT volumes have no hard links.
int keep_file(const char* name, const char* kept_name) {
    if (CreateHardLinkA(kept_name, name, nullptr)) return 0;
    return MoveFileExA(name, kept_name, MOVEFILE_WRITE_THROUGH) ? 0 : -1;
}

void discard_file(const char* name) { DeleteFileA(name); }

unsigned long process_number() { return GetCurrentProcessId(); }

// Windows ends no process for a failed write: the call returns its error.
void report_failed_writes() {}
