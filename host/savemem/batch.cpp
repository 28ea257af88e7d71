#include "savemem/batch.h"

#include <cstring>

#include "link/link.h"
#include "run/run_state.h"

CommandBatch command_batch;
unsigned char result_bytes[PACKET_SIZE];

namespace {

// Every caller keeps within one packet. An operation that would not fit whole is a
// programming error; it is dropped rather than cut, since the adapter would take the
// bytes of an earlier packet for its missing parameters.
bool room_for(int bytes) {
    return command_batch.count >= 0 && command_batch.count + bytes <= PACKET_SIZE;
}

void queue_write_reg(int reg, int value) {
    if (!room_for(OP_WRITE_REG_SIZE)) return;
    command_batch.packet[command_batch.count++] = OP_WRITE_REG;
    command_batch.packet[command_batch.count++] = (unsigned char)reg;
    command_batch.packet[command_batch.count++] = (unsigned char)value;
}

}  // namespace

void batch_reset() { command_batch.count = 0; }

void configure_port_b(int outputs) {
    queue_write_reg(REG_PORTBCFG, 0x00);
    queue_write_reg(REG_OEB, outputs ? 0xFF : 0x00);
}

void configure_port_c(int outputs) {
    queue_write_reg(REG_PORTCCFG, 0x00);
    queue_write_reg(REG_OEC, outputs ? 0xFF : 0x00);
}

void queue_outb(int value) { queue_write_reg(REG_OUTB, value); }

void queue_read_pinsc() {
    if (!room_for(OP_READ_REG_SIZE)) return;
    command_batch.packet[command_batch.count++] = OP_READ_REG;
    command_batch.packet[command_batch.count++] = REG_PINSC;
}

void batch_flush() {
    if (command_batch.count <= 0) return;
    bulk_write(&adapter_handle, EP1_OUT_PIPE, command_batch.packet, command_batch.count);
    command_batch.count = 0;
}

void read_results(int n) {
    if (n < 1 || n > PACKET_SIZE) return;
    std::memset(result_bytes, 0, (size_t)n);
    bulk_read(&adapter_handle, EP1_IN_PIPE, result_bytes, n);
}
