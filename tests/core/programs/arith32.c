/* 32-bit multiply, divide and modulo, unsigned and signed, through SDCC's library. */
#include "results.h"

__xdata __at(0x3000) uint32_t results[10];

volatile __xdata uint32_t a = 0x89ABCDEFUL;
volatile __xdata uint32_t b = 0x00012345UL;
volatile __xdata int32_t c = -1234567L;
volatile __xdata int32_t d = 321;

void main(void) {
    results[0] = a * b;
    results[1] = a / b;
    results[2] = a % b;
    results[3] = (uint32_t)(c * d);
    results[4] = (uint32_t)(c / d);
    results[5] = (uint32_t)(c % d);
    results[6] = (uint32_t)(c / -7);
    results[7] = 0xFFFFFFFFUL / (uint32_t)d;
    results[8] = a >> 13;
    results[9] = (uint32_t)(c >> 5);
    FINISH();
}
