/* Generic pointers to code, data, idata and xdata, and a call through a function pointer. */
#include "results.h"

__xdata __at(0x3000) uint8_t results[16];

__code const char message[] = "generic pointers";
__data uint8_t near_buf[4];
__idata uint8_t far_buf[4];
__xdata uint8_t ext_buf[4];

static uint8_t length(const char* s) {
    uint8_t n = 0;
    while (*s++) n++;
    return n;
}

static uint16_t sum(const uint8_t* p, uint8_t n) __reentrant {
    uint16_t total = 0;
    while (n--) total += *p++;
    return total;
}

static void fill(uint8_t* p, uint8_t n, uint8_t first) {
    while (n--) *p++ = first++;
}

static uint16_t apply(uint16_t (*f)(const uint8_t*, uint8_t) __reentrant, const uint8_t* p,
                      uint8_t n) {
    return f(p, n);
}

void main(void) {
    uint16_t s;
    results[0] = length(message);
    s = sum((const uint8_t*)message, results[0]);
    results[1] = (uint8_t)s;
    results[2] = (uint8_t)(s >> 8);
    fill(near_buf, 4, 0x10);
    fill(far_buf, 4, 0x20);
    fill(ext_buf, 4, 0x30);
    results[3] = (uint8_t)sum(near_buf, 4);
    results[4] = (uint8_t)sum(far_buf, 4);
    results[5] = (uint8_t)apply(sum, ext_buf, 4);
    results[6] = ((const char*)message)[8];
    results[7] = *(ext_buf + 3);
    FINISH();
}
