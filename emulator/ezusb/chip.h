// The EZ-USB AN21xx chip around the 8051: 8 KiB of internal RAM for code and data, the
// register page and endpoint buffers with their side effects, the port pins with the
// cartridge on port B and C, and the USB interrupt with its autovector.
//
// The USB side (adapter.cpp) drives it through the endpoint calls below; they are what
// the chip's serial interface engine does when a packet arrives or leaves.
#pragma once

#include <cstdint>
#include <functional>

#include "core/cpu8051.h"

namespace emu {

class Cartridge;

class Chip final : public Cpu8051Bus {
public:
    Chip();

    // Power-up: RAM and registers to their reset values, 8051 held in reset.
    void power_up();
    Cpu8051& cpu() { return cpu_; }
    const Cpu8051& cpu() const { return cpu_; }
    uint8_t* memory() { return mem_; }
    void insert(Cartridge* cartridge);

    uint64_t now_ns() const { return cpu_.cycles() * 500 / 3; }

    // CPUCS bit 0: hold the 8051 in reset; releasing it starts the 8051 at 0.
    bool held() const { return held_; }
    void set_held(bool hold);
    uint8_t usbcs() const { return mem_[0x7FD6]; }
    bool pullup() const;  // DISCOE drives the DISCON pin high: the device is on the bus

    // Register or buffer byte as the 8051 would read it, without side effects.
    uint8_t peek(uint16_t addr) const;
    // What the chip's own USB core does with the 0xA0 load request; false: address outside
    // the chip's memory.
    bool load_write(uint16_t addr, uint8_t value);
    bool load_read(uint16_t addr, uint8_t& value) const;

    // Bus events.
    void bus_reset();
    void set_address(uint8_t address);
    void frame_started();  // SOF request
    void setup_arrived(const uint8_t setup[8], bool for_firmware);
    void suspend_event();
    void resume_event();
    void wakeup_pin();

    // Endpoint 0.
    bool ep0_stalled() const;
    bool ep0_handshake_pending() const;  // HSNAK: the firmware has not ended the status stage
    int ep0_in_take(uint8_t* dst);       // -1 while NAKing (no packet handed over)
    bool ep0_out_put(const uint8_t* src, int length);  // false while NAKing
    bool take_descriptor_pointer(uint16_t& address);   // SUDPTRL written since last setup

    // Endpoints 1-7.
    bool in_valid(int n) const;
    bool out_valid(int n) const;
    bool in_stalled(int n) const;
    bool out_stalled(int n) const;
    int in_take(int n, uint8_t* dst);                     // -1 while NAKing
    bool out_put(int n, const uint8_t* src, int length);  // false while NAKing
    // The host's next OUT packet for endpoint n, put into the buffer by the very write
    // that arms the endpoint (at once if it is armed). One packet waits at a time.
    void offer_out(int n, const uint8_t* src, int length);
    bool out_offered() const { return offer_endpoint_ != 0; }
    void withdraw_out() { offer_endpoint_ = 0; }

    // Notices for the USB side.
    std::function<void()> on_pullup_change;
    std::function<void()> on_remote_wakeup;  // SIGRSUME set

    // Cpu8051Bus
    uint8_t xdata_read(uint16_t addr) override;
    void xdata_write(uint16_t addr, uint8_t value) override;
    void interrupt_taken(uint16_t vector) override;

private:
    int pending_source() const;  // autovector slot number of the request to serve, or -1
    void raise(uint16_t irq_reg, uint8_t bit);
    void update_usbint();
    uint8_t latch_levels(int port) const;  // 0 A, 1 B, 2 C
    void drive_cartridge();
    void write_register(uint16_t addr, uint8_t value);

    uint8_t mem_[Cpu8051::MEMORY_SIZE];
    Cpu8051 cpu_;
    Cartridge* cartridge_ = nullptr;
    bool held_ = true;
    uint8_t bus_lines_ = 0xFF;  // last PB2..PB0 levels given to the cartridge
    bool sudptr_written_ = false;
    uint8_t in_toggle_ = 0, out_toggle_ = 0;  // data toggle per endpoint, bit n
    int offer_endpoint_ = 0;                  // 0: no OUT packet offered
    int offer_length_ = 0;
    uint8_t offer_[64] = {};
};

}  // namespace emu
