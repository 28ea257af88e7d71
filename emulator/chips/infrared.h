// The infrared transceiver of some DS cartridges, in front of their save memory
// (GBATEK, "DS Cart Infrared Cartridge SPI Commands" and "DS Cart Infrared Component
// Lists"): a microcontroller on the save bus, and a gate that forwards select to the
// memory. The first byte of every command decides: 00h passes the rest of the command
// to the memory; any other byte is a command of the microcontroller itself (infrared
// receive and transmit, reads and writes of its own memory, ...), which it answers with
// zero bytes here.
//
// Timing, with the only figures the documentation gives: the microcontroller takes the
// bus at 1 MHz at most and needs a pause after a byte ("Waiting 800h clks at 33MHz seems
// to work okay", 61 us); the memory's own commands run at full speed, "except, the
// leading 00h prefix must be transferred at 1MHz plus delay, and another delay is needed
// when releasing chipselect after last byte". Modeled, for the typical and the worst
// case alike (the documentation gives no range):
// - a prefix clocked faster than 1 MHz is not recognised: the command is the
//   microcontroller's;
// - the memory is selected 61 us after the prefix's last bit; bits clocked before then
//   do not reach it;
// - select released within 61 us of the last clock edge of a memory command is missed
//   by the microcontroller: the gate stays open, so the next command reaches the memory
//   from its first byte on (prefix and all), until a release the microcontroller sees.
#pragma once

#include "chips/cartridge.h"

#include <cstdint>
#include <vector>

namespace emu {

class InfraredTransceiver final : public Cartridge {
public:
    static constexpr uint64_t PAUSE_NS = 61100;      // 2048 clocks at 33.51 MHz
    static constexpr uint64_t PREFIX_BIT_NS = 1000;  // 1 MHz

    explicit InfraredTransceiver(Cartridge* memory) : memory_(memory) {}

    void drive(BusLines lines, uint64_t now_ns) override;
    int output(uint64_t now_ns) override;
    // The microcontroller restarts with the memory: the gate closed, the command under
    // way lost; it waits for the next fall of select.
    void reinsert(uint64_t now_ns) override;

    // The first bytes of the commands the microcontroller took as its own, in order.
    const std::vector<uint8_t>& mcu_commands() const { return mcu_commands_; }
    // Memory commands that broke one of the timing rules above.
    int timing_faults() const { return timing_faults_; }

private:
    enum class Phase { idle, first_byte, mcu, opening, memory };

    void release(uint64_t now_ns);
    void first_byte_edge(BusLines lines, uint64_t now_ns);

    Cartridge* memory_;
    BusLines lines_{true, false, false};
    Phase phase_ = Phase::idle;
    bool gate_open_ = false;  // the memory selected whenever select is low
    int bits_ = 0;
    uint8_t byte_ = 0;
    bool too_fast_ = false;
    bool late_bits_ = false;  // bits clocked before the gate opened
    uint64_t last_rise_ns_ = 0;
    uint64_t last_edge_ns_ = 0;
    uint64_t open_ns_ = 0;
    std::vector<uint8_t> mcu_commands_;
    int timing_faults_ = 0;
};

}  // namespace emu
