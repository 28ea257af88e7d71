/* Handlers of the USB bus events and of the resume interrupt. They only note
 * the event for the main loop and clear their request. */
#include "ezusb_regs.h"
#include "framework.h"

void sudav_isr(void) __interrupt
{
    setup_pending = 1;
    EXIF &= ~bmUSBINT;
    USBIRQ = bmSUDAV;
}

void sof_isr(void) __interrupt
{
    EXIF &= ~bmUSBINT;
    USBIRQ = bmSOF;
}

void sutok_isr(void) __interrupt
{
    EXIF &= ~bmUSBINT;
    USBIRQ = bmSUTOK;
}

void suspend_isr(void) __interrupt
{
    suspend_pending = 1;
    EXIF &= ~bmUSBINT;
    USBIRQ = bmSUSP;
}

/* Arms OUT endpoints 1-7; the framework and streaming state stay as they are. */
void usb_reset_isr(void) __interrupt
{
    XREG(OUT1BC_ADDR) = 0;
    XREG(OUT1BC_ADDR + 2) = 0;
    XREG(OUT1BC_ADDR + 4) = 0;
    XREG(OUT1BC_ADDR + 6) = 0;
    XREG(OUT1BC_ADDR + 8) = 0;
    XREG(OUT1BC_ADDR + 10) = 0;
    XREG(OUT1BC_ADDR + 12) = 0;
    EXIF &= ~bmUSBINT;
    USBIRQ = bmURES;
}

/* Endpoints that carry no traffic (EP0 IN/OUT, EP2-7 both ways): drop their
 * requests so that a stray packet neither repeats the interrupt for ever nor
 * disturbs EP1. */
void idle_endpoint_isr(void) __interrupt
{
    EXIF &= ~bmUSBINT;
    IN07IRQ = (unsigned char)~bmEP1;
    OUT07IRQ = (unsigned char)~bmEP1;
}

void resume_isr(void) __interrupt
{
    EICON &= ~bmRESI;
}
