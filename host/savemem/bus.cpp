#include "savemem/bus.h"

#include "platform/winapi.h"
#include "savemem/batch.h"

namespace {

// The transceiver needs 61 us ("800h clks at 33MHz seems to work okay", GBATEK, "DS Cart
// Infrared Cartridge SPI Commands"). The packet that clocked the last bit is executed
// well within a millisecond of its transfer, and Sleep waits at least its time, so a
// Sleep of 2 ms after the transfer leaves more than a millisecond.
enum { TRANSCEIVER_PAUSE_MS = 2 };

int prefixed;

}  // namespace

void bus_prefix(int on) { prefixed = on; }

int bus_prefixed() { return prefixed; }

void set_pins(int deselect, int clock, int data) {
    int value = 0;
    if (deselect > 0) value |= PIN_DESELECT;
    if (clock > 0) value |= PIN_CLOCK;
    if (data > 0) value |= PIN_DATA_OUT;
    queue_outb(value);
}

void bus_select() {
    set_pins(0, 0, 0);
    batch_flush();
    if (prefixed) {
        shift_out(CMD_SAVE_PREFIX, 8);
        Sleep(TRANSCEIVER_PAUSE_MS);
    }
}

void bus_deselect() {
    if (prefixed) {
        batch_flush();  // the bits before the pause
        Sleep(TRANSCEIVER_PAUSE_MS);
    }
    set_pins(1, 0, 0);
    batch_flush();
}

// A byte shifted out is 16 pin writes, and the pin write after the last byte joins them;
// a byte shifted in, 8 bits of two pin writes and a register read each: one packet.
static_assert(8 * 2 * OP_WRITE_REG_SIZE + OP_WRITE_REG_SIZE <= PACKET_SIZE, "shift_out's batch");
static_assert(8 * (2 * OP_WRITE_REG_SIZE + OP_READ_REG_SIZE) <= PACKET_SIZE, "shift_in's batch");

void shift_out(unsigned int value, int n) {
    if (n > 32) n = 32;
    for (int i = 0; i < n; i++) {
        int bit = (int)((value >> (n - 1 - i)) & 1);
        set_pins(0, 0, bit);            // data set while the clock is low
        set_pins(0, 1, bit);            // taken on the rising edge
        if (i % 8 == 7) batch_flush();  // a byte in a packet
    }
    set_pins(0, 0, 0);
    batch_flush();
}

int shift_in(int n) {
    if (n < 1) n = 1;
    if (n > 8) n = 8;  // a byte in a packet
    for (int i = 0; i < n; i++) {
        set_pins(0, 1, 0);  // sampled while the clock is high
        queue_read_pinsc();
        set_pins(0, 0, 0);  // the memory presents the next bit after the falling edge
    }
    batch_flush();
    read_results(n);
    int value = 0;
    for (int i = 0; i < n; i++) value = (value << 1) | (result_bytes[i] & PIN_DATA_IN);
    return value;
}

void bus_open() {
    batch_reset();
    prefixed = 0;
    configure_port_b(1);
    configure_port_c(0);
    set_pins(1, 0, 0);
    batch_flush();
}

void bus_release() {
    configure_port_b(0);
    configure_port_c(0);
    batch_flush();
}
