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

// A signal the process sends itself at a moment of virtual time (--fault sigint=MS and
// the like), as a user's Ctrl-C or the system's request to end would come.
struct SignalFault {
    uint64_t at_ms;
    int signal_number;
};

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
    uint32_t flaky_ppm = 0;  // 0: the contacts are clean
    uint64_t seed = 1;       // --seed: which bits flaky contacts invert
    bool drop_writes = false;
    std::vector<uint64_t> reinsert_ms;
    std::vector<SignalFault> signals;

    bool needs_save_chip() const {
        return pull || !stuck_bits.empty() || erase_hang || slow_program || drop_writes ||
               !reinsert_ms.empty();
    }
    bool timed() const { return kill || !reinsert_ms.empty() || !signals.empty(); }
};

// The faults that strike at a moment of virtual time, each at the first change of the
// bus lines from then on (nothing on the bus changes in between): the kill (the process
// ends on the spot, as by kill -9 or a power cut: no exit handlers, nothing flushed),
// the reinsertion of the cartridge, and the signals. Forwards the bus to the inner
// cartridge (which may be null: an empty slot).
class TimedFaults : public emu::Cartridge {
public:
    // The faults' times count from start_ns, when the tool's run begins.
    TimedFaults(emu::Cartridge* inner, const FaultSet& faults, uint64_t start_ns);
    void drive(emu::BusLines lines, uint64_t now_ns) override;
    int output(uint64_t now_ns) override { return inner_ ? inner_->output(now_ns) : -1; }
    void reinsert(uint64_t now_ns) override {
        if (inner_) inner_->reinsert(now_ns);
    }

private:
    enum class Action { kill, reinsert, signal };
    struct Event {
        uint64_t at_ns;
        Action action;
        int signal_number;
    };
    emu::Cartridge* inner_;
    std::vector<Event> events_;  // in time order
    size_t next_ = 0;
};

// A whole decimal number up to max, or hexadecimal after 0x; nothing else, no sign.
bool parse_number(const std::string& text, uint64_t max, uint64_t& value);

// Adds one SPEC to the set; false with a message naming the problem when it is not one
// of the spellings or its number is out of range.
bool parse_fault(const std::string& spec, FaultSet& faults, std::string& error);

// The spellings, one per line, for --help.
const char* fault_help();

}  // namespace emu_launcher
