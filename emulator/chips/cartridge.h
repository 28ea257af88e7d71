// A cartridge in the adapter's slot, seen from its four save-memory bus lines.
#pragma once

#include "chips/chip_table.h"

#include <cstdint>
#include <memory>
#include <string>

namespace emu {

// Levels of PB2 (select, low = selected), PB1 (clock) and PB0 (data to the chip).
struct BusLines {
    bool select;
    bool clock;
    bool data;
};

class Cartridge {
public:
    virtual ~Cartridge() = default;
    // Called on every change of any of the three lines, in time order.
    virtual void drive(BusLines lines, uint64_t now_ns) = 0;
    // Level on the chip's data output (wired to PC0): 0 or 1, or -1 when the chip does not
    // drive it (the adapter's pull-up then makes the line read 1).
    virtual int output(uint64_t now_ns) = 0;
    // The cartridge was pulled out of the slot and pushed back in at now_ns, its
    // contacts lost and made again within one bus change: what it was doing is lost and
    // it starts as at power-up (the memory keeps its bytes). A cartridge without any
    // state of its own has nothing to do.
    virtual void reinsert(uint64_t now_ns) { (void)now_ns; }
};

// The chip's name as the command line spells it (its chip_table() name, or "none").
const char* chip_kind_name(ChipKind kind);
// False when the name is none of the above.
bool parse_chip_kind(const std::string& name, ChipKind& kind);
// Memory size in bytes; 0 for none.
uint32_t chip_size(ChipKind kind);

// A blank (all 0xFF) chip of that kind, or for ChipKind::none a slot holding a cartridge
// without a save chip, which never drives the data line. The concrete chips, with memory
// access, files, records and faults, are constructed as SaveChip (save_chip.h).
std::unique_ptr<Cartridge> make_cartridge(ChipKind kind);

}  // namespace emu
