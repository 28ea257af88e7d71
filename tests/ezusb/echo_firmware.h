// The echo test firmware, loaded into an adapter as a host would do it.
#pragma once

#include <cstdint>
#include <vector>

#include "ezusb/adapter.h"

namespace ezusb_test {

std::vector<uint8_t> echo_image();
// Holds the 8051, downloads image with 0xA0 writes of 64 bytes, releases it; true when
// every request succeeded.
bool download(emu::Adapter& adapter, const std::vector<uint8_t>& image);
// download, then waits until the firmware has come back on the bus (at most 3 s).
bool start_echo(emu::Adapter& adapter);

// Standard and vendor requests of the tests.
int get_descriptor(emu::Adapter& adapter, uint8_t type, uint8_t index, uint16_t length,
                   uint8_t* data);
std::vector<uint8_t> interrupt_log(emu::Adapter& adapter);  // vendor request 0x52

}  // namespace ezusb_test
