#include "chips/mapped_file.h"

#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace emu {

#ifdef _WIN32

namespace {

std::runtime_error failure(const std::string& path) {
    return std::runtime_error("cannot map cartridge file " + path + " for writing (Windows error " +
                              std::to_string(GetLastError()) + ")");
}

}  // namespace

MappedFile::MappedFile(const std::string& path) {
    HANDLE file =
        CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) throw failure(path);
    LARGE_INTEGER length;
    if (!GetFileSizeEx(file, &length)) {
        CloseHandle(file);
        throw failure(path);
    }
    file_ = file;
    size_ = static_cast<size_t>(length.QuadPart);
    if (size_ == 0) return;
    mapping_ = CreateFileMappingA(file, nullptr, PAGE_READWRITE, 0, 0, nullptr);
    if (mapping_ != nullptr)
        data_ = static_cast<uint8_t*>(MapViewOfFile(mapping_, FILE_MAP_WRITE, 0, 0, 0));
    if (data_ == nullptr) {
        std::runtime_error error = failure(path);
        if (mapping_ != nullptr) CloseHandle(mapping_);
        CloseHandle(file);
        throw error;
    }
}

MappedFile::~MappedFile() {
    if (data_ != nullptr) UnmapViewOfFile(data_);
    if (mapping_ != nullptr) CloseHandle(mapping_);
    if (file_ != nullptr) CloseHandle(file_);
}

#else

namespace {

std::runtime_error failure(const std::string& path) {
    return std::runtime_error("cannot map cartridge file " + path +
                              " for writing: " + std::strerror(errno));
}

}  // namespace

MappedFile::MappedFile(const std::string& path) {
    int fd = open(path.c_str(), O_RDWR);
    if (fd < 0) throw failure(path);
    struct stat info;
    void* mapped = MAP_FAILED;
    if (fstat(fd, &info) == 0) {
        size_ = static_cast<size_t>(info.st_size);
        mapped =
            size_ == 0 ? nullptr : mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    }
    int error = errno;
    close(fd);  // the mapping keeps the file
    errno = error;
    if (mapped == MAP_FAILED) throw failure(path);
    data_ = static_cast<uint8_t*>(mapped);
}

MappedFile::~MappedFile() {
    if (data_ != nullptr) munmap(data_, size_);
}

#endif

}  // namespace emu
