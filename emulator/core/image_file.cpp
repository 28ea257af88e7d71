#include "image_file.h"

#include <fstream>
#include <iterator>
#include <vector>

namespace emu {

namespace {

bool ends_with(const std::string& s, const std::string& tail) {
    if (s.size() < tail.size()) return false;
    for (size_t i = 0; i < tail.size(); ++i) {
        char c = s[s.size() - tail.size() + i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != tail[i]) return false;
    }
    return true;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Decodes one record line into bytes; false on odd length or a non-hex character.
bool decode_record(const std::string& line, std::vector<uint8_t>& bytes) {
    bytes.clear();
    if (line.empty() || line[0] != ':' || (line.size() - 1) % 2 != 0) return false;
    for (size_t i = 1; i < line.size(); i += 2) {
        int hi = hex_digit(line[i]), lo = hex_digit(line[i + 1]);
        if (hi < 0 || lo < 0) return false;
        bytes.push_back(static_cast<uint8_t>(hi << 4 | lo));
    }
    return true;
}

bool load_hex(std::istream& in, const std::string& path, uint8_t* memory, size_t memory_size,
              std::string& error) {
    std::string line;
    std::vector<uint8_t> rec;
    uint32_t base = 0;
    int number = 0;
    auto fail = [&](const char* what) {
        error = path + ":" + std::to_string(number) + ": " + what;
        return false;
    };
    while (std::getline(in, line)) {
        ++number;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
            line.pop_back();
        if (line.empty()) continue;
        if (!decode_record(line, rec) || rec.size() < 5 || rec.size() != rec[0] + 5u)
            return fail("malformed Intel HEX record");
        uint8_t sum = 0;
        for (uint8_t b : rec) sum = static_cast<uint8_t>(sum + b);
        if (sum != 0) return fail("Intel HEX checksum mismatch");
        uint32_t offset = static_cast<uint32_t>(rec[1] << 8 | rec[2]);
        switch (rec[3]) {
        case 0x00: {
            uint32_t start = base + offset;
            if (start + rec[0] > memory_size) return fail("data beyond the 64 KiB address space");
            for (size_t i = 0; i < rec[0]; ++i) memory[start + i] = rec[4 + i];
            break;
        }
        case 0x01: return true;
        case 0x02: base = static_cast<uint32_t>(rec[4] << 8 | rec[5]) << 4; break;
        case 0x04: base = static_cast<uint32_t>(rec[4] << 8 | rec[5]) << 16; break;
        case 0x03:
        case 0x05: break;  // start address: the 8051 always starts at 0
        default: return fail("unknown Intel HEX record type");
        }
    }
    error = path + ": Intel HEX file has no end-of-file record";
    return false;
}

}  // namespace

ImageFormat image_format_for(const std::string& path) {
    return ends_with(path, ".hex") || ends_with(path, ".ihx") ? ImageFormat::intel_hex
                                                              : ImageFormat::binary;
}

bool load_image(const std::string& path, ImageFormat format, uint8_t* memory, size_t memory_size,
                std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot open";
        return false;
    }
    if (format == ImageFormat::intel_hex) return load_hex(in, path, memory, memory_size, error);
    std::vector<char> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (data.size() > memory_size) {
        error = path + ": binary image larger than the 64 KiB address space";
        return false;
    }
    for (size_t i = 0; i < data.size(); ++i) memory[i] = static_cast<uint8_t>(data[i]);
    return true;
}

}  // namespace emu
