// The fault spellings of `pelkat-emu --fault SPEC`, and where each one lands: the USB
// side of the adapter, the board's data-in line, or the save chip.
#pragma once

#include "chips/cartridge.h"
#include "ezusb/adapter.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace emu_launcher {

struct FaultSet {
    emu::UsbFaults usb;
    bool unplugged_from_start = false;  // unplug=0: no adapter on the bus at all
    int data_in = -1;                   // -1: healthy; 0 or 1: stuck at that level
    bool pull = false;
    uint64_t pull_ms = 0;
    std::vector<std::pair<uint32_t, uint8_t>> stuck_bits;  // address, mask
    bool erase_hang = false;
    bool slow_program = false;
    uint32_t program_us = 0;
    bool kill = false;
    uint64_t kill_ms = 0;

    bool needs_save_chip() const {
        return pull || !stuck_bits.empty() || erase_hang || slow_program;
    }
};

// The kill fault: the process ends on the spot, as by kill -9 or a power cut (no exit
// handlers, nothing flushed), at the first change of the bus lines from kill_ns of
// virtual time on. Forwards the bus to the inner cartridge (which may be null: an empty
// slot) until then.
class KillAt : public emu::Cartridge {
public:
    KillAt(emu::Cartridge* inner, uint64_t kill_ns) : inner_(inner), kill_ns_(kill_ns) {}
    void drive(emu::BusLines lines, uint64_t now_ns) override;
    int output(uint64_t now_ns) override { return inner_ ? inner_->output(now_ns) : -1; }

private:
    emu::Cartridge* inner_;
    uint64_t kill_ns_;
};

// Adds one SPEC to the set; false with a message naming the problem when it is not one
// of the spellings or its number is out of range.
bool parse_fault(const std::string& spec, FaultSet& faults, std::string& error);

// The spellings, one per line, for --help.
const char* fault_help();

}  // namespace emu_launcher
