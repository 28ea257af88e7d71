// The serial memory instructions on the bus: framed single accesses, identification
// and the sector erase of a serial FLASH memory. `type` is a SaveType value.
#pragma once

// Instruction byte and address part; neither selects nor deselects.
void send_read_header(int type, int address);
void send_write_header(int type, int address);
int read_byte(int type, int address);
// Reads count bytes into buffer[address] .. buffer[address + count - 1].
void read_block(int type, int address, unsigned char* buffer, int count);
// Writes the low 8 bits of value; the caller enables writing before each call.
void write_byte(int type, int address, int value);
void write_enable();
// Reads the status register until the write in progress, if any, has ended: 0 then,
// -1 when the memory is still busy after 100 times an EEPROM's longest write cycle.
int wait_write_done();
// The three identification bytes, first in bits 23-16.
int read_id();
enum { SECTOR_SIZE = 0x10000 };  // what SE erases on every FLASH memory the tool knows
// Erases the 64 KiB sectors of a serial FLASH memory of save_size bytes, with a
// progress line for each; a sector whose entry in kept is nonzero is left as it is and
// gets its line without dots.
// Ends the run when a sector has not finished erasing within 60 seconds.
void erase_flash(const unsigned char* kept = nullptr);
// 0 when the two 16-byte areas are equal, -1 otherwise.
int compare16(const unsigned char* a, const unsigned char* b);
