/* The EZ-USB AN21xx's endpoint buffers and registers in the 8051's data space, under the
 * names and at the addresses of the EZ-USB Technical Reference Manual (v1.9, its register
 * summary): one list for the firmware (SDCC C; serial_bus.asm takes them as equates
 * generated from this file at build time) and the emulator. Plain C enumerators, so that every
 * compiler takes them; each fits SDCC's 16-bit int. Only addresses: the 8051's special function
 * registers and the bits of each register stand where they are used. */
#ifndef EZUSB_REGISTERS_H
#define EZUSB_REGISTERS_H

/* Endpoint buffers, 64 bytes each: endpoint n's lie 0x80 below those of endpoint n - 1
 * down to OUT7BUF, the lowest. */
enum { OUT7BUF = 0x7B40, OUT1BUF = 0x7E40, IN1BUF = 0x7E80, OUT0BUF = 0x7EC0, IN0BUF = 0x7F00 };

/* Registers, from CPUCS, the first, on. INnCS/INnBC lie at EP0CS + 2n / IN0BC + 2n,
 * OUTnCS/OUTnBC at OUT1CS + 2(n - 1) / OUT0BC + 2n. */
enum {
    CPUCS = 0x7F92,
    PORTACFG = 0x7F93,
    PORTBCFG = 0x7F94,
    PORTCCFG = 0x7F95,
    OUTA = 0x7F96,
    OUTB = 0x7F97,
    OUTC = 0x7F98,
    PINSA = 0x7F99,
    PINSB = 0x7F9A,
    PINSC = 0x7F9B,
    OEA = 0x7F9C,
    OEB = 0x7F9D,
    OEC = 0x7F9E,
    IVEC = 0x7FA8,
    IN07IRQ = 0x7FA9,
    OUT07IRQ = 0x7FAA,
    USBIRQ = 0x7FAB,
    IN07IEN = 0x7FAC,
    OUT07IEN = 0x7FAD,
    USBIEN = 0x7FAE,
    USBBAV = 0x7FAF,
    EP0CS = 0x7FB4,
    IN0BC = 0x7FB5,
    IN1CS = 0x7FB6,
    IN1BC = 0x7FB7,
    OUT0BC = 0x7FC5,
    OUT1CS = 0x7FC6,
    OUT1BC = 0x7FC7,
    SUDPTRH = 0x7FD4,
    SUDPTRL = 0x7FD5,
    USBCS = 0x7FD6,
    TOGCTL = 0x7FD7,
    USBFRAMEL = 0x7FD8,
    USBFRAMEH = 0x7FD9,
    FNADDR = 0x7FDB,
    IN07VAL = 0x7FDE,
    OUT07VAL = 0x7FDF,
    SETUPDAT = 0x7FE8 /* eight bytes */
};

#endif
