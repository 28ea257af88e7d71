/* EP1 OUT: the command interpreter, the streamed-write engine and the page write.
 * EP1 IN: the streamed-read refill.
 *
 * EP1 has one buffer each way: loading IN1BC arms EP1 IN and keeps the 8051 off
 * IN1BUF until the host has taken the packet, IN tokens before that are NAKed, and
 * OUT1BUF takes the host's next packet only once OUT1BC is written (EZ-USB TRM v1.9,
 * 6.2 and 6.3). EP1 IN is an interrupt endpoint with interval 1: the host sends it
 * one IN token a frame (TRM 6.3; USB 1.1, 9.6.4, bInterval), so a packet not ready
 * then waits for the next frame. Clocking a packet over the bus takes about 1 ms, so the
 * streams keep a packet in a buffer of their own: a streamed read has the next
 * packet ready when the host takes one and clocks the one after it while the host
 * fetches, and a streamed write re-arms EP1 OUT as soon as it has the packet in the
 * buffer, so that USB and the bus work at the same time. */
#include "adapter_protocol.h"
#include "ezusb_regs.h"
#include "stream_state.h"

struct StreamState stream;
xreg_ptr out_reg_ptr;
xreg_ptr in_reg_ptr;
/* Where the streamed write's next byte goes, and the data bytes of the streamed write
 * or the page write still to come; apart from the other state, where the compiler
 * handles 32-bit numbers with fewer scratch bytes. */
static unsigned long stream_next;
static unsigned long stream_left;

static unsigned char reply_len;
/* Data bytes of OP_PAGE_WRITE that came in the packet of its header. */
static unsigned char page_bytes;

/* OP_SAVE_PREFIX in this packet: the streams of the next one are prefixed. */
static __bit prefix_requested;
/* OP_SAVE_PREFIX in the packet before: the streams this packet starts are prefixed. */
static __bit prefix_next;

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
 * Cartridge SPI Commands"). The serial engine clocks bytes out at 667 kHz; the pause
 * is 35 turns, about 135 us, twice the 61 us. */
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

/* Reads the status register until the write or program cycle has ended, at most
 * the given number of times; true when it was still running at the last read.
 * A read takes about 29 us (175 machine cycles at 6 MHz). */
static unsigned char still_busy(unsigned int polls)
{
    unsigned char busy;
    bus_command(CMD_RDSR); /* the status byte repeats while selected */
    while ((busy = bus_shift_in() & SR_WIP) && --polls)
        ;
    bus_end();
    return busy;
}

/* Before a page program opens: the previous page program has ended. A memory
 * ignores a write enable while it programs, which takes up to 5 ms on the data
 * sheets; the wait runs while the host sends the next packet. The 16384 reads give
 * up after about 0.5 s, 100 times the 5 ms; the page then does not take, which the
 * host's read-back finds. */
static void wait_not_busy(void)
{
    still_busy(16384);
}

/* OP_PAGE_WRITE's status reads: 2048, about 60 ms, twelve times the write time tW
 * that the M95xxx guarantee ("Byte and Page Write within 5 ms": M950x0 DocID6512
 * Rev 13, M95640 DocID16877 Rev 19, M95512 DS4192 Rev 24, AC characteristics, tW
 * max 5 ms). */
enum { PAGE_WRITE_POLLS = 2048 };

/* Bytes of each operation, code included, that must be in the packet: OP_STREAM_END's
 * byte is not interpreted and may be left out. A byte that is no operation's code is
 * skipped alone, as OP_SAVE_PREFIX is; two operations of one size share a case. */
_Static_assert(OP_SAVE_PREFIX_SIZE == 1, "a byte of no operation is skipped alone");
_Static_assert(OP_CHIP_ERASE_SIZE == OP_READ_REG_SIZE, "the shared case of the two");
static unsigned char operation_size(unsigned char code)
{
    switch (code) {
    case OP_WRITE_REG:
        return OP_WRITE_REG_SIZE;
    case OP_STREAM_WRITE:
        return OP_STREAM_WRITE_SIZE;
    case OP_PAGE_WRITE:
        return OP_PAGE_WRITE_SIZE;
    case OP_STREAM_READ:
        return OP_STREAM_READ_SIZE;
    case OP_READ_REG:
    case OP_CHIP_ERASE:
        return OP_READ_REG_SIZE;
    default: /* OP_SAVE_PREFIX, OP_STREAM_END's code, a byte that is no code */
        return OP_SAVE_PREFIX_SIZE;
    }
}

/* The bytes of the operation being executed, code first. */
static unsigned char op[OP_PAGE_WRITE_SIZE];

/* The 24-bit number of the operation from its byte i on into the 32-bit one at to,
 * which the compiler keeps least significant byte first. */
static void take_number(__data unsigned long *to, unsigned char i)
{
    __data unsigned char *bytes = (__data unsigned char *)to;
    bytes[0] = op[i + 2];
    bytes[1] = op[i + 1];
    bytes[2] = op[i];
    bytes[3] = 0;
}

/* The operation names the bus registers and starts a transfer, prefixed when
 * OP_SAVE_PREFIX came in the packet before. */
static void start_transfer(void)
{
    out_reg_ptr = register_at(op[1]);
    in_reg_ptr = register_at(op[2]);
    stream.prefixed = prefix_next;
}

/* OP_PAGE_WRITE: refused, done at once (no data), or the command sent up to its
 * address and the data awaited: false when the rest of the packet is no operations
 * (data, or what follows a refused header). */
static unsigned char page_write_open(void)
{
    unsigned char width = op[3], instruction = CMD_WRITE;
    unsigned int n = ((unsigned int)op[7] << 8) | op[8];
    if (n > PAGE_WRITE_MAX || width == 0 || width > 3) {
        add_reply(PAGE_REFUSED);
        return 0;
    }
    if (n == 0) {
        add_reply(PAGE_DONE);
        return 1;
    }
    start_transfer();
    if (width == 1 && (op[5] & 1))
        instruction |= CMD_A8;
    bus_command(CMD_WREN);
    bus_command(instruction);
    bus_shift_out_bytes(op + 7 - width, width); /* the low bytes of the address */
    stream_left = n;
    stream.write_active = WRITE_PAGE;
    return 0;
}

/* The next packet of the streamed read into the stream buffer; where the host sent
 * OP_STREAM_END before it took the packet in EP1 IN, that packet is the last, and
 * taking it brings no refill: exactly one packet is pending after OP_STREAM_END. */
static void prefetch(void)
{
    if (bus_prefetch_packet())
        stream.read_active = READ_NONE;
}

/* Executes the operations of one command packet. An operation cut off by the
 * end of the packet is not executed: its missing parameters would be stale
 * bytes of an earlier packet. The byte after OP_STREAM_END is skipped
 * whatever it holds, so a one-byte OP_STREAM_END packet is whole. */
static void execute_operations(void)
{
    unsigned char p = 0, count = OUT1BC, size, i;
    prefix_next = prefix_requested;
    prefix_requested = 0;
    while (p < count) {
        size = operation_size(OUT1BUF[p]);
        if (size > (unsigned char)(count - p))
            break;
        for (i = 0; i < size; i++)
            op[i] = OUT1BUF[p++];
        switch (op[0]) {
        case OP_WRITE_REG:
            *register_at(op[1]) = op[2];
            break;
        case OP_READ_REG:
            add_reply(*register_at(op[1]));
            break;
        case OP_STREAM_WRITE:
            start_transfer();
            take_number(&stream_next, 3);
            take_number(&stream_left, 6);
            stream.page_open = 0;
            /* Nothing to send for length 0: the next packet is operations again. */
            stream.write_active = stream_left != 0 ? WRITE_STREAM : WRITE_NONE;
            break;
        case OP_STREAM_READ:
            start_transfer();
            bus_command(CMD_READ);
            bus_shift_out_bytes(op + 3, 3);
            /* The reply is this packet's only one: it fills IN1BUF. */
            bus_shift_in_bytes(stream_buffer, PACKET_SIZE);
            buffer_to_in1buf();
            reply_len = PACKET_SIZE;
            if (op[6])
                stream.read_active = READ_FILL_DUE;
            else
                bus_end();
            break;
        case OP_STREAM_END:
            stream.read_active = READ_NONE; /* what the stream buffer holds is dropped */
            /* Before any operation has named the bus output register, the
             * deselect goes to OUTB, never to address 0 of the data space. */
            if (!out_reg_ptr)
                out_reg_ptr = &OUTB;
            bus_end();
            p += (unsigned char)(OP_STREAM_END_SIZE - 1); /* its byte, where the packet has it */
            break;
        case OP_CHIP_ERASE:
            out_reg_ptr = register_at(op[1]);
            bus_command(CMD_WREN);
            bus_command(CMD_CE);
            bus_command(CMD_WRDI);
            bus_end();
            break;
        case OP_SAVE_PREFIX:
            prefix_requested = 1;
            add_reply(SAVE_PREFIX_TAKEN);
            break;
        case OP_PAGE_WRITE:
            if (!page_write_open()) {
                /* The page's first data bytes, clocked out once EP1 OUT is armed again. */
                if (stream.write_active) {
                    page_bytes = count - p;
                    for (i = 0; i < page_bytes; i++)
                        stream_buffer[i] = OUT1BUF[p + i];
                }
                return;
            }
        }
    }
}

/* At most n of the data bytes still to come, counted off. */
static unsigned char count_off(unsigned char n)
{
    if (stream_left < 0x100 && (unsigned char)stream_left < n)
        n = (unsigned char)stream_left;
    stream_left -= n;
    return n;
}

/* The count bytes of the stream buffer, data of an open streamed write, as page
 * programs. A page program opens before the first byte and after every close, and
 * closes after the last byte of a 256-byte page of the address or after the last
 * byte of the stream, so no page program crosses a page of the memory whatever the
 * start address. Bytes after the last one are discarded. The bytes between an open
 * and a close go out in one run. */
static void stream_write_data(unsigned char count)
{
    unsigned char p = 0, n, room;
    while (p < count) {
        if (!stream.page_open) {
            wait_not_busy();
            bus_command(CMD_WREN);
            bus_command(CMD_WRITE);
            send_address(stream_next);
            stream.page_open = 1;
        }
        /* Up to the end of the page of the address (room 0: a whole page) and
         * up to the last byte of the stream. */
        room = (unsigned char)(0 - (unsigned char)stream_next);
        n = count - p;
        if (room != 0 && n > room)
            n = room;
        n = count_off(n);
        bus_shift_out_bytes(stream_buffer + p, n);
        p += n;
        stream_next += n;
        /* A new page starts where the low byte of the address is 0. */
        if ((unsigned char)stream_next == 0 || stream_left == 0) {
            bus_end(); /* the memory starts programming */
            bus_start(CMD_WRDI);
            bus_end();
            stream.page_open = 0;
        }
        if (stream_left == 0) {
            stream.write_active = WRITE_NONE;
            break;
        }
    }
}

/* The count bytes of the stream buffer, data of OP_PAGE_WRITE, up to its N-th byte.
 * After that byte: deselect, which starts the memory's write cycle, the status reads
 * and the reply. */
static void page_write_data(unsigned char count)
{
    count = count_off(count);
    bus_shift_out_bytes(stream_buffer, count);
    if (stream_left == 0) {
        stream.write_active = WRITE_NONE;
        bus_end();
        count = still_busy(PAGE_WRITE_POLLS) ? PAGE_BUSY : PAGE_DONE;
        /* The host may send a page before it takes the reply of the one before. */
        while (IN1CS & bmEPBSY)
            ;
        IN1BUF[0] = count;
        IN1BC = 1;
    }
}

/* Both handlers clear their requests first: anything that the chip raises while a
 * handler runs then raises the USB interrupt anew and is served after it. */
void ep1_out_isr(void) __interrupt
{
    unsigned char count;
    EXIF &= ~bmUSBINT;
    OUT07IRQ = bmEP1;
    reply_len = 0;
    if (stream.write_active) {
        /* A data packet: into the stream buffer, and EP1 OUT re-armed before the
         * bytes go out on the bus. */
        count = OUT1BC;
        out1buf_to_buffer(count);
        OUT1BC = 0;
        if (stream.write_active == WRITE_PAGE)
            page_write_data(count);
        else
            stream_write_data(count);
        return;
    }
    page_bytes = 0;
    execute_operations();
    /* Hand over the reply, then re-arm EP1 OUT: the host cannot send the next packet
     * before OUT1BC is written, so the packet is never overwritten while it is
     * executed, and the next one's interrupt request is left standing. */
    if (reply_len)
        IN1BC = reply_len;
    OUT1BC = 0;
    if (page_bytes)
        page_write_data(page_bytes);
    /* A streamed read opened: its second packet, while the host takes the first. */
    if (stream.read_active == READ_FILL_DUE) {
        stream.read_active = READ_OPEN;
        prefetch();
    }
}

void ep1_in_isr(void) __interrupt
{
    EXIF &= ~bmUSBINT;
    IN07IRQ = bmEP1;
    /* The next packet is ready in the stream buffer; the one after it comes from the
     * bus while the host takes this one. */
    if (stream.read_active) {
        buffer_to_in1buf();
        IN1BC = PACKET_SIZE;
        prefetch();
    }
}
