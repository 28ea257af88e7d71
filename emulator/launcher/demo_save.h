// The built-in demonstration save that the virtual cartridge holds when no --cart file
// is given: a small game save of the chip's size, recognisable in a text dump.
#pragma once

#include "chips/cartridge.h"

#include <cstdint>
#include <vector>

namespace emu_launcher {

// Empty for ChipKind::none.
std::vector<uint8_t> demo_save(emu::ChipKind kind);

}  // namespace emu_launcher
