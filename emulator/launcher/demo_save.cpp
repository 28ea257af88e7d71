#include "launcher/demo_save.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace emu_launcher {

// Two save slots, as many games keep them: a slot at the start and a copy in the second
// half (for memories of 8 KiB and more), each a 32-byte title line followed by game
// data; the rest of the memory is erased (0xFF). The first bytes are all different, so
// every identification path sees data, and on the 64 KiB EEPROM the bytes at 0x2000
// differ from those at 0, so its size test does not mistake it for the 8 KiB one.
std::vector<uint8_t> demo_save(emu::ChipKind kind) {
    uint32_t size = emu::chip_size(kind);
    std::vector<uint8_t> memory(size, 0xFF);
    if (size == 0) return memory;
    uint32_t slot = size >= 0x2000 ? std::min<uint32_t>(0x1000, size / 4) : size / 2;
    char title[33];
    std::snprintf(title, sizeof title, "PELKAT DEMO SAVE %-15s", emu::chip_kind_name(kind));
    std::memcpy(memory.data(), title, 32);
    uint32_t state = 0x2545F491u ^ size;
    for (uint32_t i = 32; i < slot; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        memory[i] = static_cast<uint8_t>(state);
    }
    if (size >= 0x2000) std::memcpy(memory.data() + size / 2, memory.data(), slot);
    return memory;
}

}  // namespace emu_launcher
