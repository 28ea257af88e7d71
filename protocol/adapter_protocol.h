/* The adapter's wire protocol, one statement for the firmware (SDCC C), the host tool
 * and the emulator: the operation codes of command packets, the register numbers the
 * host names, the bus pins, the packet size, and the instructions and status bits of
 * the cartridge's serial memories. Plain C enums, so that every compiler takes them. */
#ifndef ADAPTER_PROTOCOL_H
#define ADAPTER_PROTOCOL_H

/* Operation codes on EP1 OUT; each is followed by a fixed number of parameter bytes.
 * Beside each code its OP_*_SIZE: the operation's bytes, code included. Addresses and
 * lengths are 24 bits, most significant byte first. EP1 OUT takes the next packet once
 * the firmware has executed a command packet; a data packet of a streamed write or of
 * OP_PAGE_WRITE it takes in as soon as it holds it in a buffer of its own, and a packet
 * after it waits until those bytes are out on the bus. */
enum {
    OP_WRITE_REG = 0x02, /* reg, value */
    OP_WRITE_REG_SIZE = 3,
    OP_READ_REG = 0x03, /* reg; one reply byte */
    OP_READ_REG_SIZE = 2,
    OP_STREAM_WRITE = 0x04, /* out_reg, in_reg, 24-bit address, 24-bit length */
    OP_STREAM_WRITE_SIZE = 9,
    OP_STREAM_READ = 0x05, /* out_reg, in_reg, 24-bit address, continue flag; 64 reply bytes */
    OP_STREAM_READ_SIZE = 7,
    OP_STREAM_END = 0x06, /* one byte that is not interpreted, which a packet may leave
                           * out: the code alone at a packet's end is the whole operation */
    OP_STREAM_END_SIZE = 2,
    OP_CHIP_ERASE = 0x09, /* out_reg */
    OP_CHIP_ERASE_SIZE = 2,
    OP_SAVE_PREFIX = 0x0A, /* no parameters; one reply byte, SAVE_PREFIX_TAKEN: the streamed
                            * transfer that the next packet starts sends every memory command
                            * after CMD_SAVE_PREFIX (an infrared cartridge's memory). A firmware
                            * without it skips the code and gives no reply byte. */
    OP_SAVE_PREFIX_SIZE = 1,
    OP_PAGE_WRITE = 0x0B, /* out_reg, in_reg, address width W, 24-bit address A,
                           * 16-bit length N (MSB first, 0..256); one reply byte, PAGE_*.
                           * Writes N bytes into one page of an EEPROM: deselect; WREN;
                           * deselect; WRITE (with CMD_A8 for address bit 8 when W is 1)
                           * and the W low bytes of A; the N data bytes; deselect, which
                           * starts the write cycle; then the firmware reads the status
                           * register until WIP clears, for about 60 ms at most (twelve
                           * times the 5 ms write time the M95xxx guarantee). After
                           * OP_SAVE_PREFIX in the packet before, its commands are prefixed
                           * as a stream's.
                           * W: 1 (the 512-byte EEPROM), 2 (16-bit), 3 (24-bit addresses).
                           * N = 0: no bus traffic, the reply PAGE_DONE at once.
                           * The host's probe: 0B 97 9B 01 00 00 00 00 00 (N = 0), 0B 97 9B
                           * 00 00 00 00 00 (refused: W = 0), then OP_READ_REG. This
                           * firmware gives two reply bytes, PAGE_DONE and PAGE_REFUSED; an
                           * earlier one with the operation, which took the data from the
                           * next packet on and went on with operations after a refused
                           * header, three; one without it skips 0Bh and every parameter
                           * byte (97h, 9Bh, 01h, 00h are no codes of its own) one at a
                           * time and gives only the register's byte.
                           * N > 0: the bytes after the header in its packet and every
                           * byte of the next packets are data, until the N-th; the memory
                           * stays selected between packets; the reply comes after the
                           * packet with the N-th byte, whose further bytes are discarded.
                           * The firmware loads the reply once EP1 IN is free, so the host
                           * may send the next page before it takes the reply. The data
                           * must not cross a page of the memory: the memory wraps them
                           * inside the page.
                           * N over 256 or W not 1-3: PAGE_REFUSED, no bus traffic, the
                           * rest of the packet skipped, and the next packet is
                           * operations. */
    OP_PAGE_WRITE_SIZE = 9
};

enum { SAVE_PREFIX_TAKEN = 0x01 };

/* The reply byte of OP_PAGE_WRITE. */
enum {
    PAGE_BUSY = 0x00,   /* the write cycle was still running when the firmware stopped
                         * polling: the host polls on by itself */
    PAGE_DONE = 0x01,   /* written: WIP cleared (or nothing to write, N = 0) */
    PAGE_REFUSED = 0x02 /* N over 256 or an address width other than 1-3: nothing sent */
};

/* OP_PAGE_WRITE's longest N. */
enum { PAGE_WRITE_MAX = 256 };

/* Register numbers: the low byte of the register's address in the EZ-USB register
 * page 0x7F00-0x7FFF (ezusb_registers.h; the emulator checks them against it). */
enum {
    REG_PORTBCFG = 0x94,
    REG_PORTCCFG = 0x95,
    REG_OUTB = 0x97,  /* the bus output register */
    REG_PINSC = 0x9B, /* the bus input register */
    REG_OEB = 0x9D,
    REG_OEC = 0x9E
};

/* Bits of the bus output register (OUTB: PB0-PB2) and of the bus input register
 * (PINSC: PC0). Bits 3-7 of the output register are always written 0. */
enum {
    PIN_DATA_OUT = 0x01, /* serial data to the memory */
    PIN_CLOCK = 0x02,    /* serial clock: data taken on the rising edge */
    PIN_DESELECT = 0x04, /* select, active low */
    PIN_DATA_IN = 0x01   /* serial data from the memory */
};

enum { PACKET_SIZE = 64 }; /* EP1 OUT and EP1 IN packet size */

/* The serial memories' instructions, under their data sheets' names. */
enum {
    CMD_WRITE = 0x02, /* EEPROM WRITE; page program (PP) on the FLASH memories */
    CMD_READ = 0x03,
    CMD_WRDI = 0x04,
    CMD_RDSR = 0x05,
    CMD_WREN = 0x06,
    CMD_RDID = 0x9F,
    CMD_CE = 0xC7,          /* chip erase */
    CMD_SAVE_PREFIX = 0x00, /* an infrared cartridge's transceiver passes the rest of the
                             * command to the save memory */
    CMD_SE = 0xD8,          /* erase of a 64 KiB sector (or block) */
    CMD_A8 = 0x08 /* the 512-byte EEPROM carries address bit 8 in this bit of READ and WRITE */
};

/* Status register bits (RDSR). */
enum {
    SR_WIP = 0x01, /* a write or erase is in progress */
    SR_WEL = 0x02  /* write enable latch */
};

#endif
