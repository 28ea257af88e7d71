#include "firmware_build_files.h"

#include <fstream>
#include <regex>
#include <stdexcept>

namespace fwtest {

namespace {

std::ifstream open_or_throw(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot open " + path);
    return in;
}

}  // namespace

HexImage read_hex(const std::string& path) {
    std::ifstream in = open_or_throw(path);
    HexImage image;
    image.bytes.assign(65536, -1);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] != ':') continue;
        auto byte_at = [&](size_t i) { return std::stoi(line.substr(1 + 2 * i, 2), nullptr, 16); };
        int count = byte_at(0);
        unsigned address = static_cast<unsigned>(byte_at(1) << 8 | byte_at(2));
        if (byte_at(3) == 1) break;
        for (int i = 0; i < count; ++i) {
            image.bytes[address + i] = byte_at(4 + i);
            if (address + i + 1 > image.end) image.end = address + i + 1;
        }
    }
    return image;
}

std::map<std::string, unsigned> read_code_symbols(const std::string& path) {
    std::ifstream in = open_or_throw(path);
    std::map<std::string, unsigned> symbols;
    static const std::regex symbol(R"(^\s*C:\s+([0-9A-Fa-f]{8})\s+(\S+))");
    std::string line;
    std::smatch m;
    while (std::getline(in, line))
        if (std::regex_search(line, m, symbol))
            symbols[m[2]] = static_cast<unsigned>(std::stoul(m[1], nullptr, 16));
    return symbols;
}

RamUse read_ram_use(const std::string& path) {
    std::ifstream in = open_or_throw(path);
    RamUse use;
    static const std::regex row(R"(^0x[0-9a-f]0:(\|.*\|)\s*$)");
    static const std::regex stack(R"(Stack starts at: 0x([0-9a-fA-F]+))");
    static const std::regex external(R"(^\s*EXTERNAL RAM\s+(\S.*)$)");
    std::string line;
    std::smatch m;
    while (std::getline(in, line)) {
        if (std::regex_search(line, m, row))
            use.rows.push_back(m[1]);
        else if (std::regex_search(line, m, stack))
            use.stack_start = static_cast<unsigned>(std::stoul(m[1], nullptr, 16));
        else if (std::regex_search(line, m, external)) {
            // "0x.... 0x.... size max" or just "size max": the size is the second-last field.
            std::vector<std::string> fields;
            std::string rest = m[1];
            std::regex ws(R"(\s+)");
            for (std::sregex_token_iterator it(rest.begin(), rest.end(), ws, -1), e; it != e; ++it)
                if (!it->str().empty()) fields.push_back(*it);
            if (fields.size() >= 2)
                use.external_ram =
                    static_cast<unsigned>(std::stoul(fields[fields.size() - 2], nullptr, 0));
        }
    }
    return use;
}

}  // namespace fwtest
