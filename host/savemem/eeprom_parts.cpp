#include "savemem/eeprom_parts.h"

namespace {

// Page sizes from the makers' data sheets, "Page Write": ST M95040 (DocID6512) 16 bytes,
// M95640 (DocID16877) 32 bytes, M95512 (DS4192) 128 bytes, M95M01 (M95M01-R/-DF) 256 bytes.
constexpr EepromPart EEPROM_PARTS[] = {
    {SAVE_EEPROM_9BIT, 0x200, 1, 16},      // M95040
    {SAVE_EEPROM_16BIT, 0x2000, 2, 32},    // M95640
    {SAVE_EEPROM_16BIT, 0x10000, 2, 128},  // M95512
    {SAVE_EEPROM_24BIT, 0x20000, 3, 256},  // M95M01
};

}  // namespace

const EepromPart* eeprom_part(SaveType type, int size) {
    for (const EepromPart& part : EEPROM_PARTS)
        if (part.type == type && part.size == size) return &part;
    return nullptr;
}
