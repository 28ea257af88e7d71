/* Bit variables, bit-addressable SFR bits, bit-fields, shifts and rotates. */
#include "results.h"

__xdata __at(0x3000) uint8_t results[16];

__sfr __at(0xF0) B_REG;
__sbit __at(0xF3) B_BIT3;
__sbit __at(0xF7) B_BIT7;

__bit flag_a;
__bit flag_b;

struct fields {
    unsigned low : 3;
    unsigned mid : 4;
    unsigned top : 1;
};

volatile __data uint8_t seed = 0xB6;

static uint8_t count_ones(uint8_t v) {
    uint8_t n = 0;
    while (v) {
        n += v & 1;
        v >>= 1;
    }
    return n;
}

/* Read through a function: assigning a bit-field straight to an XDATA byte
   makes this compiler version merge it into the byte's old contents. */
static uint8_t low_of(const struct fields* f) { return f->low; }
static uint8_t mid_of(const struct fields* f) { return f->mid; }
static uint8_t top_of(const struct fields* f) { return f->top; }

static uint8_t rotate_left(uint8_t v, uint8_t k) { return (uint8_t)((v << k) | (v >> (8 - k))); }

void main(void) {
    struct fields f;
    uint8_t v = seed;
    flag_a = v & 0x80;
    flag_b = !flag_a;
    results[0] = flag_a;
    results[1] = flag_b;
    results[2] = flag_a ^ flag_b;
    B_REG = v;
    B_BIT3 = 1;
    B_BIT7 = 0;
    results[3] = B_REG;
    results[4] = count_ones(v);
    results[5] = rotate_left(v, 3);
    f.low = v;
    f.mid = v >> 3;
    f.top = 1;
    f.low += 5;
    results[6] = low_of(&f);
    results[7] = mid_of(&f);
    results[8] = top_of(&f);
    results[9] = (uint8_t)(((uint16_t)v << 4) >> 8);
    results[10] = (uint8_t)((int8_t)v >> 2);
    FINISH();
}
