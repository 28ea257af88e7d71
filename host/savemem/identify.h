// Identification of the cartridge's save memory.
#pragma once
#include "frontend/run_state.h"

// Opens the bus and settles save_type (1, 2 or 3) and save_size; ends the run when
// no type can be settled.
void identify_save_memory(RunMode mode, int data_length);
