/* EZ-USB AN21xx registers used by the adapter firmware, under the names of the
 * chip's technical reference. Special function registers of the 8051 core and
 * of the chip's extensions, then the endpoint buffers and the register page in
 * the data space (0x7E00-0x7FFF). */
#ifndef EZUSB_REGS_H
#define EZUSB_REGS_H

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

/* Endpoint buffers. */
#define IN0BUF_ADDR 0x7F00
#define OUT1BUF_ADDR 0x7E40
#define IN1BUF_ADDR 0x7E80
#define IN0BUF ((volatile __xdata unsigned char *)IN0BUF_ADDR)
#define OUT1BUF ((volatile __xdata unsigned char *)OUT1BUF_ADDR)
#define IN1BUF ((volatile __xdata unsigned char *)IN1BUF_ADDR)

/* Register page: every register number of the wire protocol is an offset into it. */
#define REG_PAGE 0x7F00

#define OUTB XREG(0x7F97)
#define OEA XREG(0x7F9C)

#define IN07IRQ XREG(0x7FA9)
#define OUT07IRQ XREG(0x7FAA)
#define USBIRQ XREG(0x7FAB)
#define IN07IEN XREG(0x7FAC)
#define OUT07IEN XREG(0x7FAD)
#define USBIEN XREG(0x7FAE)
#define USBBAV XREG(0x7FAF)

#define EP0CS_ADDR 0x7FB4
#define EP0CS XREG(EP0CS_ADDR)
#define IN0BC XREG(0x7FB5)
#define IN1BC XREG(0x7FB7)
#define OUT0CS_BASE 0x7FC4 /* OUTnCS at OUT0CS_BASE + 2n, n = 1..7 */
#define OUT1BC_ADDR 0x7FC7 /* OUTnBC at OUT1BC_ADDR + 2(n-1) */
#define OUT1BC XREG(OUT1BC_ADDR)

#define SUDPTRH XREG(0x7FD4)
#define SUDPTRL XREG(0x7FD5)
#define USBCS XREG(0x7FD6)
#define TOGCTL XREG(0x7FD7)
#define IN07VAL XREG(0x7FDE)
#define OUT07VAL XREG(0x7FDF)
#define SETUPDAT ((volatile __xdata unsigned char *)0x7FE8)

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
