#include "emu_run.h"

#include <sys/stat.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <sys/wait.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace {

const std::string PROMPT = "[ 何かキーを押して下さい ]";

uint64_t stat_transfers(const std::string& err, const std::string& pipe) {
    size_t at = err.find("pelkat-emu:   " + pipe + " ");
    if (at == std::string::npos) return 0;
    return std::strtoull(err.c_str() + at + 14 + pipe.size(), nullptr, 10);
}

// The run's result from its exit code and the files that took its output.
EmuResult collect(int exit_code, const std::string& out_file, const std::string& err_file) {
    EmuResult result;
    result.exit_code = exit_code;
    Bytes out = read_file(out_file), err = read_file(err_file);
    std::remove(out_file.c_str());
    std::remove(err_file.c_str());
    result.out.assign(out.begin(), out.end());
    result.err.assign(err.begin(), err.end());
    std::string piece;
    for (char c : result.out) {
        if (c == '\n' || c == '\r') {
            if (!piece.empty()) result.messages.push_back(piece);
            piece.clear();
        } else {
            piece += c;
        }
    }
    if (!piece.empty()) result.messages.push_back(piece);
    size_t at = result.err.find("modeled hardware time ");
    if (at != std::string::npos)
        result.virtual_s = std::strtod(result.err.c_str() + at + 22, nullptr);
    result.control = stat_transfers(result.err, "control");
    result.bulk_out = stat_transfers(result.err, "EP1 OUT");
    result.bulk_in = stat_transfers(result.err, "EP1 IN");
    return result;
}

}  // namespace

std::string previous_firmware_option() {
    return std::string("--adapter-firmware \"") + PELKAT_PREVIOUS_FIRMWARE + "\"";
}

std::string EmuResult::last_message() const {
    if (messages.size() < 2 || messages.back() != PROMPT) return "";
    return messages[messages.size() - 2];
}

bool EmuResult::printed(const std::string& message) const {
    return std::find(messages.begin(), messages.end(), message) != messages.end();
}

#ifdef _WIN32

ScratchFolder::ScratchFolder() {
    static unsigned serial;
    for (;;) {
        std::filesystem::path path = std::filesystem::temp_directory_path() /
                                     ("pelkat_run_" + std::to_string(GetCurrentProcessId()) + "_" +
                                      std::to_string(++serial));
        if (std::filesystem::create_directory(path)) {
            path_ = path.string();
            return;
        }
    }
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    if (!keep_) std::filesystem::remove_all(path_, ignored);
}

namespace {

HANDLE inheritable(const std::string& name, DWORD access, DWORD disposition) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    return CreateFileA(name.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The program in the folder, standard output and error to the files, input from NUL.
int run_program(const std::string& folder, const std::string& arguments,
                const std::string& out_file, const std::string& err_file) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inheritable("NUL", GENERIC_READ, OPEN_EXISTING);
    startup.hStdOutput = inheritable(out_file, GENERIC_WRITE, CREATE_ALWAYS);
    startup.hStdError = inheritable(err_file, GENERIC_WRITE, CREATE_ALWAYS);
    std::string command = "\"" PELKAT_EMU "\" " + arguments;
    PROCESS_INFORMATION process;
    BOOL started = CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr,
                                  folder.c_str(), &startup, &process);
    for (HANDLE handle : {startup.hStdInput, startup.hStdOutput, startup.hStdError})
        CloseHandle(handle);
    if (!started) return -1;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

}  // namespace

#else

ScratchFolder::ScratchFolder() {
    char name[] = "/tmp/pelkat_run_XXXXXX";
    if (mkdtemp(name) == nullptr) throw std::runtime_error("no scratch folder");
    path_ = name;
}

ScratchFolder::~ScratchFolder() {
    if (!keep_) std::system(("chmod -R u+w '" + path_ + "' && rm -rf '" + path_ + "'").c_str());
}

#endif

std::vector<std::string> ScratchFolder::entries() const {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(path_, error)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

EmuResult ScratchFolder::run(const std::string& arguments, const std::string& before,
                             const std::string& output) const {
    // Beside the folder, not in it: the folder's entries are part of what a test checks.
    std::string out_file = path_ + ".out", err_file = path_ + ".err";
#ifdef _WIN32
    if (!before.empty() || !output.empty())
        throw std::invalid_argument("no shell to run those words");
    return collect(run_program(path_, arguments, out_file, err_file), out_file, err_file);
#else
    std::string command = "cd '" + path_ + "' && export LC_ALL=C && " + before +
                          " '" PELKAT_EMU "' " + arguments + " " +
                          (output.empty() ? ">'" + out_file + "'" : output) + " 2>'" + err_file +
                          "' </dev/null";
    int status = std::system(command.c_str());
    return collect(WIFEXITED(status) ? WEXITSTATUS(status) : -1, out_file, err_file);
#endif
}

#ifndef _WIN32
EmuResult ScratchFolder::run_other(const std::string& program, const std::string& arguments) const {
    std::string out_file = path_ + ".out", err_file = path_ + ".err";
    std::string command = "cd '" + path_ + "' && export LC_ALL=C && '" + program + "' " +
                          arguments + " >'" + out_file + "' 2>'" + err_file + "' </dev/null";
    int status = std::system(command.c_str());
    return collect(WIFEXITED(status) ? WEXITSTATUS(status) : -1, out_file, err_file);
}
#endif

Bytes read_file(const std::string& path) {
    if (is_folder(path)) return {};
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool is_folder(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool exists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

void write_file(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

Bytes pattern(size_t length, uint32_t seed) {
    Bytes bytes(length);
    for (auto& b : bytes) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<uint8_t>(seed >> 16);
    }
    return bytes;
}

Bytes text_dump(const Bytes& bytes) {
    std::string text;
    char field[16];
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i % 16 == 0) {
            std::snprintf(field, sizeof field, "%04X", static_cast<unsigned>(i));
            text += field;
        }
        std::snprintf(field, sizeof field, " %02X", bytes[i]);
        text += field;
        if (i % 16 == 15) text += "\r\n";
    }
    text += "\r\n";
    return Bytes(text.begin(), text.end());
}

bool is_kept_backup(const std::string& name) { return name.rfind("backup-", 0) == 0; }

bool holds_backup(const ScratchFolder& folder, const Bytes& text, const Bytes& binary) {
    for (const std::string& name : folder.entries()) {
        if (name != "backup.txt" &&
            !(is_kept_backup(name) && name.size() > 4 && name.substr(name.size() - 4) == ".txt"))
            continue;
        const std::string stem = folder.file(name.substr(0, name.size() - 4));
        if (read_file(stem + ".txt") == text && exists(stem + ".sav") &&
            read_file(stem + ".sav") == binary)
            return true;
    }
    return false;
}
