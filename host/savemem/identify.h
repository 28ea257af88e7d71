// Identification of the cartridge's save memory.
#pragma once
#include "run/run_state.h"

// Opens the bus, identifies the save memory and sets save_type and save_size; ends the
// run when no memory can be identified.
void identify_save_memory(RunMode mode, int data_length);
