/* Start-up of the USB side, the reconnection as the firmware's own device, the
 * main loop that serves setup requests, and suspend/resume. */
#include "ezusb_regs.h"
#include "framework.h"

__bit setup_pending;
__bit suspend_pending;
__bit remote_wakeup_enabled;
__bit self_powered;

unsigned char current_configuration;
unsigned char current_alt_setting;

unsigned int device_descriptor_ptr;
unsigned int config_descriptor_ptr;
unsigned int string_descriptor_ptr;

/* The AN21xx's 8051 always runs at 24 MHz (its CPUCS has no clock-speed bit: bits
 * 2-3 read 0), so a millisecond is always the same number of turns. */
void wait_ms(unsigned int n)
{
    while (n) {
        wait_1ms();
        n--;
    }
}

static void init_endpoints(void)
{
    IN07VAL |= bmEP1TO7;
    OUT07VAL |= bmEP1TO7;
    OUT07IEN |= bmEP1TO7;
    IN07IEN |= bmEP1TO7;
    OEA = 0xFF;
    remote_wakeup_enabled = 1;
}

/* Leave the bus for 1500 ms and attach again, so that the host enumerates
 * the device anew and sees the firmware's own descriptors; RENUM hands endpoint 0
 * to the firmware. */
static void reconnect_to_bus(void)
{
    USBCS |= bmDISCON;
    USBCS &= ~bmDISCOE;
    USBCS |= bmRENUM;
    wait_ms(1500);
    USBIRQ = 0xFF;
    IN07IRQ = 0xFF;
    OUT07IRQ = 0xFF;
    EXIF &= ~bmUSBINT;
    USBCS &= ~bmDISCON;
    USBCS |= bmDISCOE;
}

static void enter_suspend(void)
{
    USBCS |= bmWAKESRC;
    PCON |= bmIDLE;
    /* clang-format off */
    __asm
        nop
        nop
        nop
        nop
        nop
    __endasm;
    /* clang-format on */
}

static void signal_resume(void)
{
    if (USBCS & bmWAKESRC) {
        USBCS |= bmSIGRSUME;
        wait_ms(20);
        USBCS &= ~bmSIGRSUME;
    }
}

void firmware_main(void)
{
    suspend_pending = 0;
    remote_wakeup_enabled = 0;
    self_powered = 0;
    setup_pending = 0;

    init_endpoints();

    device_descriptor_ptr = (unsigned int)device_descriptor;
    config_descriptor_ptr = (unsigned int)config_descriptor;
    string_descriptor_ptr = (unsigned int)string_descriptor0;

    EIE |= bmEUSB;
    EICON |= bmERESI;
    USBBAV |= bmAVEN;
    USBIEN |= bmUSBIEN_FRAMEWORK;
    EA = 1;

    reconnect_to_bus();

    CKCON &= ~bmMD;

    for (;;) {
        /* The flag is cleared before the request is served: a setup packet that
         * comes meanwhile (the host has given the current transfer up) sets it again
         * and is served next. */
        if (setup_pending) {
            setup_pending = 0;
            handle_setup_request();
        }
        if (suspend_pending) {
            suspend_pending = 0;
            /* A wake-up pin event the host has not permitted sends the chip
             * straight back to sleep. */
            do
                enter_suspend();
            while (!remote_wakeup_enabled && (USBCS & bmWAKESRC));
            signal_resume();
        }
    }
}
