/* Workload for comparing 8051 simulators: CRC-32, 32-bit multiply and divide,
   and a byte sort in XDATA. Plain 8051 code so that any 8051 simulator runs it
   the same way; the results land in XDATA at 0x3000 for a cross-check. */
#include <stdint.h>

__sfr __at(0x87) PCON_REG;
__sfr __at(0x92) _XPAGE;

__xdata __at(0x3000) uint32_t results[4];
__xdata __at(0x3100) uint8_t table[128];

static uint32_t crc32_byte(uint32_t c, uint8_t b) {
    uint8_t i;
    c ^= b;
    for (i = 0; i < 8; i++) c = (c & 1) ? (c >> 1) ^ 0xEDB88320UL : c >> 1;
    return c;
}

static void sort(__xdata uint8_t* p, uint8_t n) {
    uint8_t i, j, t;
    for (i = 0; i < n; i++)
        for (j = 0; j + 1 < n - i; j++)
            if (p[j] > p[j + 1]) {
                t = p[j];
                p[j] = p[j + 1];
                p[j + 1] = t;
            }
}

/* The run is over when the core reaches this loop. */
void bench_done(void) {
    for (;;) {}
}

void main(void) {
    uint16_t n;
    uint8_t round;
    uint32_t crc = 0xFFFFFFFFUL, acc = 1, q = 0;
    for (n = 0; n < 4000; n++) crc = crc32_byte(crc, (uint8_t)(n * 7));
    for (n = 1; n < 1500; n++) {
        acc = acc * 1103515245UL + 12345UL;
        q += acc / (n | 1) + acc % 97;
    }
    for (round = 0; round < 6; round++) {
        for (n = 0; n < 128; n++) table[n] = (uint8_t)(n * 73 + round * 31);
        sort(table, 128);
    }
    results[0] = ~crc;
    results[1] = acc;
    results[2] = q;
    results[3] = table[0] | (uint32_t)table[127] << 8;
    PCON_REG |= 1;
    bench_done();
}
