#include "support.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#ifdef _WIN32
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
int sys_dup(int fd) { return _dup(fd); }
void sys_dup2(int from, int to) { _dup2(from, to); }
void sys_close(int fd) { _close(fd); }
int sys_open(const char* path, bool for_reading) {
    return for_reading ? _open(path, _O_RDONLY | _O_BINARY)
                       : _open(path, _O_WRONLY | _O_CREAT | _O_TRUNC | _O_TEXT, 0644);
}
#else
int sys_dup(int fd) { return dup(fd); }
void sys_dup2(int from, int to) { dup2(from, to); }
void sys_close(int fd) { close(fd); }
int sys_open(const char* path, bool for_reading) {
    return for_reading ? open(path, O_RDONLY) : open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
}
#endif

}  // namespace

namespace {

int redirect(int fd, const std::string& path, bool for_reading) {
    std::fflush(stdout);
    int saved = sys_dup(fd);
    int file = sys_open(path.c_str(), for_reading);
    sys_dup2(file, fd);
    sys_close(file);
    return saved;
}

void restore(int fd, int saved) {
    std::fflush(stdout);
    sys_dup2(saved, fd);
    sys_close(saved);
}

}  // namespace

CapturedStdout::CapturedStdout() : path_(scratch_folder() + "stdout.bin") {
    saved_ = redirect(1, path_, false);
}

CapturedStdout::~CapturedStdout() {
    if (saved_ >= 0) restore(1, saved_);
}

std::string CapturedStdout::text() {
    if (saved_ >= 0) restore(1, saved_);
    saved_ = -1;
    return read_file(path_);
}

FedStdin::FedStdin(const std::string& bytes) : path_(scratch_folder() + "stdin.bin") {
    write_file(path_, bytes);
    saved_ = redirect(0, path_, true);
}

FedStdin::~FedStdin() { restore(0, saved_); }

std::string scratch_folder() {
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string("scratch_") + test->test_suite_name() + "_" + test->name();
    for (char& c : name) {
        if (c == '/') c = '_';
    }
    make_folder(name);
#ifdef _WIN32
    return name + "\\";
#else
    return name + "/";
#endif
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

bool file_exists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

void make_folder(const std::string& path) {
#ifdef _WIN32
    _mkdir(path.c_str());
#else
    mkdir(path.c_str(), 0755);
#endif
}
