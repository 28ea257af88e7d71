#include "ezusb/chip.h"

#include <cstring>

#include "adapter_protocol.h"
#include "chips/cartridge.h"
#include "ezusb/ezusb_regs.h"

namespace emu {

using namespace ezusb;

namespace {
constexpr uint64_t CYCLES_PER_FRAME = CYCLES_PER_SECOND / 1000;
}

Chip::Chip() : cpu_(mem_, this, RAM_SIZE) { power_up(); }

void Chip::power_up() {
    std::memset(mem_, 0, sizeof mem_);
    for (int i = 0; i < 256; ++i) cpu_.set_iram(uint8_t(i), 0);
    cpu_.reset();
    set_held(true);
    mem_[USBCS] = USBCS_DISCOE;  // the default device is on the bus from power-up
    mem_[IN07VAL] = 0x01;
    mem_[OUT07VAL] = 0x01;
    sudptr_written_ = false;
    in_toggle_ = out_toggle_ = 0;
    offer_endpoint_ = 0;
    bus_lines_ = 0xFF;
    drive_cartridge();
}

void Chip::insert(Cartridge* cartridge) {
    cartridge_ = cartridge;
    bus_lines_ = 0xFF;  // the new cartridge learns the current levels
    drive_cartridge();
}

void Chip::set_held(bool hold) {
    if (held_ && !hold) cpu_.reset();
    held_ = hold;
    mem_[CPUCS] = uint8_t(CHIP_REVISION << CPUCS_REVISION_SHIFT | (hold ? CPUCS_8051RES : 0));
}

bool Chip::pullup() const { return (usbcs() & USBCS_DISCOE) && !(usbcs() & USBCS_DISCON); }

bool Chip::load_write(uint16_t addr, uint8_t value) {
    if (addr < RAM_SIZE || (addr >= BUFFERS_BEGIN && addr < REGS_BEGIN)) {
        mem_[addr] = value;
        return true;
    }
    if (addr == CPUCS) {
        set_held(value & CPUCS_8051RES);
        return true;
    }
    return false;
}

bool Chip::load_read(uint16_t addr, uint8_t& value) const {
    if (addr < RAM_SIZE || (addr >= BUFFERS_BEGIN && addr < REGS_BEGIN) || addr == CPUCS) {
        value = mem_[addr];
        return true;
    }
    return false;
}

// Pin levels of a port without asking the cartridge: what the latches drive, 1 elsewhere.
// That an undriven pin reads 1 is this model's assumption (the board's pull-ups decide
// it), not a fact of the chip.
inline uint8_t Chip::latch_levels(int port) const {
    uint8_t driven = mem_[OEA + port] & uint8_t(~mem_[PORTACFG + port]);
    return uint8_t((mem_[OUTA + port] & driven) | uint8_t(~driven));
}

inline void Chip::drive_cartridge() {
    uint8_t lines = latch_levels(1) & (PIN_DESELECT | PIN_CLOCK | PIN_DATA_OUT);
    if (lines == bus_lines_) return;
    bus_lines_ = lines;
    if (cartridge_)
        cartridge_->drive(BusLines{(lines & PIN_DESELECT) != 0, (lines & PIN_CLOCK) != 0,
                                   (lines & PIN_DATA_OUT) != 0},
                          now_ns());
}

uint8_t Chip::peek(uint16_t addr) const {
    if (addr >= RAM_SIZE && addr < BUFFERS_BEGIN) return 0xFF;  // nothing decodes there
    switch (addr) {
    case PINSA:
    case PINSB:
    case PINSC: return latch_levels(addr - PINSA);
    case USBFRAMEL: return uint8_t(cpu_.cycles() / CYCLES_PER_FRAME);
    case USBFRAMEH: return uint8_t((cpu_.cycles() / CYCLES_PER_FRAME) >> 8) & 0x07;
    case IVEC: {
        int s = pending_source();
        return s < 0 ? 0 : uint8_t(s * 4);
    }
    case TOGCTL: {
        uint8_t sel = mem_[TOGCTL] & 0x17;
        int n = sel & 7;
        bool q = (sel & TOGCTL_IO) ? (in_toggle_ >> n) & 1 : (out_toggle_ >> n) & 1;
        return uint8_t(sel | (q ? TOGCTL_Q : 0));
    }
    default: return mem_[addr];
    }
}

uint8_t Chip::xdata_read(uint16_t addr) {
    if (addr == PINSC && !(mem_[OEC] & PIN_DATA_IN)) {
        // PC0 is the cartridge's data output; undriven it is pulled up.
        uint8_t level = latch_levels(2);
        int out = cartridge_ ? cartridge_->output(now_ns()) : -1;
        return out == 0 ? uint8_t(level & ~PIN_DATA_IN) : level;
    }
    return peek(addr);
}

void Chip::xdata_write(uint16_t addr, uint8_t value) {
    if (addr == OUTB) {  // the serial engine's stores, first of all
        mem_[OUTB] = value;
        drive_cartridge();
        return;
    }
    if (addr < BUFFERS_BEGIN) return;
    if (addr < REGS_BEGIN) {
        mem_[addr] = value;
        return;
    }
    write_register(addr, value);
}

void Chip::write_register(uint16_t addr, uint8_t value) {
    switch (addr) {
    case CPUCS:  // only the load request moves the reset bit
    case PINSA:
    case PINSB:
    case PINSC:
    case IVEC:
    case FNADDR:
    case USBFRAMEL:
    case USBFRAMEH: return;
    case OEB:
    case PORTBCFG:  // OUTB: see xdata_write
        mem_[addr] = value;
        drive_cartridge();
        return;
    case IN07IRQ:
    case OUT07IRQ:
    case USBIRQ:
        mem_[addr] &= uint8_t(~value);  // a request is cleared by writing 1
        update_usbint();
        return;
    case IN07IEN:
    case OUT07IEN:
    case USBIEN:
        mem_[addr] = value;
        update_usbint();
        return;
    case EP0CS: {
        uint8_t cs = mem_[EP0CS];
        cs = uint8_t((cs & ~EP0CS_STALL) | (value & EP0CS_STALL));
        if (value & EP0CS_HSNAK) cs &= uint8_t(~EP0CS_HSNAK);
        mem_[EP0CS] = cs;
        return;
    }
    case IN0BC:
        mem_[IN0BC] = value & 0x7F;
        mem_[EP0CS] |= EP0CS_IN0BSY;
        return;
    case OUT0BC: mem_[EP0CS] |= EP0CS_OUT0BSY; return;
    case SUDPTRL:
        mem_[addr] = value;
        sudptr_written_ = true;
        return;
    case USBCS: {
        uint8_t old = mem_[USBCS];
        uint8_t now = uint8_t((value & 0x0F) | (old & USBCS_WAKESRC));
        if (value & USBCS_WAKESRC) now &= uint8_t(~USBCS_WAKESRC);
        bool was_on = pullup();
        mem_[USBCS] = now;
        if (was_on != pullup() && on_pullup_change) on_pullup_change();
        bool signalling = (now & USBCS_SIGRSUME) && !(old & USBCS_SIGRSUME);
        if (signalling && on_remote_wakeup) on_remote_wakeup();
        return;
    }
    case TOGCTL: {
        int n = value & 7;
        uint8_t& toggles = (value & TOGCTL_IO) ? in_toggle_ : out_toggle_;
        if (value & TOGCTL_R) toggles &= uint8_t(~(1u << n));
        if (value & TOGCTL_S) toggles |= uint8_t(1u << n);
        mem_[TOGCTL] = value & 0x17;
        return;
    }
    default: break;
    }
    if (addr > IN0BC && addr <= 0x7FC3) {  // INnCS / INnBC
        int n = (addr - EP0CS) / 2;
        if (addr == in_cs(n)) {
            mem_[addr] = uint8_t((mem_[addr] & EPCS_BUSY) | (value & EPCS_STALL));
        } else {
            mem_[addr] = value & 0x7F;  // a write of the count hands the buffer to the host
            mem_[in_cs(n)] |= EPCS_BUSY;
        }
        return;
    }
    if (addr >= out_cs(1) && addr <= out_bc(7)) {  // OUTnCS / OUTnBC
        int n = (addr - 0x7FC4) / 2;
        if (addr == out_cs(n)) {
            mem_[addr] = uint8_t((mem_[addr] & EPCS_BUSY) | (value & EPCS_STALL));
        } else {
            mem_[out_cs(n)] |= EPCS_BUSY;  // any write arms the endpoint; the count stays readable
            if (offer_endpoint_ == n) offer_out(n, offer_, offer_length_);
        }
        return;
    }
    mem_[addr] = value;
}

// Sources in the chip's priority order, which is also their autovector slot order:
// SUDAV, SOF, SUTOK, SUSPEND, USB reset, (reserved), then EP0 IN, EP0 OUT, EP1 IN, ...
int Chip::pending_source() const {
    uint8_t usb = mem_[USBIRQ] & mem_[USBIEN] & 0x1F;
    for (int i = 0; i < 5; ++i)
        if (usb & (1 << i)) return i;
    uint8_t in = mem_[IN07IRQ] & mem_[IN07IEN], out = mem_[OUT07IRQ] & mem_[OUT07IEN];
    for (int n = 0; n < 8; ++n) {
        if (in & (1 << n)) return 6 + 2 * n;
        if (out & (1 << n)) return 7 + 2 * n;
    }
    return -1;
}

// The chip raises USBINT again whenever an enabled request still stands after a write,
// so that a handler that clears USBINT before its request bit is entered once more for
// any other. No source confirms this re-assertion; the firmware clears both first
// thing in its handlers and so needs neither this nor its absence.
void Chip::update_usbint() {
    if (pending_source() >= 0) cpu_.set_sfr(sfr::EXIF, cpu_.sfr(sfr::EXIF) | EXIF_USBINT);
}

void Chip::raise(uint16_t irq_reg, uint8_t bit) {
    mem_[irq_reg] |= bit;
    update_usbint();
}

void Chip::interrupt_taken(uint16_t vector) {
    if (vector != USB_VECTOR) return;
    int s = pending_source();
    if (s >= 0 && (mem_[USBBAV] & 0x01)) mem_[AUTOVECTOR_BYTE] = uint8_t(s * 4);
}

void Chip::bus_reset() {
    // Endpoints drop what they hold and wait to be armed again; toggles restart at DATA0
    // (USB 2.0, 9.1.1.3). That the chip disarms its OUT endpoints on a bus reset is this
    // model's assumption, which no source confirms; the firmware arms them in its
    // reset handler either way.
    for (int n = 1; n < 8; ++n) {
        mem_[in_cs(n)] &= uint8_t(~EPCS_BUSY);
        mem_[out_cs(n)] &= uint8_t(~EPCS_BUSY);
    }
    mem_[EP0CS] &= uint8_t(~(EP0CS_IN0BSY | EP0CS_OUT0BSY | EP0CS_STALL));
    in_toggle_ = out_toggle_ = 0;
    offer_endpoint_ = 0;
    mem_[FNADDR] = 0;
    raise(USBIRQ, USBIRQ_URES);
}

void Chip::set_address(uint8_t address) { mem_[FNADDR] = address & 0x7F; }

void Chip::frame_started() { raise(USBIRQ, USBIRQ_SOF); }

// A setup packet starts a new transfer on endpoint 0: HSNAK set for the firmware (EZ-USB
// TRM v1.9, figure 7-1), the stall of the last transfer gone (7-9, "About STALL"). That
// IN0BSY and OUT0BSY clear as well is the FX2's documented behaviour (EZ-USB FX2 TRM
// v2.1, page 8-6), taken over as an assumption; the firmware leaves no packet armed past
// its transfer and relies on it only after a transfer that the host has abandoned.
void Chip::setup_arrived(const uint8_t setup[8], bool for_firmware) {
    std::memcpy(mem_ + SETUPDAT, setup, 8);
    mem_[EP0CS] = uint8_t((mem_[EP0CS] & ~(EP0CS_STALL | EP0CS_IN0BSY | EP0CS_OUT0BSY)) |
                          (for_firmware ? EP0CS_HSNAK : 0));
    in_toggle_ |= 1;
    out_toggle_ |= 1;
    sudptr_written_ = false;
    // What the chip's own core answers stays invisible to the firmware.
    if (for_firmware) raise(USBIRQ, USBIRQ_SUTOK | USBIRQ_SUDAV);
}

void Chip::suspend_event() { raise(USBIRQ, USBIRQ_SUSP); }

void Chip::resume_event() { cpu_.set_sfr(sfr::EICON, cpu_.sfr(sfr::EICON) | EICON_RESI); }

void Chip::wakeup_pin() {
    mem_[USBCS] |= USBCS_WAKESRC;
    resume_event();
}

bool Chip::ep0_stalled() const { return mem_[EP0CS] & EP0CS_STALL; }
bool Chip::ep0_handshake_pending() const { return mem_[EP0CS] & EP0CS_HSNAK; }

int Chip::ep0_in_take(uint8_t* dst) {
    if (!(mem_[EP0CS] & EP0CS_IN0BSY)) return -1;
    int count = mem_[IN0BC] > 64 ? 64 : mem_[IN0BC];
    std::memcpy(dst, mem_ + IN0BUF, size_t(count));
    mem_[EP0CS] &= uint8_t(~EP0CS_IN0BSY);
    in_toggle_ ^= 1;
    raise(IN07IRQ, 0x01);
    return count;
}

bool Chip::ep0_out_put(const uint8_t* src, int length) {
    if (!(mem_[EP0CS] & EP0CS_OUT0BSY)) return false;
    std::memcpy(mem_ + OUT0BUF, src, size_t(length));
    mem_[OUT0BC] = uint8_t(length);
    mem_[EP0CS] &= uint8_t(~EP0CS_OUT0BSY);
    out_toggle_ ^= 1;
    raise(OUT07IRQ, 0x01);
    return true;
}

bool Chip::take_descriptor_pointer(uint16_t& address) {
    if (!sudptr_written_) return false;
    sudptr_written_ = false;
    address = uint16_t(mem_[SUDPTRH] << 8 | mem_[SUDPTRL]);
    return true;
}

bool Chip::in_valid(int n) const { return (mem_[IN07VAL] >> n) & 1; }
bool Chip::out_valid(int n) const { return (mem_[OUT07VAL] >> n) & 1; }
bool Chip::in_stalled(int n) const { return mem_[in_cs(n)] & EPCS_STALL; }
bool Chip::out_stalled(int n) const { return mem_[out_cs(n)] & EPCS_STALL; }

int Chip::in_take(int n, uint8_t* dst) {
    if (!(mem_[in_cs(n)] & EPCS_BUSY)) return -1;
    int count = mem_[in_bc(n)] > 64 ? 64 : mem_[in_bc(n)];
    std::memcpy(dst, mem_ + in_buffer(n), size_t(count));
    mem_[in_cs(n)] &= uint8_t(~EPCS_BUSY);
    in_toggle_ ^= uint8_t(1u << n);
    raise(IN07IRQ, uint8_t(1u << n));
    return count;
}

void Chip::offer_out(int n, const uint8_t* src, int length) {
    if (src != offer_) std::memcpy(offer_, src, size_t(length));
    offer_endpoint_ = n;
    offer_length_ = length;
    if (out_put(n, offer_, length)) offer_endpoint_ = 0;
}

bool Chip::out_put(int n, const uint8_t* src, int length) {
    if (!(mem_[out_cs(n)] & EPCS_BUSY)) return false;
    std::memcpy(mem_ + out_buffer(n), src, size_t(length));
    mem_[out_bc(n)] = uint8_t(length);
    mem_[out_cs(n)] &= uint8_t(~EPCS_BUSY);
    out_toggle_ ^= uint8_t(1u << n);
    raise(OUT07IRQ, uint8_t(1u << n));
    return true;
}

}  // namespace emu
