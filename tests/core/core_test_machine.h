// A core on a flat 64 KiB memory, with a recording bus, for the instruction tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <utility>
#include <vector>

#include "cpu8051.h"

namespace core_test {

// Remembers every access that left the core.
class RecordingBus : public emu::Cpu8051Bus {
public:
    uint8_t xdata_read(uint16_t addr) override {
        reads.push_back(addr);
        return static_cast<uint8_t>(addr ^ 0x5A);
    }
    void xdata_write(uint16_t addr, uint8_t value) override { writes.emplace_back(addr, value); }
    void interrupt_taken(uint16_t vector) override { vectors.push_back(vector); }

    std::vector<uint16_t> reads;
    std::vector<std::pair<uint16_t, uint8_t>> writes;
    std::vector<uint16_t> vectors;
};

struct Machine {
    explicit Machine(uint32_t hook_base = 0x7B40) : cpu(mem.data(), &bus, hook_base) {}

    void load(std::initializer_list<uint8_t> code, uint16_t at = 0) {
        for (uint8_t b : code) mem[at++] = b;
    }
    void set_a(uint8_t v) { cpu.set_sfr(emu::sfr::ACC, v); }
    void set_psw(uint8_t v) { cpu.set_sfr(emu::sfr::PSW, v); }
    void set_r(int n, uint8_t v) { cpu.set_iram(static_cast<uint8_t>((cpu.psw() & 0x18) + n), v); }
    // Steps until PC reaches stop (or max_steps), returning the cycles used.
    uint64_t run_to(uint16_t stop, int max_steps = 100000) {
        uint64_t start = cpu.cycles();
        for (int i = 0; i < max_steps && cpu.pc() != stop; ++i)
            if (cpu.step() == 0) break;
        return cpu.cycles() - start;
    }

    std::vector<uint8_t> mem = std::vector<uint8_t>(emu::Cpu8051::MEMORY_SIZE);
    RecordingBus bus;
    emu::Cpu8051 cpu;
};

}  // namespace core_test
