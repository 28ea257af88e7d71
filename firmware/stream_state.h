/* Streaming state of the command interpreter, and the serial engine that
 * clocks bytes over the cartridge's save-memory bus (serial_bus.asm). */
#ifndef STREAM_STATE_H
#define STREAM_STATE_H

typedef volatile __xdata unsigned char *xreg_ptr;

struct StreamState {
    unsigned char write_active;  /* EP1 OUT packets are streamed-write data */
    unsigned char read_active;   /* each EP1 IN completion refills the buffer */
    unsigned char page_fill;     /* bytes of the open page program sent so far */
    unsigned long stream_base;   /* start address of the streamed write */
    unsigned long stream_done;   /* data bytes of the streamed write sent so far */
    unsigned long stream_length; /* total length of the streamed write */
};

extern struct StreamState stream;

/* Bus output and input registers, named by the streamed operations; kept apart
 * from the rest of the state for the serial engine's assembly code. */
extern xreg_ptr out_reg_ptr;
extern xreg_ptr in_reg_ptr;

void bus_shift_out(unsigned char b);
unsigned char bus_shift_in(void);

#endif
