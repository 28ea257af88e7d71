#include "platform/interrupt_temporaries.h"

#include <cstdio>

#include "platform/interrupts.h"

char temporaries[TEMPORARIES_MAX][TEMPORARY_NAME_SIZE];
volatile std::sig_atomic_t temporary_count;

void track_temporary(const char* name) {
    if (temporary_count == TEMPORARIES_MAX) return;
    std::snprintf(temporaries[temporary_count], TEMPORARY_NAME_SIZE, "%s", name);
    temporary_count = temporary_count + 1;
}

void forget_temporaries() { temporary_count = 0; }
