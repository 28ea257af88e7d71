/* Standard requests on endpoint 0, answered from the descriptor block. The
 * request is chosen by bRequest alone, whatever the type bits say. */
#include "ezusb_regs.h"
#include "framework.h"

#define GET_STATUS 0x00
#define CLEAR_FEATURE 0x01
#define SET_FEATURE 0x03
#define GET_DESCRIPTOR 0x06
#define GET_CONFIGURATION 0x08
#define SET_CONFIGURATION 0x09
#define GET_INTERFACE 0x0A
#define SET_INTERFACE 0x0B

#define DESCRIPTOR_DEVICE 0x01
#define DESCRIPTOR_CONFIGURATION 0x02
#define DESCRIPTOR_STRING 0x03

/* How long a control transfer may last (USB 2.0, 9.2.6.4). */
#define CONTROL_TIMEOUT_MS 5000

#define RECIPIENT_DEVICE 0x00
#define RECIPIENT_ENDPOINT 0x02
#define DEVICE_REMOTE_WAKEUP 1
#define ENDPOINT_HALT 0

typedef __xdata unsigned char *descriptor_ptr;
typedef volatile __xdata unsigned char *xreg_ptr;

/* The descriptor block is read through the data space, where the chip's
 * internal memory holds program and data alike. */
static unsigned int find_config_descriptor(unsigned char index)
{
    descriptor_ptr d = (descriptor_ptr)config_descriptor_ptr;
    unsigned char count = 0;
    for (;;) {
        if (d[1] != DESCRIPTOR_CONFIGURATION)
            return 0;
        if (count == index)
            return (unsigned int)d;
        count++;
        d += d[2] | (d[3] << 8);
    }
}

static unsigned int find_string_descriptor(unsigned char index)
{
    descriptor_ptr d = (descriptor_ptr)string_descriptor_ptr;
    for (;;) {
        if (d[1] != DESCRIPTOR_STRING)
            return 0;
        if (index == 0)
            return (unsigned int)d;
        index--;
        d += d[0];
    }
}

static void stall_ep0(void)
{
    EP0CS |= bmEPSTALL;
}

/* Control/status register of the endpoint named by wIndex: bit 7 direction,
 * bits 0-2 number. Endpoint 0 has EP0CS for both directions. */
static xreg_ptr endpoint_cs(void)
{
    unsigned char n = SETUPDAT[4] & 0x07;
    if (n == 0)
        return (xreg_ptr)EP0CS_ADDR;
    if (SETUPDAT[4] & 0x80)
        return (xreg_ptr)(EP0CS_ADDR + 2 * n);
    return (xreg_ptr)(OUT0CS_BASE + 2 * n);
}

static void reply_two_bytes(unsigned char first)
{
    IN0BUF[0] = first;
    IN0BUF[1] = 0;
    IN0BC = 2;
}

static void reply_one_byte(unsigned char value)
{
    IN0BUF[0] = value;
    IN0BC = 1;
}

static void get_status(void)
{
    switch (SETUPDAT[0]) {
    case 0x80:
        reply_two_bytes((remote_wakeup_enabled ? 2 : 0) | (self_powered ? 1 : 0));
        break;
    case 0x81:
        reply_two_bytes(0);
        break;
    case 0x82:
        reply_two_bytes(*endpoint_cs() & bmEPSTALL);
        break;
    default:
        stall_ep0();
    }
}

/* SET_FEATURE (set = 1) and CLEAR_FEATURE (set = 0). */
static void change_feature(unsigned char set)
{
    unsigned char feature = SETUPDAT[2];
    if (SETUPDAT[0] == RECIPIENT_DEVICE) {
        if (feature == DEVICE_REMOTE_WAKEUP)
            remote_wakeup_enabled = set;
        else
            stall_ep0();
    } else if (SETUPDAT[0] == RECIPIENT_ENDPOINT) {
        if (feature != ENDPOINT_HALT) {
            stall_ep0();
        } else if (set) {
            *endpoint_cs() = bmEPSTALL;
        } else {
            *endpoint_cs() = 0;
            TOGCTL = (SETUPDAT[4] & 0x80 ? bmTOGCTL_IO : 0) + (SETUPDAT[4] & 0x07);
            TOGCTL |= bmTOGCTL_R;
        }
    }
}

/* Waits until the host has taken the packet handed over in IN0BUF. 0 when the host
 * has given the transfer up instead: a new setup packet has come, or the packet has
 * waited as long as a whole control transfer may last (USB 2.0, 9.2.6.4: 5 s). */
static unsigned char in0_taken(void)
{
    unsigned int waited = 0;
    while (EP0CS & bmIN0BSY) {
        if (setup_pending || waited == CONTROL_TIMEOUT_MS)
            return 0;
        wait_1ms();
        waited++;
    }
    return 1;
}

/* The firmware sends string descriptors itself, 64 bytes per packet (the chip's own
 * SUDPTR transfer takes string lengths wrong on some revisions: the Linux kernel's
 * keyspan_pda firmware notes it as rev D erratum 8). The data stage
 * ends at the host's wLength or at a short packet (USB 2.0, 8.5.3.2), so a zero-length
 * packet follows only a reply that is shorter than wLength and fills its last packet:
 * a packet the host never asks for would stay armed on endpoint 0, and a chip that
 * keeps it past the next setup packet would send it as that request's data. */
static void send_string(descriptor_ptr d)
{
    unsigned int requested = SETUPDAT[6] | (SETUPDAT[7] << 8);
    unsigned int total = requested < d[0] ? requested : d[0];
    unsigned int n = total;
    unsigned char chunk, i;
    while (n > 0) {
        chunk = n < 64 ? (unsigned char)n : 64;
        for (i = 0; i < chunk; i++)
            IN0BUF[i] = d[i];
        IN0BC = chunk;
        if (!in0_taken())
            return;
        n -= chunk;
        d += 64;
    }
    if (total < requested && (total & 63) == 0) {
        IN0BC = 0;
        in0_taken();
    }
}

static void point_chip_at(unsigned int address)
{
    SUDPTRH = address >> 8;
    SUDPTRL = address & 0xFF;
}

static void get_descriptor(void)
{
    unsigned int address;
    switch (SETUPDAT[3]) {
    case DESCRIPTOR_DEVICE:
        point_chip_at(device_descriptor_ptr);
        break;
    case DESCRIPTOR_CONFIGURATION:
        address = find_config_descriptor(SETUPDAT[2]);
        if (address)
            point_chip_at(address);
        else
            stall_ep0();
        break;
    case DESCRIPTOR_STRING:
        address = find_string_descriptor(SETUPDAT[2]);
        if (address)
            send_string((descriptor_ptr)address);
        else
            stall_ep0();
        break;
    default:
        stall_ep0();
    }
}

void handle_setup_request(void)
{
    switch (SETUPDAT[1]) {
    case GET_STATUS:
        get_status();
        break;
    case CLEAR_FEATURE:
        change_feature(0);
        break;
    case SET_FEATURE:
        change_feature(1);
        break;
    case GET_DESCRIPTOR:
        get_descriptor();
        break;
    case GET_CONFIGURATION:
        reply_one_byte(current_configuration);
        break;
    case SET_CONFIGURATION:
        current_configuration = SETUPDAT[2];
        break;
    case GET_INTERFACE:
        reply_one_byte(current_alt_setting);
        break;
    case SET_INTERFACE:
        current_alt_setting = SETUPDAT[2];
        break;
    default:
        stall_ep0();
    }
    /* Let the chip complete the status stage, once per request. A transfer that the
     * host has given up for a new setup packet gets none: the handshake now pending
     * is the new request's. */
    if (!setup_pending)
        EP0CS |= bmHSNAK;
}
