// The EZ-USB AN21xx's data space as the emulator models it: the register list shared with
// the firmware, the extent of the RAM, the endpoints' buffers and registers, and the bits.
#pragma once

#include <cstdint>

#include "adapter_protocol.h"
#include "ezusb_registers.h"

namespace emu::ezusb {

// Internal RAM for code and data: 0x0000-0x1B3F on the 8 KiB parts (fxload's EZ-USB
// loader, libusb examples/ezusb.c, writes no further; the chip shows its endpoint
// buffers above it, which is not modelled: nothing decodes there).
constexpr uint16_t RAM_SIZE = 0x1B40;
constexpr uint16_t BUFFERS_BEGIN = OUT7BUF;  // the lowest endpoint buffer
constexpr uint16_t REGS_BEGIN = CPUCS;       // the first register

constexpr uint16_t in_buffer(int n) { return uint16_t(n == 0 ? IN0BUF : IN1BUF - 0x80 * (n - 1)); }
constexpr uint16_t out_buffer(int n) {
    return uint16_t(n == 0 ? OUT0BUF : OUT1BUF - 0x80 * (n - 1));
}

// The wire protocol names a register by the low byte of its address in the register page.
constexpr bool names_register(int reg, int address) { return 0x7F00 + reg == address; }
static_assert(names_register(REG_PORTBCFG, PORTBCFG) && names_register(REG_PORTCCFG, PORTCCFG) &&
                  names_register(REG_OUTB, OUTB) && names_register(REG_PINSC, PINSC) &&
                  names_register(REG_OEB, OEB) && names_register(REG_OEC, OEC),
              "the protocol's register numbers");

// Endpoint n's buffers and registers (n = 1..7; 0 gives endpoint 0's).
constexpr uint16_t in_cs(int n) { return uint16_t(EP0CS + 2 * n); }
constexpr uint16_t in_bc(int n) { return uint16_t(IN0BC + 2 * n); }
constexpr uint16_t out_cs(int n) { return uint16_t(OUT1CS + 2 * (n - 1)); }
constexpr uint16_t out_bc(int n) { return uint16_t(OUT0BC + 2 * n); }

// Bits. CPUCS (EZ-USB TRM register summary, as OpenULINK's reg_ezusb.h gives it): bit 0
// 8051RES, bit 1 CLK24OE, bits 2-3 read 0, bits 7-4 the chip's revision.
constexpr uint8_t CPUCS_8051RES = 0x01, CPUCS_REVISION_SHIFT = 4;
// The revision the emulated part reads back: a stand-in, nothing in the system uses it.
constexpr uint8_t CHIP_REVISION = 0x4;
constexpr uint8_t EP0CS_STALL = 0x01, EP0CS_HSNAK = 0x02, EP0CS_IN0BSY = 0x04, EP0CS_OUT0BSY = 0x08;
constexpr uint8_t EPCS_STALL = 0x01, EPCS_BUSY = 0x02;
constexpr uint8_t USBIRQ_SUDAV = 0x01, USBIRQ_SOF = 0x02, USBIRQ_SUTOK = 0x04, USBIRQ_SUSP = 0x08,
                  USBIRQ_URES = 0x10;
constexpr uint8_t USBCS_SIGRSUME = 0x01, USBCS_RENUM = 0x02, USBCS_DISCOE = 0x04,
                  USBCS_DISCON = 0x08, USBCS_WAKESRC = 0x80;
constexpr uint8_t TOGCTL_IO = 0x10, TOGCTL_R = 0x20, TOGCTL_S = 0x40, TOGCTL_Q = 0x80;

// EXIF bit 4 requests the USB interrupt; EICON bit 4 the resume interrupt.
constexpr uint8_t EXIF_USBINT = 0x10, EICON_RESI = 0x10;

// The byte the chip rewrites for autovectoring: the low address byte of the jump at 0x0043.
constexpr uint16_t AUTOVECTOR_BYTE = 0x0045;

}  // namespace emu::ezusb
