/* EP1 OUT: the command interpreter and the streamed-write engine.
 * EP1 IN: the streamed-read refill. */
#include "adapter_protocol.h"
#include "ezusb_regs.h"
#include "stream_state.h"

struct StreamState stream;
xreg_ptr out_reg_ptr;
xreg_ptr in_reg_ptr;

static unsigned char reply_len;

/* OP_SAVE_PREFIX in this packet: the streams of the next one are prefixed. */
static unsigned char prefix_requested;
/* OP_SAVE_PREFIX in the packet before: the streams this packet starts are prefixed. */
static unsigned char prefix_next;

/* Deselect: the memory's select line high, clock and data low. */
static void bus_deselect(void)
{
    *out_reg_ptr = PIN_DESELECT;
}

/* An empty counting loop of the given number of turns, about 3.8 us each on the
 * EZ-USB core at 24 MHz. */
static void pause(unsigned int turns)
{
    volatile unsigned int i;
    for (i = 0; i != turns; i++)
        ;
}

/* An infrared cartridge's transceiver takes the 00h prefix at 1 MHz at most and
 * needs a pause after it and after the last byte of a command before select rises;
 * "800h clks at 33MHz seems to work okay" (61 us; GBATEK, "DS Cart Infrared
 * Cartridge SPI Commands"). The serial engine clocks 500 kHz; the pause is 35
 * turns, about 135 us, twice the 61 us. */
static void transceiver_pause(void)
{
    pause(35);
}

/* Ends a command: deselect, after the transceiver's pause on a prefixed stream. */
static void bus_end(void)
{
    if (stream.prefixed)
        transceiver_pause();
    bus_deselect();
}

/* The instruction of a command whose select has just fallen, after the 00h prefix
 * and the transceiver's pause on a prefixed stream. */
static void bus_start(unsigned char instruction)
{
    if (stream.prefixed) {
        bus_shift_out(CMD_SAVE_PREFIX);
        transceiver_pause();
    }
    bus_shift_out(instruction);
}

static xreg_ptr register_at(unsigned char reg)
{
    return (xreg_ptr)(REG_PAGE + reg);
}

/* IN1BUF holds one packet: reply bytes beyond it are dropped. */
static void add_reply(unsigned char value)
{
    if (reply_len < PACKET_SIZE)
        IN1BUF[reply_len++] = value;
}

static unsigned long address_at(unsigned char p)
{
    return ((unsigned long)OUT1BUF[p] << 16) | ((unsigned int)OUT1BUF[p + 1] << 8) | OUT1BUF[p + 2];
}

static void send_address(unsigned long x)
{
    bus_shift_out((unsigned char)(x >> 16));
    bus_shift_out((unsigned char)(x >> 8));
    bus_shift_out((unsigned char)x);
}

/* A command of its own: the command before it ended, then the instruction. */
static void bus_command(unsigned char instruction)
{
    bus_end();
    bus_start(instruction);
}

/* Pause after the deselect that starts a page program: 1000 turns, about 3.8 ms,
 * more than the typical page program time of the FLASH memories in use, so that
 * the status read before the next page normally finds the memory ready. */
static void page_close_delay(void)
{
    pause(1000);
}

/* Before a page program opens: reads the status register until the previous
 * page program has ended. A memory ignores a write enable while it programs, and
 * the pause after a close is shorter than the slowest page program the data
 * sheets allow (5 ms). A read takes about 27 us (164 machine cycles at 6 MHz),
 * so the 16384 reads give up after about 0.45 s, 90 times that; the page then
 * does not take, which the host's read-back finds. */
static void wait_not_busy(void)
{
    unsigned int polls = 16384;
    bus_command(CMD_RDSR); /* the status byte repeats while selected */
    while ((bus_shift_in() & SR_WIP) && --polls)
        ;
    bus_end();
}

/* Bytes of each operation, code included. */
static unsigned char operation_size(unsigned char code)
{
    switch (code) {
    case OP_WRITE_REG:
        return 3;
    case OP_STREAM_WRITE:
        return 9;
    case OP_STREAM_READ:
        return 7;
    case OP_READ_REG:
    case OP_CHIP_ERASE:
        return 2;
    default:
        return 1;
    }
}

/* Executes the operations of one command packet. An operation cut off by the
 * end of the packet is not executed: its missing parameters would be stale
 * bytes of an earlier packet. The byte after OP_STREAM_END is skipped
 * whatever it holds, so a one-byte OP_STREAM_END packet is whole. */
static void execute_operations(void)
{
    unsigned char p = 0, count = OUT1BC, code, i;
    prefix_next = prefix_requested;
    prefix_requested = 0;
    while (p < count) {
        code = OUT1BUF[p];
        if (operation_size(code) > (unsigned char)(count - p))
            break;
        switch (code) {
        case OP_WRITE_REG:
            *register_at(OUT1BUF[p + 1]) = OUT1BUF[p + 2];
            p += 3;
            break;
        case OP_READ_REG:
            add_reply(*register_at(OUT1BUF[p + 1]));
            p += 2;
            break;
        case OP_STREAM_WRITE:
            out_reg_ptr = register_at(OUT1BUF[p + 1]);
            in_reg_ptr = register_at(OUT1BUF[p + 2]);
            stream.stream_base = address_at(p + 3);
            stream.stream_length = address_at(p + 6);
            stream.page_fill = 0;
            stream.stream_done = 0;
            stream.prefixed = prefix_next;
            /* Nothing to send for length 0: the next packet is operations again. */
            stream.write_active = stream.stream_length != 0;
            p += 9;
            break;
        case OP_STREAM_READ:
            out_reg_ptr = register_at(OUT1BUF[p + 1]);
            in_reg_ptr = register_at(OUT1BUF[p + 2]);
            stream.prefixed = prefix_next;
            bus_command(CMD_READ);
            bus_shift_out(OUT1BUF[p + 3]);
            bus_shift_out(OUT1BUF[p + 4]);
            bus_shift_out(OUT1BUF[p + 5]);
            for (i = 0; i < PACKET_SIZE; i++)
                add_reply(bus_shift_in());
            if (OUT1BUF[p + 6])
                stream.read_active = 1;
            else
                bus_end();
            p += 7;
            break;
        case OP_STREAM_END:
            stream.read_active = 0;
            /* Before any operation has named the bus output register, the
             * deselect goes to OUTB, never to address 0 of the data space. */
            if (!out_reg_ptr)
                out_reg_ptr = &OUTB;
            bus_end();
            p += 2;
            break;
        case OP_CHIP_ERASE:
            out_reg_ptr = register_at(OUT1BUF[p + 1]);
            bus_command(CMD_WREN);
            bus_command(CMD_CE);
            bus_command(CMD_WRDI);
            bus_end();
            p += 2;
            break;
        case OP_SAVE_PREFIX:
            prefix_requested = 1;
            add_reply(SAVE_PREFIX_TAKEN);
            p += 1;
            break;
        default:
            p += 1;
        }
    }
}

/* The bytes of one data packet of an open streamed write, as page programs.
 * A page program opens before the first byte and after every close, and
 * closes after the last byte of a 256-byte page of the address or after the
 * last byte of the stream, so no page program crosses a page of the memory
 * whatever the start address. Bytes after the last one are discarded. The bytes
 * between an open and a close go out in one run. */
static void stream_write_data(void)
{
    unsigned char p = 0, count = OUT1BC, n, room, last, next_low;
    unsigned long left;
    while (p < count) {
        if (stream.page_fill == 0) {
            wait_not_busy();
            bus_command(CMD_WREN);
            bus_command(CMD_WRITE);
            send_address(stream.stream_base + stream.stream_done);
        }
        /* Up to the end of the page of the address (room 0: a whole page) and
         * up to the last byte of the stream. */
        room = (unsigned char)(0 - ((unsigned char)stream.stream_base +
                                    (unsigned char)stream.stream_done));
        n = count - p;
        if (room != 0 && n > room)
            n = room;
        left = stream.stream_length - stream.stream_done;
        if (left < n)
            n = (unsigned char)left;
        bus_shift_out_bytes(p, n);
        p += n;
        stream.page_fill += n;
        stream.stream_done += n;
        last = stream.stream_done == stream.stream_length;
        /* Low byte of the next byte's address: 0 where a new page starts. */
        next_low = (unsigned char)stream.stream_base + (unsigned char)stream.stream_done;
        if (next_low == 0 || last) {
            bus_end(); /* the memory starts programming */
            page_close_delay();
            bus_start(CMD_WRDI);
            bus_end();
            stream.page_fill = 0;
        }
        if (last) {
            stream.write_active = 0;
            break;
        }
    }
}

/* Both handlers clear their requests first: anything that the chip raises while a
 * handler runs then raises the USB interrupt anew and is served after it. */
void ep1_out_isr(void) __interrupt
{
    EXIF &= ~bmUSBINT;
    OUT07IRQ = bmEP1;
    reply_len = 0;
    if (stream.write_active)
        stream_write_data();
    else
        execute_operations();
    /* Hand over the reply, then re-arm EP1 OUT: the host cannot send the next packet
     * before OUT1BC is written, so the packet is never overwritten while it is
     * executed, and the next one's interrupt request is left standing. */
    if (reply_len)
        IN1BC = reply_len;
    OUT1BC = 0;
}

void ep1_in_isr(void) __interrupt
{
    EXIF &= ~bmUSBINT;
    IN07IRQ = bmEP1;
    if (stream.read_active) {
        bus_shift_in_packet();
        IN1BC = PACKET_SIZE;
    }
}
