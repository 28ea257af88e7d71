// Bus presence: attach and detach as the chip's pull-up comes and goes, and the
// enumeration a Windows host performs on every attach.
#include <algorithm>

#include "ezusb/host_controller.h"

namespace emu {

using namespace host;

void Adapter::Impl::pullup_changed() {
    if (!chip.pullup()) {
        attached = present = suspended = false;
        enumerate_at = NEVER;
        return;
    }
    if (vanished || (faults.no_reattach && started_by_host)) return;
    attached = true;
    enumerate_at = cycles() + ATTACH_DEBOUNCE;
}

void Adapter::Impl::bus_reset() {
    chip.bus_reset();
    default_device = DefaultDevice{};
    address = 0;
    advance_to(cycles() + RESET_LENGTH);
}

// What Windows does with a new device: reset, read the start of the device
// descriptor, reset again, give it an address, read the device and configuration
// descriptors and select configuration 1.
void Adapter::Impl::enumerate() {
    enumerate_at = NEVER;
    enumerating = true;
    bool ok = enumerate_steps();
    enumerating = false;
    if (ok && attached) {
        present = true;
        ++enumeration;
    }
}

bool Adapter::Impl::enumerate_steps() {
    uint8_t buffer[1024];
    bus_reset();
    if (!attached || control_stage({0x80, 0x06, 0x0100, 0, 64}, buffer) < 8) return false;
    bus_reset();
    next_address = uint8_t(next_address % 127 + 1);
    if (!attached || control_stage({0x00, 0x05, next_address, 0, 0}, nullptr) < 0) return false;
    int n = control_stage({0x80, 0x06, 0x0100, 0, 18}, buffer);
    if (n != 18) return false;
    device_descriptor.assign(buffer, buffer + 18);
    if (control_stage({0x80, 0x06, 0x0200, 0, 9}, buffer) != 9) return false;
    uint16_t total = uint16_t(buffer[2] | buffer[3] << 8);
    total = std::min<uint16_t>(total, sizeof buffer);
    n = control_stage({0x80, 0x06, 0x0200, 0, total}, buffer);
    if (n < 9) return false;
    configuration.assign(buffer, buffer + n);
    parse_endpoints(buffer, n);
    return control_stage({0x00, 0x09, 1, 0, 0}, nullptr) >= 0;
}

void Adapter::Impl::parse_endpoints(const uint8_t* d, int n) {
    endpoints.clear();
    int interface = -1, alt = -1;
    for (int p = 0; p + 2 <= n && d[p] >= 2; p += d[p]) {
        if (d[p + 1] == 4 && p + 4 <= n) {
            interface = d[p + 2];
            alt = d[p + 3];
        } else if (d[p + 1] == 5 && p + 7 <= n && interface == 0 && alt == 0) {
            endpoints.push_back(
                {d[p + 2], uint8_t(d[p + 3] & 3), uint16_t(d[p + 4] | d[p + 5] << 8), d[p + 6]});
        }
    }
}

}  // namespace emu
