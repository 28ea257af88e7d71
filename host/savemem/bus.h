// Bit-level signalling on the cartridge's serial bus through the port registers:
// select framing, the two bit shifters, and the port set-up and release of a run.
#pragma once

// Queues one OUTB value: each argument greater than 0 is a high level.
void set_pins(int deselect, int clock, int data);
// Select and deselect frame every command. On an infrared cartridge (bus_prefix 1) a
// command reaches the save memory only behind a 00h prefix, and its transceiver needs a
// pause after the prefix and before select rises: bus_select sends the prefix and
// pauses, bus_deselect pauses first.
void bus_select();
void bus_deselect();
void bus_prefix(int on);
int bus_prefixed();
// Clocks out the low n bits of value, most significant first.
void shift_out(unsigned int value, int n);
// Clocks in n bits (1 to 8); the first bit read is the most significant.
int shift_in(int n);
// Port B drives the bus, port C reads it, the memory rests deselected, no prefix.
void bus_open();
// Every bus pin of the adapter undriven again.
void bus_release();
