#include "savemem/memory.h"

#include <cstring>

#include "adapter_protocol.h"
#include "platform/console.h"
#include "platform/winapi.h"
#include "run/console_services.h"
#include "run/run_state.h"
#include "savemem/bus.h"

namespace {

enum {
    ERASE_POLL_MS = 300,
    ERASE_LIMIT_MS = 60000,  // per sector; the chips need a few seconds at worst
    // The M95xxx EEPROMs finish a byte or page write "within 5 ms" (tW, their data
    // sheets' AC characteristics). A poll waits for 100 times that: every status read
    // after the first one is a transfer on EP1 IN, an interrupt endpoint with a 1 ms
    // interval that the host controller serves at most once per frame, so each read
    // takes a millisecond at least and the count of reads bounds the wait.
    EEPROM_WRITE_MAX_MS = 5,
    WRITE_POLL_LIMIT = 100 * EEPROM_WRITE_MAX_MS,
};

// The 9-bit EEPROM carries address bit 8 in bit 3 of its READ and WRITE instructions.
void send_header(int instruction, int type, int address) {
    if (type == SAVE_EEPROM_9BIT) {
        shift_out((unsigned)(address >= 0x100 ? instruction | CMD_A8 : instruction), 8);
        shift_out((unsigned)address & 0xFF, 8);
    } else if (type == SAVE_EEPROM_16BIT) {
        shift_out((unsigned)instruction, 8);
        shift_out((unsigned)address, 16);
    } else {
        shift_out((unsigned)instruction, 8);
        shift_out((unsigned)address, 24);
    }
}

}  // namespace

void send_read_header(int type, int address) { send_header(CMD_READ, type, address); }

void send_write_header(int type, int address) { send_header(CMD_WRITE, type, address); }

int read_byte(int type, int address) {
    bus_select();
    send_read_header(type, address);
    int value = shift_in(8);
    bus_deselect();
    return value;
}

void read_block(int type, int address, unsigned char* buffer, int count) {
    bus_select();
    send_read_header(type, address);  // the memory advances its address by itself
    for (unsigned int i = 0; i < (unsigned int)count; i++) {
        show_progress((int)i, count);
        buffer[(unsigned int)address + i] = (unsigned char)shift_in(8);
    }
    bus_deselect();
}

void write_byte(int type, int address, int value) {
    bus_select();
    send_write_header(type, address);
    shift_out((unsigned)value & 0xFF, 8);
    bus_deselect();  // starts the memory's internal write
}

void write_enable() {
    bus_select();
    shift_out(CMD_WREN, 8);
    bus_deselect();
}

int wait_write_done() {
    bus_select();
    shift_out(CMD_RDSR, 8);  // the status byte repeats while selected
    int polls = 0;
    while ((shift_in(8) & SR_WIP) && polls < WRITE_POLL_LIMIT) polls++;
    bus_deselect();
    return polls < WRITE_POLL_LIMIT ? 0 : -1;
}

int read_id() {
    bus_select();
    shift_out(CMD_RDID, 8);
    int first = shift_in(8);
    int second = shift_in(8);
    int third = shift_in(8);
    bus_deselect();
    return (first << 16) | (second << 8) | third;
}

void erase_flash(const unsigned char* kept) {
    con_printf("フラッシュメモリの消去を開始します\n");
    int sectors = (save_size + SECTOR_SIZE - 1) / SECTOR_SIZE;
    for (int s = 0; s < sectors; s++) {
        if (kept != nullptr && kept[s]) {
            con_printf("Sector %d erase \n", s);
            continue;
        }
        write_enable();
        con_printf("Sector %d erase ", s);
        bus_select();
        shift_out(CMD_SE, 8);
        shift_out((unsigned)s * SECTOR_SIZE, 24);
        bus_deselect();  // starts the erase

        bus_select();
        shift_out(CMD_RDSR, 8);  // the status byte repeats while selected
        int waited_ms = 0;
        while (shift_in(8) & SR_WIP) {
            if (waited_ms >= ERASE_LIMIT_MS) {
                bus_deselect();
                con_printf("\nError: フラッシュメモリの消去が終わりませんでした\n");
                fail_run();
            }
            con_printf(".");
            con_flush();
            Sleep(ERASE_POLL_MS);
            waited_ms += ERASE_POLL_MS;
        }
        con_printf("\n");
        bus_deselect();
        check_interrupt();  // after the sector under way
    }
}

int compare16(const unsigned char* a, const unsigned char* b) {
    return std::memcmp(a, b, 16) == 0 ? 0 : -1;
}
