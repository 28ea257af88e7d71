// A stand-in for the parts of libusb-1.0 that the libusb driver backend calls,
// forwarding them to emulated adapters, so the backend can be run end to end without
// a USB stack. It can also hold a kernel driver bound to the bare chip, to show that
// the backend detaches it rather than giving up.
#pragma once
#include <cstdint>
#include <vector>

namespace emu {
class Adapter;
}

namespace fake_usb {

struct Transfer {
    bool interrupt;  // libusb_interrupt_transfer rather than libusb_bulk_transfer
    uint8_t endpoint;
    int length;
    unsigned timeout_ms;
};

struct Control {
    uint8_t request_type, request;
    uint16_t value, index, length;
};

struct State {
    bool kernel_driver_bound = false;  // a kernel driver holds interface 0 of every bare chip
    int detaches = 0;
    int reattaches = 0;
    int open_handles = 0;
    int config_descriptors_held = 0;
    std::vector<Control> controls;
    std::vector<Transfer> transfers;
};

extern State state;
// Devices are listed in the order they are added; a foreign device is a USB device of
// another vendor that shares the bus.
void add_adapter(emu::Adapter* adapter);
void add_foreign_device();
void reset();

}  // namespace fake_usb
