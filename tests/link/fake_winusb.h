// A scripted stand-in for the SetupAPI, WinUSB and kernel32 functions that the WinUSB
// backend calls, taken over at the import level and forwarding to emulated adapters: a
// bus of several devices, adapters bound to WinUSB or not, adapters that leave the bus or
// come back under a new identity. The EZ-USB driver's device object never opens.
#pragma once
#include <cstdint>
#include <vector>

namespace emu {
class Adapter;
}

namespace fake_winusb {

// One device on the bus, in SetupAPI's order: an adapter (bound to WinUSB or not), or,
// without one, a USB mouse.
struct BusDevice {
    emu::Adapter* adapter;
    bool winusb;
};

extern std::vector<BusDevice> bus;
extern int open_files;              // device handles open
extern int device_lists;            // SetupAPI device lists not yet destroyed
extern int pipe_calls;              // WinUsb_ReadPipe and WinUsb_WritePipe calls
extern unsigned long pipe_timeout;  // the last PIPE_TRANSFER_TIMEOUT set, ms

uint16_t product_of(const BusDevice& device);

}  // namespace fake_winusb
