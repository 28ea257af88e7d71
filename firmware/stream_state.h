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
    unsigned char prefixed;      /* commands after CMD_SAVE_PREFIX (infrared cartridge) */
};

extern struct StreamState stream;

/* Bus output and input registers, named by the streamed operations; kept apart
 * from the rest of the state for the serial engine's assembly code. Both lie in the
 * register page (0x7F00-0x7FFF). */
extern xreg_ptr out_reg_ptr;
extern xreg_ptr in_reg_ptr;

void bus_shift_out(unsigned char b);
unsigned char bus_shift_in(void);
/* OUT1BUF[first] .. OUT1BUF[first + count - 1], each as bus_shift_out clocks it. */
void bus_shift_out_bytes(unsigned char first, unsigned char count);
/* 64 bytes, each as bus_shift_in clocks it, into IN1BUF[0] .. IN1BUF[63]. */
void bus_shift_in_packet(void);

#endif
