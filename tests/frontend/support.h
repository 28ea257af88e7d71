// Helpers for the front end's tests: standard streams redirected to files, scratch
// folders, whole files read and written.
#pragma once
#include <string>

// Everything written to standard output (file descriptor 1) while it lives. On Windows
// the capture file is in text mode, as a console or pipe is, so a newline arrives as CR LF.
class CapturedStdout {
public:
    CapturedStdout();
    ~CapturedStdout();
    // Ends the capture (if still running) and returns the bytes.
    std::string text();

private:
    std::string path_;
    int saved_ = -1;
};

// Standard input (file descriptor 0) reads the given bytes while it lives.
class FedStdin {
public:
    explicit FedStdin(const std::string& bytes);
    ~FedStdin();

private:
    std::string path_;
    int saved_ = -1;
};

// A folder below the current one, named after the running test; its path ends in the
// platform's separator.
std::string scratch_folder();
std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& bytes);
bool file_exists(const std::string& path);
void make_folder(const std::string& path);
