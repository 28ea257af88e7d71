/* Streaming state of the command interpreter, and the serial engine that
 * clocks bytes over the cartridge's save-memory bus (serial_bus.asm). */
#ifndef STREAM_STATE_H
#define STREAM_STATE_H

typedef volatile __xdata unsigned char *xreg_ptr;

/* write_active: what EP1 OUT packets are. */
enum { WRITE_NONE, WRITE_STREAM, WRITE_PAGE };
/* read_active: READ_FILL_DUE from OP_STREAM_READ until its handler has clocked the
 * second packet into the stream buffer. */
enum { READ_NONE, READ_OPEN, READ_FILL_DUE };

struct StreamState {
    unsigned char write_active; /* WRITE_STREAM, WRITE_PAGE: EP1 OUT packets are data */
    unsigned char read_active;  /* READ_OPEN: the stream buffer holds the next packet,
                                 * and each EP1 IN completion refills EP1 IN from it */
    unsigned char page_open;    /* a page program of the streamed write is open */
    unsigned char prefixed;     /* commands after CMD_SAVE_PREFIX (infrared cartridge) */
};

extern struct StreamState stream;

/* Bus output and input registers, named by the streamed operations; kept apart
 * from the rest of the state for the serial engine's assembly code. Both lie in the
 * register page (0x7F00-0x7FFF). */
extern xreg_ptr out_reg_ptr;
extern xreg_ptr in_reg_ptr;

/* The stream buffer (stream_buffer.asm): one packet in internal RAM, on its way
 * between USB and the bus. */
extern __data unsigned char stream_buffer[PACKET_SIZE];

void bus_shift_out(unsigned char b);
unsigned char bus_shift_in(void);
/* count bytes of internal RAM from the given one on, each as bus_shift_out clocks it. */
void bus_shift_out_bytes(__data unsigned char *first, unsigned char count);
/* count bytes (at least one) into internal RAM from the given one on, each as
 * bus_shift_in clocks it. */
void bus_shift_in_bytes(__data unsigned char *first, unsigned char count);
/* The next packet of a streamed read into the stream buffer, while the host takes the
 * one in EP1 IN; true where it stopped because the host sent OP_STREAM_END before it
 * took that one (serial_bus.asm). */
__bit bus_prefetch_packet(void);
/* The stream buffer into IN1BUF. */
void buffer_to_in1buf(void);
/* OUT1BUF[0] .. OUT1BUF[count - 1] into the stream buffer. */
void out1buf_to_buffer(unsigned char count);

#endif
