// The chip's own answers on endpoint 0 while no firmware has taken it over (RENUM clear):
// the default USB device of an AN21xx without a serial EEPROM, 0x0547:0x2131 with one
// configuration whose interface has no endpoints and no strings, so that a host can
// find and load a bare chip.
#pragma once

#include <cstdint>

namespace emu {

struct SetupPacket;

struct DefaultDevice {
    uint8_t configuration = 0;
    uint8_t alt_setting = 0;

    // Serves a standard request; data holds setup.length bytes. Returns the bytes of the
    // data stage, or -1 for a stall.
    int request(const SetupPacket& setup, uint8_t* data);
};

}  // namespace emu
