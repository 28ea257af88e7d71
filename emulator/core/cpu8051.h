// Instruction-level model of the 8051 core inside the EZ-USB AN21xx.
//
// The core executes from one flat 64 KiB memory that serves code fetch, MOVC and
// MOVX alike (the EZ-USB maps its internal RAM into both spaces). MOVX below
// `hook_base` reads and writes that memory directly; at or above it the access
// goes to the surrounding chip through Cpu8051Bus. SFRs are plain storage inside the
// core, so ordinary instructions never leave it.
//
// Time is counted in machine cycles of the EZ-USB core: 4 clocks each, 24 MHz
// clock, hence 6 000 000 cycles per second.
#pragma once

#include <cstdint>

namespace emu {

// Special function register addresses used by the core and by the chip around it.
namespace sfr {
constexpr uint8_t P0 = 0x80, SP = 0x81, DPL = 0x82, DPH = 0x83, DPL1 = 0x84, DPH1 = 0x85,
                  DPS = 0x86, PCON = 0x87, TCON = 0x88, TMOD = 0x89, CKCON = 0x8E, P1 = 0x90,
                  EXIF = 0x91, MPAGE = 0x92, SCON0 = 0x98, P2 = 0xA0, IE = 0xA8, P3 = 0xB0,
                  IP = 0xB8, SCON1 = 0xC0, T2CON = 0xC8, PSW = 0xD0, EICON = 0xD8, ACC = 0xE0,
                  EIE = 0xE8, B = 0xF0, EIP = 0xF8;
}  // namespace sfr

// Interrupt vectors the core takes.
constexpr uint16_t USB_VECTOR = 0x0043;     // EA, EIE.0 and EXIF.4
constexpr uint16_t RESUME_VECTOR = 0x0033;  // EA, EICON.5 and EICON.4

constexpr uint32_t CYCLES_PER_SECOND = 6000000;

// The chip around the core.
class Cpu8051Bus {
public:
    virtual ~Cpu8051Bus() = default;
    virtual uint8_t xdata_read(uint16_t addr) = 0;               // MOVX read at addr >= hook_base
    virtual void xdata_write(uint16_t addr, uint8_t value) = 0;  // MOVX write at addr >= hook_base
    // Called after the return address is pushed, just before the jump to the vector.
    virtual void interrupt_taken(uint16_t vector) = 0;
};

class Cpu8051 {
public:
    static constexpr uint32_t MEMORY_SIZE = 0x10000;

    // memory: MEMORY_SIZE bytes, owned by the caller. bus may be null when
    // hook_base is MEMORY_SIZE.
    Cpu8051(uint8_t* memory, Cpu8051Bus* bus, uint32_t hook_base);

    // 8051 reset state: PC 0, SP 7, SFR reset values; IRAM keeps its contents.
    // The cycle counter keeps running (time does not go back on reset).
    void reset();

    // Executes one instruction, or takes one pending interrupt. Returns the
    // machine cycles used; 0 when idle with nothing pending, or halted.
    int step();
    // Steps until cycles() >= cycle_limit, the core is idle with nothing
    // pending, or it halts. Returns cycles().
    uint64_t run_until(uint64_t cycle_limit);

    uint64_t cycles() const { return cycles_; }
    uint64_t instructions() const { return instructions_; }
    void skip_cycles(uint64_t n) { cycles_ += n; }  // time passes without execution

    bool idle() const { return (sfr_[sfr::PCON - 0x80] & 0x01) != 0; }
    bool halted() const { return halt_reason_ != nullptr; }
    const char* halt_reason() const { return halt_reason_ ? halt_reason_ : ""; }
    uint16_t halt_pc() const { return halt_pc_; }

    // SFR storage. Reading PSW gives P computed from A.
    uint8_t sfr(uint8_t addr) const;
    void set_sfr(uint8_t addr, uint8_t value);
    // XDATA accesses at or above hook_base plus interrupts taken so far; a core whose
    // count does not move is spinning on its own.
    uint64_t bus_activity() const { return bus_activity_; }

    // Registers and memory, for runners and tests.
    uint16_t pc() const { return pc_; }
    void set_pc(uint16_t pc) { pc_ = pc; }
    uint8_t a() const { return sfr_[sfr::ACC - 0x80]; }
    uint8_t b() const { return sfr_[sfr::B - 0x80]; }
    uint8_t psw() const { return sfr(sfr::PSW); }
    uint8_t sp() const { return sfr_[sfr::SP - 0x80]; }
    uint16_t dptr() const;  // the pointer DPS selects
    uint8_t r(int n) const { return iram_[bank_ + (n & 7)]; }
    uint8_t iram(uint8_t addr) const { return iram_[addr]; }
    void set_iram(uint8_t addr, uint8_t value) { iram_[addr] = value; }
    uint8_t* memory() { return mem_; }
    const uint8_t* memory() const { return mem_; }
    bool in_interrupt() const { return in_service_; }

private:
    uint8_t read_direct(uint8_t addr);
    void write_direct(uint8_t addr, uint8_t value);
    bool read_bit(uint8_t bit);
    void write_bit(uint8_t bit, bool value);
    uint8_t movx_read(uint16_t addr);
    void movx_write(uint16_t addr, uint8_t value);
    int movx_cycles() const { return 2 + (sfr_[sfr::CKCON - 0x80] & 0x07); }
    void push(uint8_t value);
    uint8_t pop();
    void set_dptr(uint16_t value);
    bool interrupt_pending() const;
    int take_interrupt();
    void interpret(uint64_t cycle_limit);
    void halt(const char* reason);

    void add(uint8_t value, bool carry_in);
    void subb(uint8_t value);
    void da();
    int cjne(uint8_t left, uint8_t right, uint16_t& pc);

    uint8_t* mem_;
    Cpu8051Bus* bus_;
    uint32_t hook_base_;
    uint8_t iram_[256] = {};
    uint8_t sfr_[128] = {};
    uint16_t pc_ = 0;
    uint8_t bank_ = 0;  // PSW.4:3 * 8
    bool in_service_ = false;
    bool irq_blocked_ = false;  // one instruction must follow RETI
    bool attention_ = true;     // interrupts, idle or halt need a look before the next instruction
    const char* halt_reason_ = nullptr;
    uint16_t halt_pc_ = 0;
    uint64_t cycles_ = 0;
    uint64_t instructions_ = 0;
    uint64_t bus_activity_ = 0;
};

}  // namespace emu
