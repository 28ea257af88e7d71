// The emulated EZ-USB driver: the driver's requests served by emulated adapters
// through their USB side, for tests and for the pelkat-emu launcher. The device path
// "\\.\ezusb-N" opens the N-th registered adapter while it is attached and enumerated;
// a handle from before a re-enumeration fails every request. Sleep lets the virtual
// time of every registered adapter pass. Every request is recorded unless recording
// is switched off.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace emu {
class Adapter;
}

namespace emu_driver {

struct Request {
    uint32_t code;
    std::vector<uint8_t> input;
    uint32_t output_length;
    bool succeeded;
    std::vector<uint8_t> data;  // pipe requests: the bytes sent, or the bytes received
};

struct Open {
    std::string path;
    uint32_t access, share, disposition, flags;
    bool succeeded;
};

// Deliberate misbehaviour of the driver itself (faults on the wire are the adapter's).
struct Faults {
    uint32_t fail_code = 0;  // requests with this code fail without reaching the adapter,
    int fail_count = 0;      // this many of them
    int fail_opens = 0;      // this many opens fail
};

// The adapter becomes the next index, counted from 0. Not owned.
void register_adapter(emu::Adapter* adapter);
// Forgets the adapters, the record and the faults; open handles become stale.
void reset();

const std::vector<Request>& requests();
const std::vector<Open>& opens();
void clear_record();
// Long runs (the launcher) switch the record off: it grows with every request.
void set_recording(bool on);

void set_faults(const Faults& faults);

}  // namespace emu_driver
