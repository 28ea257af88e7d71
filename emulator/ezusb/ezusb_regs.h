// Addresses of the EZ-USB AN21xx register page and endpoint buffers in the 8051's data
// space, under the chip's published names.
#pragma once

#include <cstdint>

namespace emu::ezusb {

// Internal RAM for code and data: 0x0000-0x1B3F on the 8 KiB parts (fxload's EZ-USB
// loader, libusb examples/ezusb.c, writes no further; the chip shows its endpoint
// buffers above it, which is not modelled: nothing decodes there).
constexpr uint16_t ram_size = 0x1B40;
constexpr uint16_t buffers_begin = 0x7B40;  // OUT7BUF, the lowest endpoint buffer
constexpr uint16_t regs_begin = 0x7F92;     // CPUCS, the first register

constexpr uint16_t OUT0BUF = 0x7EC0, IN0BUF = 0x7F00;
// Endpoint n's buffers lie 0x80 below those of endpoint n - 1.
constexpr uint16_t IN1BUF = 0x7E80, OUT1BUF = 0x7E40;
constexpr uint16_t in_buffer(int n) { return n == 0 ? IN0BUF : uint16_t(IN1BUF - 0x80 * (n - 1)); }
constexpr uint16_t out_buffer(int n) {
    return n == 0 ? OUT0BUF : uint16_t(OUT1BUF - 0x80 * (n - 1));
}

constexpr uint16_t CPUCS = 0x7F92, PORTACFG = 0x7F93, PORTBCFG = 0x7F94, PORTCCFG = 0x7F95,
                   OUTA = 0x7F96, OUTB = 0x7F97, OUTC = 0x7F98, PINSA = 0x7F99, PINSB = 0x7F9A,
                   PINSC = 0x7F9B, OEA = 0x7F9C, OEB = 0x7F9D, OEC = 0x7F9E, IVEC = 0x7FA8,
                   IN07IRQ = 0x7FA9, OUT07IRQ = 0x7FAA, USBIRQ = 0x7FAB, IN07IEN = 0x7FAC,
                   OUT07IEN = 0x7FAD, USBIEN = 0x7FAE, USBBAV = 0x7FAF, EP0CS = 0x7FB4,
                   IN0BC = 0x7FB5, OUT0BC = 0x7FC5, SUDPTRH = 0x7FD4, SUDPTRL = 0x7FD5,
                   USBCS = 0x7FD6, TOGCTL = 0x7FD7, USBFRAMEL = 0x7FD8, USBFRAMEH = 0x7FD9,
                   FNADDR = 0x7FDB, IN07VAL = 0x7FDE, OUT07VAL = 0x7FDF, SETUPDAT = 0x7FE8;
// INnCS/INnBC at 0x7FB4 + 2n / 0x7FB5 + 2n, OUTnCS/OUTnBC at 0x7FC4 + 2n / 0x7FC5 + 2n.
constexpr uint16_t in_cs(int n) { return uint16_t(EP0CS + 2 * n); }
constexpr uint16_t in_bc(int n) { return uint16_t(IN0BC + 2 * n); }
constexpr uint16_t out_cs(int n) { return uint16_t(0x7FC4 + 2 * n); }
constexpr uint16_t out_bc(int n) { return uint16_t(OUT0BC + 2 * n); }

// Bits. CPUCS (EZ-USB TRM register summary, as OpenULINK's reg_ezusb.h gives it): bit 0
// 8051RES, bit 1 CLK24OE, bits 2-3 read 0, bits 7-4 the chip's revision.
constexpr uint8_t CPUCS_8051RES = 0x01, CPUCS_REVISION_SHIFT = 4;
// The revision the emulated part reads back: a stand-in, nothing in the system uses it.
constexpr uint8_t chip_revision = 0x4;
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
constexpr uint16_t autovector_byte = 0x0045;

}  // namespace emu::ezusb
