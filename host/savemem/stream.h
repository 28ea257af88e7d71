// Streamed transfers: the adapter clocks the memory itself, 64 data bytes a packet.
#pragma once

// display: 0 nothing, 1 hex dump, 2 address counter, 3 percentage.
enum { DISPLAY_NONE = 0, DISPLAY_HEX = 1, DISPLAY_ADDRESS = 2, DISPLAY_PERCENT = 3 };

// Reads count bytes from address on into cart_buffer from offset 0.
void stream_read(int address, int count, int display);
// Programs count bytes of image_buffer from offset on into the memory from address on.
void stream_write(int address, int count, int offset, int display);
