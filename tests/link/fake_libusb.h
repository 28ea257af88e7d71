// A stand-in for the parts of libusb-1.0 that the libusb driver backend calls,
// forwarding them to emulated adapters, for what the usbdevfs test bed cannot show:
// several adapters with a foreign device among them, a handle that outlives a power
// cycle, and a device node the user may not open.
#pragma once

namespace emu {
class Adapter;
}

namespace fake_usb {

struct State {
    bool deny_open = false;  // opening an adapter fails as without the udev rule
    int open_handles = 0;
    int config_descriptors_held = 0;
};

extern State state;
// Devices are listed in the order they are added; a foreign device is a USB device of
// another vendor that shares the bus.
void add_adapter(emu::Adapter* adapter);
void add_foreign_device();
void reset();

}  // namespace fake_usb
