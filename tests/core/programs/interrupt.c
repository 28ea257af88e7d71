/* A USB interrupt handler entered because the program itself sets EXIF bit 4,
   while the main loop keeps computing in registers. */
#include "results.h"

__xdata __at(0x3000) uint8_t results[16];

__sfr __at(0x91) EXIF;
__sfr __at(0xA8) IE;
__sfr __at(0xE8) EIE;

volatile uint8_t entries;
volatile uint16_t handler_sum;

void usb_handler(void) __interrupt(8) {
    entries++;
    handler_sum += entries * 3;
    EXIF &= (uint8_t)~0x10;
}

void main(void) {
    uint8_t i;
    uint16_t main_sum = 0;
    EIE |= 0x01;
    IE |= 0x80;
    for (i = 0; i < 5; i++) {
        EXIF |= 0x10;
        results[i] = entries;
        main_sum += (uint16_t)i * 1000;
    }
    IE &= (uint8_t)~0x80;
    EXIF |= 0x10; /* masked: must not be taken */
    results[5] = entries;
    results[6] = (uint8_t)handler_sum;
    results[7] = (uint8_t)main_sum;
    results[8] = (uint8_t)(main_sum >> 8);
    FINISH();
}
