// The adapter's wire protocol as the host speaks it: operation codes, the EZ-USB
// register bytes the host names, and the bus pins of the output and input registers.
#pragma once

enum {
    OP_WRITE_REG = 0x02,    // reg, value
    OP_READ_REG = 0x03,     // reg; one reply byte
    OP_STREAM_WRITE = 0x04, // out_reg, in_reg, 24-bit address, 24-bit length
    OP_STREAM_READ = 0x05,  // out_reg, in_reg, 24-bit address, continue flag
    OP_STREAM_END = 0x06,
    OP_CHIP_ERASE = 0x09,
};

// Low byte of the register's address in the EZ-USB register page 0x7F00-0x7FFF.
enum {
    PORTBCFG = 0x94,
    PORTCCFG = 0x95,
    OUTB = 0x97,
    PINSC = 0x9B,
    OEB = 0x9D,
    OEC = 0x9E,
};

enum {
    PIN_DATA_OUT = 0x01,  // OUTB bit 0: data to the memory
    PIN_CLOCK = 0x02,     // OUTB bit 1: serial clock
    PIN_DESELECT = 0x04,  // OUTB bit 2: select, active low
    PIN_DATA_IN = 0x01,   // PINSC bit 0: data from the memory
};

enum { PACKET_SIZE = 64 };  // EP1 OUT and EP1 IN packet size
