#include "savemem/stream.h"

#include <cstring>

#include "frontend/console_services.h"
#include "frontend/run_state.h"
#include "link/link.h"
#include "platform/console.h"
#include "savemem/batch.h"
#include "savemem/bus.h"

// Streams build their headers and stage their data in the batch's packet storage;
// the batch is empty between bus operations, so nothing queued is overwritten.
static unsigned char* const packet = command_batch.packet;

static void put24(unsigned char* at, unsigned int value) {
    at[0] = (unsigned char)(value >> 16);
    at[1] = (unsigned char)(value >> 8);
    at[2] = (unsigned char)value;
}

static void show_read_byte(int display, int position, int count, int address, int value) {
    switch (display) {
    case DISPLAY_HEX:
        if (position % 16 == 0) con_printf("\n%2.6X ", address);
        con_printf("%2.2X ", value);
        break;
    case DISPLAY_ADDRESS: con_printf("READ : %2.6X\r ", address); break;
    case DISPLAY_PERCENT: show_progress(position, count); break;
    default: break;
    }
}

// On an infrared cartridge the adapter sends the 00h prefix before each command of
// the streamed transfer that the packet after OP_SAVE_PREFIX starts. A firmware that
// does not know the operation (an older one still running in the adapter) skips it
// without a reply, so that the register read behind it gives the only reply byte; the
// memory could then be neither read nor written.
static void request_prefix() {
    if (!bus_prefixed()) return;
    packet[0] = OP_SAVE_PREFIX;
    packet[1] = OP_READ_REG;
    packet[2] = REG_PINSC;
    bulk_write(&adapter_handle, EP1_OUT_PIPE, packet, 3);
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

void stream_read(int address, int count, int display) {
    unsigned int total = (unsigned int)count;
    if (total > BUFFER_SIZE) total = BUFFER_SIZE;  // cart_buffer is the destination

    request_prefix();
    packet[0] = OP_STREAM_READ;
    packet[1] = REG_OUTB;
    packet[2] = REG_PINSC;
    put24(packet + 3, (unsigned int)address);
    packet[6] = 1;  // keep the stream open after the first 64 bytes
    bulk_write(&adapter_handle, EP1_OUT_PIPE, packet, 7);

    for (unsigned int i = 0; i < total; i += PACKET_SIZE) {
        bulk_read(&adapter_handle, EP1_IN_PIPE, packet, PACKET_SIZE);
        for (unsigned int j = 0; j < PACKET_SIZE && i + j < total; j++) {
            cart_buffer[i + j] = packet[j];
            show_read_byte(display, (int)(i + j), count, address + (int)(i + j), packet[j]);
        }
    }

    packet[0] = OP_STREAM_END;
    bulk_write(&adapter_handle, EP1_OUT_PIPE, packet, 1);
    // The adapter refilled EP1 IN when the last needed packet was taken; that packet
    // must be drained before any later reply can be read.
    bulk_read(&adapter_handle, EP1_IN_PIPE, packet, PACKET_SIZE);
}

// The memory is written in streams of STREAM_PIECE bytes (whole pages), each with its
// own header: an interrupt stops the writing after the piece under way, with every page
// of it programmed and the adapter out of its stream.
enum { STREAM_PIECE = 0x1000 };

void stream_write(int address, int count, int offset, int display) {
    if (count <= 0 || offset < 0 || offset >= BUFFER_SIZE) return;  // no header for an empty stream
    if (count > BUFFER_SIZE - offset) count = BUFFER_SIZE - offset;  // image_buffer is the source

    for (int sent = 0; sent < count;) {
        if (sent > 0) check_interrupt();
        const int piece = count - sent < STREAM_PIECE ? count - sent : STREAM_PIECE;
        request_prefix();
        packet[0] = OP_STREAM_WRITE;
        packet[1] = REG_OUTB;
        packet[2] = REG_PINSC;
        put24(packet + 3, (unsigned int)(address + sent));
        put24(packet + 6, (unsigned int)piece);
        bulk_write(&adapter_handle, EP1_OUT_PIPE, packet, 9);

        // The adapter leaves the stream by itself after the piece's last byte: no end packet.
        for (const int end = sent + piece; sent < end;) {
            int n = end - sent < PACKET_SIZE ? end - sent : PACKET_SIZE;
            std::memcpy(packet, image_buffer + offset + sent, (size_t)n);
            bulk_write(&adapter_handle, EP1_OUT_PIPE, packet, n);
            sent += n;
            if (display == DISPLAY_ADDRESS)
                con_printf("WRITE : %2.6X \r ", address + sent);
            else if (display == DISPLAY_PERCENT)
                show_progress(sent, count);
        }
    }
}
