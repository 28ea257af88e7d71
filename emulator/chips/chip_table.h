// The save chips the emulator models, one row each with named fields, as their makers'
// data sheets give them: what --chip, --help, the demonstration saves and the chip
// models themselves take their facts from.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace emu {

enum class ChipKind {
    le25fw203,
    m45pe20,
    m95040,
    m95640,
    m95512,
    m45pe40,
    m45pe80,
    le25fw403a,
    mx25l2005,
    mx25l4005,
    mx25l8005,
    mx25l6445e,
    m95m01,
    none
};

// How long the chips' internal cycles take: the data sheets' typical figures, or their
// guaranteed maxima (the worst a part within its data sheet may do).
enum class ChipTiming { typical, maximum };

struct Duration {
    uint64_t typ_ns;
    uint64_t max_ns;
    uint64_t of(ChipTiming t) const { return t == ChipTiming::maximum ? max_ns : typ_ns; }
};

// One erase instruction of a FLASH part: its code, the bytes it erases (aligned to
// that size; 0: the whole chip, and the instruction takes no address) and its time.
struct EraseInstruction {
    uint8_t code;
    uint32_t size;
    Duration time;
};

constexpr int MAX_ERASE_INSTRUCTIONS = 5;

struct ChipInfo {
    ChipKind kind;
    const char* name;    // as --chip spells it
    const char* vendor;  // as the tool names the maker
    const char* part;
    uint32_t size;      // bytes
    uint32_t page;      // page program (FLASH) or page write (EEPROM) size
    int address_bytes;  // after the instruction byte
    bool flash;
    uint32_t id;       // the three RDID bytes (FLASH only)
    Duration program;  // page program (FLASH) or write cycle tW (EEPROM)
    std::array<EraseInstruction, MAX_ERASE_INSTRUCTIONS> erases;  // unused entries have code 0
    bool infrared;  // public DS documentation names it behind an infrared transceiver
};

struct ChipRange {
    const ChipInfo* first;
    const ChipInfo* last;
    const ChipInfo* begin() const { return first; }
    const ChipInfo* end() const { return last; }
};

// Every chip, in the order --help lists them.
ChipRange chip_table();
// The row of a chip; std::invalid_argument for ChipKind::none.
const ChipInfo& chip_info(ChipKind kind);
// The erase instruction of that code, or nullptr when the part has none such.
const EraseInstruction* erase_instruction(const ChipInfo& chip, uint8_t code);

// Sizes as people write them: "512 bytes", "8 KiB", "1 MiB".
std::string size_text(uint32_t bytes);

}  // namespace emu
