/* Test programs leave their results in XDATA at 0x3000 and then put the core
   into idle with no interrupt enabled, which ends the run. */
#ifndef RESULTS_H
#define RESULTS_H

#include <stdint.h>

__sfr __at(0x87) PCON_REG;

/* The EZ-USB core takes the high byte of MOVX @Ri from MPAGE, not from P2 as the
   library start-up code assumes unless told otherwise. */
__sfr __at(0x92) _XPAGE;

#define FINISH()       \
    do {               \
        PCON_REG |= 1; \
    } while (0)

#endif
