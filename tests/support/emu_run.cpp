#include "emu_run.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
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

}  // namespace

std::string EmuResult::last_message() const {
    if (messages.size() < 2 || messages.back() != PROMPT) return "";
    return messages[messages.size() - 2];
}

bool EmuResult::printed(const std::string& message) const {
    return std::find(messages.begin(), messages.end(), message) != messages.end();
}

ScratchFolder::ScratchFolder() {
    char name[] = "/tmp/pelkat_run_XXXXXX";
    if (mkdtemp(name) == nullptr) throw std::runtime_error("no scratch folder");
    path_ = name;
}

ScratchFolder::~ScratchFolder() {
    if (!keep_) std::system(("chmod -R u+w '" + path_ + "' && rm -rf '" + path_ + "'").c_str());
}

std::vector<std::string> ScratchFolder::entries() const {
    std::vector<std::string> names;
    if (DIR* dir = opendir(path_.c_str())) {
        while (dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

EmuResult ScratchFolder::run(const std::string& arguments, const std::string& locale) const {
    // Beside the folder, not in it: the folder's entries are part of what a test checks.
    std::string out_file = path_ + ".out", err_file = path_ + ".err";
    std::string command = "cd '" + path_ + "' && env " + locale + " '" PELKAT_EMU "' " + arguments +
                          " >'" + out_file + "' 2>'" + err_file + "' </dev/null";
    int status = std::system(command.c_str());
    EmuResult result;
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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
    if (at != std::string::npos) result.virtual_s = std::strtod(result.err.c_str() + at + 22, nullptr);
    result.control = stat_transfers(result.err, "control");
    result.bulk_out = stat_transfers(result.err, "EP1 OUT");
    result.bulk_in = stat_transfers(result.err, "EP1 IN");
    return result;
}

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
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
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
