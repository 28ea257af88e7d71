/* A small EZ-USB firmware that proves the chip model: it leaves the bus and comes back
 * with its own identity, serves its descriptors through SUDPTR and IN0BUF, echoes every
 * EP1 OUT packet on EP1 IN, and logs the autovector byte of every USB interrupt it takes
 * (vendor request 0x52 reads and empties the log). */
#include <stdint.h>

#define XREG(name, addr) __xdata __at(addr) volatile uint8_t name
XREG(OUT1BUF[64], 0x7E40);
XREG(IN1BUF[64], 0x7E80);
XREG(IN0BUF[64], 0x7F00);
XREG(IN07IRQ, 0x7FA9);
XREG(OUT07IRQ, 0x7FAA);
XREG(USBIRQ, 0x7FAB);
XREG(IN07IEN, 0x7FAC);
XREG(OUT07IEN, 0x7FAD);
XREG(USBIEN, 0x7FAE);
XREG(USBBAV, 0x7FAF);
XREG(EP0CS, 0x7FB4);
XREG(IN0BC, 0x7FB5);
XREG(IN1BC, 0x7FB7);
XREG(OUT1BC, 0x7FC7);
XREG(SUDPTRH, 0x7FD4);
XREG(SUDPTRL, 0x7FD5);
XREG(USBCS, 0x7FD6);
XREG(IN07VAL, 0x7FDE);
XREG(OUT07VAL, 0x7FDF);
XREG(SETUPDAT[8], 0x7FE8);

__sfr __at(0x87) PCON;
__sfr __at(0x91) EXIF;
__sfr __at(0xD8) EICON;
__sfr __at(0xE8) EIE;
__sbit __at(0xAF) EA;

#define AUTOVECTOR (*(__code volatile uint8_t*)0x0045)

static __code const uint8_t device_descriptor[18] = {
    0x12, 0x01, 0x10, 0x01, 0x00, 0x00, 0x00, 0x40, 0x47, 0x05, 0x57, 0x7E, 0x00, 0x01, 1, 2, 0, 1};

static __code const uint8_t config_descriptor[39] = {
    0x09, 0x02, 39,   0x00, 0x01, 0x01, 0x00, 0x80, 0x32, 0x09, 0x04, 0x00, 0x00,
    0x03, 0xFF, 0x00, 0x00, 0x00, 0x07, 0x05, 0x01, 0x02, 0x40, 0x00, 0x00, /* EP1 OUT bulk: echoed
                                                                             */
    0x07, 0x05, 0x81, 0x03, 0x40, 0x00, 0x01,                               /* EP1 IN interrupt */
    0x07, 0x05, 0x02, 0x02, 0x40, 0x00, 0x00}; /* EP2 OUT bulk: never armed */

static __code const uint8_t string0[4] = {4, 3, 0x09, 0x04};
static __code const uint8_t string1[10] = {10, 3, 'T', 0, 'E', 0, 'S', 0, 'T', 0};
#define LONG_TEXT "echo firmware of the chip model tests!!" /* 39 characters: two packets */
static __code const char long_text[] = LONG_TEXT;

static volatile __bit setup_pending, suspend_pending;
static volatile uint8_t log_length;
static volatile uint8_t log_bytes[16];
static volatile uint8_t echo_length, repeats;

static void log_source(void) {
    if (log_length < sizeof log_bytes) log_bytes[log_length++] = AUTOVECTOR;
}

void sudav_isr(void) __interrupt {
    log_source();
    setup_pending = 1;
    EXIF &= ~0x10;
    USBIRQ = 0x01;
}

void sof_isr(void) __interrupt {
    log_source();
    EXIF &= ~0x10;
    USBIRQ = 0x02;
}

void sutok_isr(void) __interrupt {
    log_source();
    EXIF &= ~0x10;
    USBIRQ = 0x04;
}

void suspend_isr(void) __interrupt {
    log_source();
    suspend_pending = 1;
    EXIF &= ~0x10;
    USBIRQ = 0x08;
}

void ures_isr(void) __interrupt {
    log_source();
    OUT1BC = 0;
    EXIF &= ~0x10;
    USBIRQ = 0x10;
}

void ep1out_isr(void) __interrupt {
    uint8_t i, n = OUT1BC;
    log_source();
    for (i = 0; i < n; ++i) IN1BUF[i] = OUT1BUF[i];
    /* A packet that starts with 0xEE asks for its echo to be handed over again that
     * many times (second byte) each time the host has taken it. */
    repeats = (n >= 2 && OUT1BUF[0] == 0xEE) ? OUT1BUF[1] : 0;
    echo_length = n;
    IN1BC = n;
    OUT1BC = 0;
    EXIF &= ~0x10;
    OUT07IRQ = 0x02;
}

void ep1in_isr(void) __interrupt {
    log_source();
    if (repeats) {
        --repeats;
        IN1BC = echo_length;
    }
    EXIF &= ~0x10;
    IN07IRQ = 0x02;
}

void unexpected_isr(void) __interrupt {
    log_source();
    EXIF &= ~0x10;
    IN07IRQ = 0xFF;
    OUT07IRQ = 0xFF;
}

void resume_isr(void) __interrupt {
    if (log_length < sizeof log_bytes) log_bytes[log_length++] = 0xAA;
    EICON &= ~0x10;
}

static void send_pointer(const __code uint8_t* descriptor) {
    SUDPTRH = (uint8_t)((uint16_t)descriptor >> 8);
    SUDPTRL = (uint8_t)(uint16_t)descriptor;
}

/* Sends n bytes through IN0BUF, 64 per packet, waiting for the host to take each. */
static void send_in0(uint8_t length, uint8_t wanted, uint8_t (*byte_at)(uint8_t)) {
    uint8_t sent = 0, i, n;
    if (length > wanted) length = wanted;
    while (sent < length) {
        n = length - sent > 64 ? 64 : length - sent;
        for (i = 0; i < n; ++i) IN0BUF[i] = byte_at(sent + i);
        IN0BC = n;
        sent += n;
        while (EP0CS & 0x04) {}
    }
}

static uint8_t long_string_byte(uint8_t i) {
    if (i == 0) return 2 + 2 * (sizeof long_text - 1);
    if (i == 1) return 3;
    return (i & 1) ? 0 : long_text[(i - 2) / 2];
}

static uint8_t log_byte(uint8_t i) { return i == 0 ? log_length : log_bytes[i - 1]; }

static void handle_setup(void) {
    uint8_t type = SETUPDAT[0], request = SETUPDAT[1], index = SETUPDAT[2];
    uint8_t wanted = SETUPDAT[7] ? 255 : SETUPDAT[6];
    if (type == 0x80 && request == 0x06 && SETUPDAT[3] == 1) {
        send_pointer(device_descriptor);
    } else if (type == 0x80 && request == 0x06 && SETUPDAT[3] == 2 && index == 0) {
        send_pointer(config_descriptor);
    } else if (type == 0x80 && request == 0x06 && SETUPDAT[3] == 3 && index < 2) {
        send_pointer(index == 0 ? string0 : string1);
    } else if (type == 0x80 && request == 0x06 && SETUPDAT[3] == 3 && index == 2) {
        send_in0(2 + 2 * (sizeof long_text - 1), wanted, long_string_byte);
    } else if (type == 0x00 && request == 0x09) {
        /* configuration: nothing to switch */
    } else if (type == 0xC0 && request == 0x52) {
        send_in0(log_length + 1, wanted, log_byte);
        log_length = 0;
    } else {
        EP0CS |= 0x01;
    }
    EP0CS |= 0x02;
}

void main(void) {
    uint16_t i;
    IN07VAL = 0x03;
    OUT07VAL = 0x07;
    IN07IEN = 0x02;
    OUT07IEN = 0x02;
    USBIEN = 0x1D; /* SUDAV, SUTOK, SUSPEND, USB reset */
    USBBAV = 0x01;
    EIE |= 0x01;
    EICON |= 0x20;
    EA = 1;

    USBCS |= 0x08;
    USBCS &= ~0x04;
    USBCS |= 0x02;
    for (i = 0; i < 3000; ++i) {}
    USBIRQ = 0xFF;
    IN07IRQ = 0xFF;
    OUT07IRQ = 0xFF;
    EXIF &= ~0x10;
    USBCS &= ~0x08;
    USBCS |= 0x04;

    for (;;) {
        if (setup_pending) {
            handle_setup();
            setup_pending = 0;
        }
        if (suspend_pending) {
            /* Idle until the resume interrupt; a wake-up pin event resumes the bus. */
            suspend_pending = 0;
            PCON |= 0x01;
            if (USBCS & 0x80) {
                USBCS |= 0x01;
                for (i = 0; i < 3000; ++i) {}
                USBCS &= ~0x01;
            }
        }
    }
}
