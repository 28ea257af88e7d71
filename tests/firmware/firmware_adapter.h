// An emulated adapter running the real firmware image, with a serial FLASH cartridge:
// plug, download through the chip's load request, release, and wait until the firmware
// has come back on the bus as its own device. Reusable by any test that needs a running
// adapter.
#pragma once

#include "adapter_protocol.h"
#include "chips/save_chip.h"
#include "ezusb/adapter.h"

#include <cstdint>
#include <vector>

namespace fwtest {

constexpr uint64_t NS_PER_MS = 1000000;

class FirmwareAdapter {
public:
    explicit FirmwareAdapter(emu::ChipKind kind = emu::ChipKind::le25fw203);

    emu::Adapter& adapter() { return adapter_; }
    emu::SaveChip& chip() { return chip_; }

    // Plugs the adapter, loads the image and starts the 8051. Returns true once the
    // firmware's own enumeration is complete (within 10 s of virtual time).
    bool start(const unsigned char* image, unsigned size);
    bool start();  // the built firmware image
    // Virtual time from the release of the 8051 to the firmware's enumeration, and how
    // long the device was off the bus in between.
    uint64_t restart_ns() const { return restart_ns_; }
    uint64_t detached_ns() const { return detached_ns_; }

    // One command or data packet on EP1 OUT; true when the adapter took it. The packet
    // is executed after it was taken: settle() before looking at its effects.
    bool send(const std::vector<uint8_t>& packet);
    // Lets 20 ms of virtual time pass, time enough for any packet's execution.
    void settle() { adapter_.sleep_ns(20 * NS_PER_MS); }
    // One packet from EP1 IN (up to 64 bytes); empty when nothing came before the timeout.
    std::vector<uint8_t> receive(int length = 64);
    // True when EP1 IN offers nothing within 20 ms.
    bool nothing_pending();

    // Control transfer with an IN data stage: the bytes received (none on a stall);
    // *result gets the transfer's result, -1 for a stall.
    std::vector<uint8_t> control_in(uint8_t request_type, uint8_t request, uint16_t value,
                                    uint16_t index, uint16_t length, int* result = nullptr);
    // Control transfer without a data stage; its result (0 or -1 on a stall).
    int control_out(uint8_t request_type, uint8_t request, uint16_t value, uint16_t index);

    // A register or buffer byte of the chip, as the 8051 would read it.
    uint8_t peek(uint16_t address) const { return adapter_.peek(address); }

private:
    bool load(uint16_t address, const uint8_t* data, uint16_t length);

    emu::SaveChip chip_;
    emu::Adapter adapter_;
    uint64_t restart_ns_ = 0;
    uint64_t detached_ns_ = 0;
};

}  // namespace fwtest
