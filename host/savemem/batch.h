// The command batch: register operations queued into one packet and sent as one
// bulk transfer, and the reply bytes of the register reads it held.
#pragma once
#include "adapter_protocol.h"

struct CommandBatch {
    unsigned char
        packet[PACKET_SIZE];  // the packet under construction; streams use it as their buffer
    int count;                // bytes queued in packet
};

extern CommandBatch command_batch;
extern unsigned char result_bytes[PACKET_SIZE];

void batch_reset();
// PORTBCFG = 0x00, then OEB = 0xFF (outputs non-zero) or 0x00.
void configure_port_b(int outputs);
// PORTCCFG = 0x00, then OEC = 0xFF (outputs non-zero) or 0x00.
void configure_port_c(int outputs);
void queue_outb(int value);
void queue_read_pinsc();
// Sends the queued bytes, if any, as one packet; the batch is empty afterwards,
// whatever the transfer's result.
void batch_flush();
// Fetches n reply bytes (1 to 64) into result_bytes; bytes that do not arrive read 0.
void read_results(int n);
