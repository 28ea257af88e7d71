#include "savemem/stream.h"

#include <algorithm>
#include <cstring>

#include "link/link.h"
#include "platform/console.h"
#include "run/console_services.h"
#include "run/run_state.h"
#include "savemem/batch.h"
#include "savemem/bus.h"

namespace {

// Streams build their headers and stage their data in the batch's packet storage;
// the batch is empty between bus operations, so nothing queued is overwritten.
unsigned char* const packet = command_batch.packet;

void put24(unsigned char* at, unsigned int value) {
    at[0] = (unsigned char)(value >> 16);
    at[1] = (unsigned char)(value >> 8);
    at[2] = (unsigned char)value;
}

// On an infrared cartridge the adapter sends the 00h prefix before each command of
// the streamed transfer that the packet after OP_SAVE_PREFIX starts. A firmware that
// does not know the operation (an older one still running in the adapter) skips it
// without a reply, so that the register read behind it gives the only reply byte; the
// memory could then be neither read nor written.
void request_prefix() {
    if (!bus_prefixed()) return;
    packet[0] = OP_SAVE_PREFIX;
    packet[OP_SAVE_PREFIX_SIZE] = OP_READ_REG;
    packet[OP_SAVE_PREFIX_SIZE + 1] = REG_PINSC;
    bulk_write(&adapter_handle, EP1_OUT_PIPE, packet, OP_SAVE_PREFIX_SIZE + OP_READ_REG_SIZE);
    if (bulk_read(&adapter_handle, EP1_IN_PIPE, packet, 2) == 2 && packet[0] == SAVE_PREFIX_TAKEN)
        return;
    check_link();
    con_printf(
        "Error: "
        "アダプタのファームウェアが古いため、赤外線通信機能付きのカートリッジを読み書きできません"
        "\n");
    con_printf("(アダプタをUSBから抜いて、挿し直して下さい)\n");
    fail_run();
}

}  // namespace

void stream_read(int address, int count, int display) {
    stream_read_to(address, count, 0, display);
}

void stream_read_to(int address, int count, int offset, int display) {
    if (offset < 0 || offset > BUFFER_SIZE) return;
    unsigned int total = (unsigned int)count;
    unsigned int room = (unsigned int)(BUFFER_SIZE - offset);
    if (total > room) total = room;  // cart_buffer is the destination

    request_prefix();
    packet[0] = OP_STREAM_READ;
    packet[1] = REG_OUTB;
    packet[2] = REG_PINSC;
    put24(packet + 3, (unsigned int)address);
    packet[6] = 1;  // keep the stream open after the first 64 bytes
    bulk_write(&adapter_handle, EP1_OUT_PIPE, packet, OP_STREAM_READ_SIZE);

    for (unsigned int i = 0; i < total; i += PACKET_SIZE) {
        bulk_read(&adapter_handle, EP1_IN_PIPE, packet, PACKET_SIZE);
        for (unsigned int j = 0; j < PACKET_SIZE && i + j < total; j++) {
            cart_buffer[offset + i + j] = packet[j];
            if (display == DISPLAY_PERCENT) show_progress((int)(i + j), count);
        }
    }

    packet[0] = OP_STREAM_END;  // alone: the byte after the code is not interpreted
    bulk_write(&adapter_handle, EP1_OUT_PIPE, packet, 1);
    // The adapter refilled EP1 IN when the last needed packet was taken; that packet
    // must be drained before any later reply can be read.
    bulk_read(&adapter_handle, EP1_IN_PIPE, packet, PACKET_SIZE);
}

// The streamed read sends READ and three address bytes. A 16-bit-address EEPROM takes the
// first two as its address and shifts out the byte there while the adapter clocks the
// third, which the adapter does not keep: its data come one position early. A 9-bit one
// takes the first (its address bit 8 rides in the instruction, clear in READ) and two
// bytes are lost. The M95xxx continue a READ past their highest address at address 0
// (ST M95040 DocID6512, M95640 DocID16877, M95512 DS4192, "Read from Memory Array": the
// address counter rolls over to zero after the highest address), so a start at the
// highest address brings address 0 first from a 16-bit memory. The 9-bit memory can
// start no later than 0xFF + 2: it starts at 0x100, rolls over in the middle, and its
// halves are put back in place.
void stream_read_eeprom(int type, int size, int display) {
    if (size <= 0 || size > BUFFER_SIZE) return;
    int first;  // the memory address of the stream's first byte
    if (type == SAVE_EEPROM_9BIT) {
        first = 0x100;
        stream_read((first - 2) << 16, size, display);
    } else {
        first = 0;
        stream_read((size - 1) << 8, size, display);
    }
    std::rotate(cart_buffer, cart_buffer + (size - first) % size, cart_buffer + size);
}

namespace {

// Sends the next packet of a transfer's data, with left bytes to go; returns its size.
int send_packet(const unsigned char* data, int left) {
    int n = left < PACKET_SIZE ? left : PACKET_SIZE;
    std::memcpy(packet, data, (size_t)n);
    bulk_write(&adapter_handle, EP1_OUT_PIPE, packet, n);
    return n;
}

void show_written(int display, int shown, int total) {
    if (display == DISPLAY_PERCENT) show_progress(shown, total);
}

// The memory is written in streams of STREAM_PIECE bytes (whole pages) at most, each with
// its own header: an interrupt stops the writing after the piece under way, with every
// page of it programmed and the adapter out of its stream.
enum { STREAM_PIECE = 0x1000 };

// One streamed write of count bytes of image_buffer from address on, in pieces; the
// display counts from `shown` of `total` bytes on.
void send_write_stream(int address, int count, int display, int shown, int total) {
    for (int sent = 0; sent < count;) {
        check_interrupt();
        const int piece = count - sent < STREAM_PIECE ? count - sent : STREAM_PIECE;
        request_prefix();
        packet[0] = OP_STREAM_WRITE;
        packet[1] = REG_OUTB;
        packet[2] = REG_PINSC;
        put24(packet + 3, (unsigned int)(address + sent));
        put24(packet + 6, (unsigned int)piece);
        bulk_write(&adapter_handle, EP1_OUT_PIPE, packet, OP_STREAM_WRITE_SIZE);

        // The adapter leaves the stream by itself after the piece's last byte: no end packet.
        for (const int end = sent + piece; sent < end;) {
            sent += send_packet(image_buffer + address + sent, end - sent);
            show_written(display, shown + sent, total);
        }
    }
}

}  // namespace

void stream_write(int address, int count, int display) {
    // No header for an empty stream; image_buffer is the source.
    if (count <= 0 || address < 0 || address >= BUFFER_SIZE) return;
    if (count > BUFFER_SIZE - address) count = BUFFER_SIZE - address;
    send_write_stream(address, count, display, 0, count);
}

void stream_write_pages(int count, const unsigned char* program, int display) {
    if (count <= 0) return;
    if (count > BUFFER_SIZE) count = BUFFER_SIZE;
    for (int start = 0; start < count;) {
        int end = start;  // the run of pages from start that share start's choice
        while (end < count &&
               (program[end / STREAM_PAGE_SIZE] != 0) == (program[start / STREAM_PAGE_SIZE] != 0))
            end = end + STREAM_PAGE_SIZE < count ? end + STREAM_PAGE_SIZE : count;
        if (program[start / STREAM_PAGE_SIZE]) {
            send_write_stream(start, end - start, display, start, count);
        } else {
            // Shown as if sent, packet by packet: the display is that of one whole stream.
            for (int shown = start; shown < end;) {
                shown = end - shown < PACKET_SIZE ? end : shown + PACKET_SIZE;
                show_written(display, shown, count);
            }
        }
        start = end;
    }
}

// The probe is a page write of no bytes, which the firmware answers with PAGE_DONE and
// nothing on the bus, and a refused one, after which this firmware skips the rest of the
// packet; a firmware without the operation skips their bytes one by one (none is an
// operation of its own), so that the register read behind them gives the only reply.
int probe_page_write() {
    unsigned char* at = packet;
    for (int width : {1, 0}) {
        at[0] = OP_PAGE_WRITE;
        at[1] = REG_OUTB;
        at[2] = REG_PINSC;
        at[3] = (unsigned char)width;
        std::memset(at + 4, 0, OP_PAGE_WRITE_SIZE - 4);
        at += OP_PAGE_WRITE_SIZE;
    }
    at[0] = OP_READ_REG;
    at[1] = REG_PINSC;
    bulk_write(&adapter_handle, EP1_OUT_PIPE, packet, 2 * OP_PAGE_WRITE_SIZE + OP_READ_REG_SIZE);
    int got = bulk_read(&adapter_handle, EP1_IN_PIPE, packet, 3);
    if (got < 2 || packet[0] != PAGE_DONE || packet[1] != PAGE_REFUSED) return PAGES_NONE;
    return got == 2 ? PAGES_AHEAD : PAGES_SPLIT;
}

// The header and, where the firmware takes them there, the first data bytes share a
// packet.
int page_send(int address_bytes, int address, const unsigned char* data, int count, int pages) {
    if (count <= 0 || count > PAGE_WRITE_MAX) return PAGE_REFUSED;
    request_prefix();
    packet[0] = OP_PAGE_WRITE;
    packet[1] = REG_OUTB;
    packet[2] = REG_PINSC;
    packet[3] = (unsigned char)address_bytes;
    put24(packet + 4, (unsigned int)address);
    packet[7] = (unsigned char)(count >> 8);
    packet[8] = (unsigned char)count;
    int sent = pages == PAGES_AHEAD ? std::min(count, PACKET_SIZE - OP_PAGE_WRITE_SIZE) : 0;
    std::memcpy(packet + OP_PAGE_WRITE_SIZE, data, (size_t)sent);
    bulk_write(&adapter_handle, EP1_OUT_PIPE, packet, OP_PAGE_WRITE_SIZE + sent);
    while (sent < count)  // every byte of these packets is data
        sent += send_packet(data + sent, count - sent);
    return 0;
}

int page_reply() {
    packet[0] = PAGE_BUSY;  // what a reply that does not arrive counts as
    bulk_read(&adapter_handle, EP1_IN_PIPE, packet, 1);
    return packet[0];
}
