// Streamed transfers: the adapter clocks the memory itself, 64 data bytes a packet.
#pragma once

// display: nothing, or the percentage of the bytes transferred.
enum { DISPLAY_NONE = 0, DISPLAY_PERCENT = 1 };
// A streamed write from a multiple of it on programs the FLASH memory page by page.
enum { STREAM_PAGE_SIZE = 256 };

// Reads count bytes from address on into cart_buffer from offset 0.
void stream_read(int address, int count, int display);
// The same into cart_buffer from offset on (0 to BUFFER_SIZE; the bytes beyond the
// buffer are not read).
void stream_read_to(int address, int count, int offset, int display);
// Reads a whole EEPROM (SaveType 1 or 2) of size bytes into cart_buffer, memory address =
// offset, in one streamed read, which every firmware of the adapter has.
void stream_read_eeprom(int type, int size, int display);
// Programs count bytes of image_buffer from address on into the memory at the same
// addresses.
void stream_write(int address, int count, int display);
// Programs the first count bytes of image_buffer into the memory at the same addresses,
// leaving out the 256-byte pages whose entry in program is 0: each run of pages to be
// programmed is one streamed write. The display is that of one streamed write of count
// bytes, the pages left out counted as sent.
void stream_write_pages(int count, const unsigned char* program, int display);
// What the adapter's firmware does with EEPROM pages (OP_PAGE_WRITE).
enum {
    PAGES_NONE = 0,   // nothing: an older firmware without the operation (or no answer came)
    PAGES_SPLIT = 1,  // an earlier one: the data after the header's packet, a page a time
    PAGES_AHEAD = 2,  // the data from the header's packet on, the next page sent before the
                      // reply of the one before is taken
};
int probe_page_write();
// Sends the write of count bytes (1 to 256, inside one page of the memory) from data into
// an EEPROM whose WRITE takes address_bytes address bytes, from address on, as the
// firmware's pages (PAGES_SPLIT or PAGES_AHEAD) take it; the firmware waits for the write
// cycle and then has the reply for page_reply. Returns 0, or PAGE_REFUSED for a count out
// of range, when nothing is sent.
int page_send(int address_bytes, int address, const unsigned char* data, int count, int pages);
// The reply of the page sent before it: PAGE_DONE, PAGE_BUSY when the cycle had not ended
// (or no reply came), PAGE_REFUSED. The next page may be sent before it is taken.
int page_reply();
