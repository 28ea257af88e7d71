// Drives a cartridge's bus pins the way the adapter does (SPI mode 0, clock resting low),
// advancing a virtual clock by a fixed step per pin change.
#pragma once

#include "chips/cartridge.h"

#include <cstdint>
#include <vector>

namespace emu_test {

constexpr uint64_t NS_PER_MS = 1000000;

class BusMaster {
public:
    explicit BusMaster(emu::Cartridge& cart, uint64_t step_ns = 500) : cart_(cart), step_(step_ns) {
        set({true, false, false});
    }
    uint64_t now() const { return now_; }
    void wait_ns(uint64_t ns) { now_ += ns; }
    void set_step_ns(uint64_t ns) { step_ = ns; }

    void select() { set({false, false, false}); }
    void deselect() { set({true, false, false}); }

    void write_bits(uint32_t value, int count) {
        for (int i = count - 1; i >= 0; --i) {
            bool bit = (value >> i) & 1;
            set({false, false, bit});
            set({false, true, bit});
        }
        set({false, false, false});
    }
    void write(std::initializer_list<uint8_t> bytes) {
        for (uint8_t b : bytes) write_bits(b, 8);
    }
    void write(const std::vector<uint8_t>& bytes) {
        for (uint8_t b : bytes) write_bits(b, 8);
    }
    // One byte in: sample while the clock is high, as the adapter does. An undriven line
    // reads 1 (the pull-up); -1 bits are counted in undriven_bits().
    uint8_t read() {
        uint8_t v = 0;
        for (int i = 0; i < 8; ++i) {
            set({false, true, false});
            int level = cart_.output(now_);
            if (level < 0) ++undriven_;
            v = static_cast<uint8_t>((v << 1) | (level != 0 ? 1 : 0));
            set({false, false, false});
        }
        return v;
    }
    std::vector<uint8_t> read(size_t n) {
        std::vector<uint8_t> out;
        for (size_t i = 0; i < n; ++i) out.push_back(read());
        return out;
    }
    int undriven_bits() const { return undriven_; }

    // Whole commands, each framed by select.
    void command(std::initializer_list<uint8_t> bytes) {
        select();
        write(bytes);
        deselect();
    }
    std::vector<uint8_t> query(std::initializer_list<uint8_t> bytes, size_t n) {
        select();
        write(bytes);
        auto out = read(n);
        deselect();
        return out;
    }
    uint8_t status() { return query({0x05}, 1)[0]; }

private:
    void set(emu::BusLines lines) {
        now_ += step_;
        cart_.drive(lines, now_);
    }
    emu::Cartridge& cart_;
    uint64_t step_;
    uint64_t now_ = 0;
    int undriven_ = 0;
};

}  // namespace emu_test
