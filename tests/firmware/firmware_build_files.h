// Reading the firmware linker's outputs: the Intel HEX image, the symbol map and the
// internal RAM summary.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace fwtest {

struct HexImage {
    std::vector<int> bytes;  // 65536 entries: the byte at each address, -1 where none
    unsigned end = 0;        // one past the highest address written
};

HexImage read_hex(const std::string& path);

// Global code symbols of the link map ("_firmware_main" -> address).
std::map<std::string, unsigned> read_code_symbols(const std::string& path);

struct RamUse {
    unsigned stack_start = 0;       // first byte of the stack
    std::vector<std::string> rows;  // the sixteen rows of the internal RAM chart
    unsigned external_ram = 0;      // bytes of external data memory used
};

RamUse read_ram_use(const std::string& path);

}  // namespace fwtest
