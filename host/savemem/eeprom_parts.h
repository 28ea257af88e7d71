// The serial EEPROMs the tool writes, by the size and address kind that identification
// settles: how their WRITE addresses them and how many bytes one write cycle takes.
#pragma once
#include "run/run_state.h"

struct EepromPart {
    SaveType type;
    int size;
    int address_bytes;  // after the instruction: 1 (bit 8 rides in it), 2 or 3
    int page;           // bytes one WRITE may carry, inside one page
};

// nullptr for a memory not in the table.
const EepromPart* eeprom_part(SaveType type, int size);
