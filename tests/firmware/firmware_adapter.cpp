#include "firmware_adapter.h"

#include "ezusb_registers.h"
#include "firmware_image.h"

#include <algorithm>

namespace fwtest {

namespace {
constexpr uint8_t EP1_OUT = 0x01;
constexpr uint8_t EP1_IN = 0x81;
}  // namespace

FirmwareAdapter::FirmwareAdapter(emu::ChipKind kind) : chip_(kind) { adapter_.insert(&chip_); }

bool FirmwareAdapter::load(uint16_t address, const uint8_t* data, uint16_t length) {
    std::vector<uint8_t> buffer(data, data + length);
    return adapter_.control({0x40, 0xA0, address, 0, length}, buffer.data()) == length;
}

bool FirmwareAdapter::start() { return start(firmware_image, sizeof firmware_image); }

bool FirmwareAdapter::start(const unsigned char* image, unsigned size) {
    adapter_.plug();
    if (!adapter_.present()) return false;
    const uint8_t hold = 1, run = 0;
    if (!load(CPUCS, &hold, 1)) return false;
    for (unsigned a = 0; a < size; a += 64)
        if (!load(static_cast<uint16_t>(a), image + a,
                  static_cast<uint16_t>(std::min(64u, size - a))))
            return false;
    const uint32_t before = adapter_.enumeration();
    if (!load(CPUCS, &run, 1)) return false;
    const uint64_t released = adapter_.now_ns();
    uint64_t left = 0, back = 0;
    while (adapter_.now_ns() - released < 10000 * NS_PER_MS) {
        adapter_.sleep_ns(1 * NS_PER_MS);
        if (!adapter_.attached() && left == 0) left = adapter_.now_ns();
        if (left != 0 && adapter_.attached() && back == 0) back = adapter_.now_ns();
        if (adapter_.present() && adapter_.enumeration() > before) {
            restart_ns_ = adapter_.now_ns() - released;
            detached_ns_ = left != 0 && back != 0 ? back - left : 0;
            return true;
        }
    }
    return false;
}

bool FirmwareAdapter::send(const std::vector<uint8_t>& packet) {
    return adapter_.bulk_out(EP1_OUT, packet.data(), static_cast<int>(packet.size())) ==
           static_cast<int>(packet.size());
}

std::vector<uint8_t> FirmwareAdapter::receive(int length) {
    std::vector<uint8_t> data(static_cast<size_t>(length));
    int n = adapter_.bulk_in(EP1_IN, data.data(), length);
    data.resize(n < 0 ? 0 : static_cast<size_t>(n));
    return data;
}

bool FirmwareAdapter::nothing_pending() {
    adapter_.set_timeout_ns(20 * NS_PER_MS);
    uint8_t data[64];
    int n = adapter_.bulk_in(EP1_IN, data, 64);
    adapter_.set_timeout_ns(emu::Adapter::DEFAULT_TIMEOUT_NS);
    return n < 0;
}

std::vector<uint8_t> FirmwareAdapter::control_in(uint8_t request_type, uint8_t request,
                                                 uint16_t value, uint16_t index, uint16_t length,
                                                 int* result) {
    std::vector<uint8_t> data(length);
    int n = adapter_.control({request_type, request, value, index, length}, data.data());
    if (result) *result = n;
    data.resize(n < 0 ? 0 : static_cast<size_t>(n));
    return data;
}

int FirmwareAdapter::control_out(uint8_t request_type, uint8_t request, uint16_t value,
                                 uint16_t index) {
    return adapter_.control({request_type, request, value, index, 0}, nullptr);
}

}  // namespace fwtest
