/* EZ-USB AN21xx registers used by the adapter firmware, under the names of the
 * chip's technical reference. Special function registers of the 8051 core and
 * of the chip's extensions, then the endpoint buffers and the registers of the
 * data space (0x7E00-0x7FFF), at the addresses of the list in ezusb_registers.h. */
#ifndef EZUSB_REGS_H
#define EZUSB_REGS_H

#include "ezusb_registers.h"

/* Special function registers. */
__sfr __at(0x87) PCON;
__sfr __at(0x8E) CKCON;
__sfr __at(0x91) EXIF;
__sbit __at(0xAF) EA;
__sfr __at(0xD8) EICON;
__sfr __at(0xE8) EIE;

/* EXIF */
#define bmUSBINT 0x10
/* EICON */
#define bmERESI 0x20
#define bmRESI 0x10
/* EIE */
#define bmEUSB 0x01
/* PCON */
#define bmIDLE 0x01
/* CKCON: data-space stretch cycles */
#define bmMD 0x07

#define XREG(addr) (*(volatile __xdata unsigned char *)(addr))

/* Addresses for endpoint arithmetic, taken before the names below become the registers:
 * INnCS at EP0CS_ADDR + 2n, OUTnCS at OUT0CS_BASE + 2n and OUTnBC at OUT1BC_ADDR + 2(n-1),
 * n = 1..7. */
enum { EP0CS_ADDR = EP0CS, OUT0CS_BASE = OUT1CS - 2, OUT1BC_ADDR = OUT1BC };

/* The registers and endpoint buffers of the list under their own names: inside its own
 * macro a name is not replaced again (C11 6.10.3.4), so there it is the list's address. */
#define IN0BUF ((volatile __xdata unsigned char *)IN0BUF)
#define OUT1BUF ((volatile __xdata unsigned char *)OUT1BUF)
#define IN1BUF ((volatile __xdata unsigned char *)IN1BUF)
#define SETUPDAT ((volatile __xdata unsigned char *)SETUPDAT)

/* Register page: every register number of the wire protocol is an offset into it. */
#define REG_PAGE 0x7F00

#define OUTB XREG(OUTB)
#define OEA XREG(OEA)

#define IN07IRQ XREG(IN07IRQ)
#define OUT07IRQ XREG(OUT07IRQ)
#define USBIRQ XREG(USBIRQ)
#define IN07IEN XREG(IN07IEN)
#define OUT07IEN XREG(OUT07IEN)
#define USBIEN XREG(USBIEN)
#define USBBAV XREG(USBBAV)

#define EP0CS XREG(EP0CS)
#define IN0BC XREG(IN0BC)
#define IN1CS XREG(IN1CS)
#define IN1BC XREG(IN1BC)
#define OUT1BC XREG(OUT1BC)

#define SUDPTRH XREG(SUDPTRH)
#define SUDPTRL XREG(SUDPTRL)
#define USBCS XREG(USBCS)
#define TOGCTL XREG(TOGCTL)
#define IN07VAL XREG(IN07VAL)
#define OUT07VAL XREG(OUT07VAL)

/* USBIRQ */
#define bmSUDAV 0x01
#define bmSOF 0x02
#define bmSUTOK 0x04
#define bmSUSP 0x08
#define bmURES 0x10
/* USBIEN: setup data, setup token, suspend and bus reset (no start of frame) */
#define bmUSBIEN_FRAMEWORK 0x1D
/* USBBAV */
#define bmAVEN 0x01
/* EP0CS */
#define bmEPSTALL 0x01
#define bmHSNAK 0x02
#define bmIN0BSY 0x04
/* IN1CS: the packet loaded is not yet taken by the host */
#define bmEPBSY 0x02
/* USBCS */
#define bmSIGRSUME 0x01
#define bmRENUM 0x02
#define bmDISCOE 0x04
#define bmDISCON 0x08
#define bmWAKESRC 0x80
/* TOGCTL */
#define bmTOGCTL_IO 0x10
#define bmTOGCTL_R 0x20
/* IN07IRQ / OUT07IRQ / IN07IEN / OUT07IEN / IN07VAL / OUT07VAL */
#define bmEP1 0x02
#define bmEP1TO7 0xFE

#endif
