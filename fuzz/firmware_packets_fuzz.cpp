// Random command packets to the real firmware, running in the emulated adapter after its
// download and re-enumeration. The firmware may do whatever the packets ask of it; the
// emulator must neither crash (the sanitizers watch it) nor hang: every transfer ends
// within its timeout, and the whole input within a bounded amount of virtual time.
//
// An input is a script: its first byte picks the cartridge's chip, then each action byte
// is followed by its own operands:
//   0-3  one packet on EP1 OUT, 1 to 64 bytes (length byte, then the packet's bytes)
//   4    one read of EP1 IN (up to 64 bytes)
//   5    a control request (8 bytes of setup; length capped at 64)
//   6    the host waits (one byte: milliseconds)
//   7    the port set-up packet the host sends before anything else
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "firmware_adapter.h"

namespace {

constexpr uint64_t MS = 1000000;
constexpr uint64_t TRANSFER_TIMEOUT_NS = 50 * MS;
constexpr int MAX_ACTIONS = 48;
constexpr uint8_t EP1_OUT = 0x01, EP1_IN = 0x81;

const emu::ChipKind CHIP_KINDS[] = {emu::ChipKind::le25fw203, emu::ChipKind::m45pe20,
                                    emu::ChipKind::m95040, emu::ChipKind::m95640,
                                    emu::ChipKind::m95512};

void check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "emulator property broken: %s\n", what);
    std::abort();
}

class Script {
public:
    Script(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool done() const { return at_ >= size_; }
    uint8_t next() { return at_ < size_ ? data_[at_++] : 0; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Script script(data, size);
    fwtest::FirmwareAdapter fw(CHIP_KINDS[script.next() % 5]);
    check(fw.start(), "the firmware comes back after its download");
    emu::Adapter& adapter = fw.adapter();
    adapter.set_timeout_ns(TRANSFER_TIMEOUT_NS);
    const uint64_t started = adapter.now_ns();

    // Each action may last one transfer timeout, a wait up to 255 ms, and the frames of
    // a transfer of up to 64 bytes; anything beyond that is a hang.
    const uint64_t action_bound = TRANSFER_TIMEOUT_NS + 255 * MS + 70 * MS;
    int actions = 0;
    for (; actions < MAX_ACTIONS && !script.done(); ++actions) {
        const uint64_t before = adapter.now_ns();
        uint8_t action = script.next() % 8;
        if (action <= 3) {
            std::vector<uint8_t> packet(1 + script.next() % 64);
            for (auto& byte : packet) byte = script.next();
            int n = adapter.bulk_out(EP1_OUT, packet.data(), static_cast<int>(packet.size()));
            check(n == -1 || n == static_cast<int>(packet.size()),
                  "bulk OUT moves the whole packet or fails");
        } else if (action == 4) {
            uint8_t reply[64];
            int n = adapter.bulk_in(EP1_IN, reply, sizeof reply);
            check(n >= -1 && n <= 64, "EP1 IN returns at most one packet");
        } else if (action == 5) {
            emu::SetupPacket setup;
            setup.request_type = script.next();
            setup.request = script.next();
            setup.value = static_cast<uint16_t>(script.next() | script.next() << 8);
            setup.index = static_cast<uint16_t>(script.next() | script.next() << 8);
            setup.length = static_cast<uint16_t>((script.next() | script.next() << 8) % 65);
            uint8_t buffer[64] = {};
            int n = adapter.control(setup, buffer);
            check(n >= -1 && n <= setup.length, "a control transfer moves at most its length");
        } else if (action == 6) {
            adapter.sleep_ns(script.next() * MS);
        } else {
            fw.send({OP_WRITE_REG, REG_PORTBCFG, 0x00, OP_WRITE_REG, REG_OEB, 0xFF, OP_WRITE_REG,
                     REG_PORTCCFG, 0x00, OP_WRITE_REG, REG_OEC, 0x00, OP_WRITE_REG, REG_OUTB,
                     0x04});
        }
        check(adapter.now_ns() - before <= action_bound,
              "every action ends in bounded virtual time");
    }
    check(adapter.now_ns() - started <= static_cast<uint64_t>(actions) * action_bound,
          "the run is bounded");
    return 0;
}
