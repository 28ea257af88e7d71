// Host time per USB transfer: the real firmware in the emulated adapter, an EEPROM in the
// slot, and the traffic of an EEPROM write (register packets that clock the bus by hand)
// and of its verification (the same with register reads and a reply).
//
// Usage: bench_ezusb [transfers]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "adapter_protocol.h"
#include "chips/cartridge.h"
#include "core/cpu8051.h"
#include "echo_firmware.h"
#include "ezusb/adapter.h"
#include "firmware_image.h"

namespace {

double seconds_since(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

}  // namespace

int main(int argc, char** argv) {
    int transfers = argc > 1 ? std::atoi(argv[1]) : 100000;
    auto cartridge = emu::make_cartridge(emu::ChipKind::m95512);
    emu::Adapter adapter;
    adapter.insert(cartridge.get());
    adapter.plug();
    std::vector<uint8_t> image(firmware_image, firmware_image + firmware_image_size);
    auto load_start = std::chrono::steady_clock::now();
    if (!ezusb_test::download(adapter, image)) return std::puts("download failed"), 1;
    adapter.sleep_ns(2000000000);
    if (!adapter.present()) return std::puts("the firmware did not come back"), 1;
    std::printf("download, 1.5 s away from the bus, enumeration: %.1f ms of host time\n",
                seconds_since(load_start) * 1e3);

    const uint8_t setup[] = {OP_WRITE_REG, REG_PORTBCFG, 0,           OP_WRITE_REG, REG_PORTCCFG, 0,
                             OP_WRITE_REG, REG_OEC,      0,           OP_WRITE_REG, REG_OEB,      7,
                             OP_WRITE_REG, REG_OUTB,     PIN_DESELECT};
    adapter.bulk_out(0x01, setup, sizeof setup);

    // 21 register writes: data bits clocked out by hand, as a byte write does.
    std::vector<uint8_t> clocking;
    for (int i = 0; i < 21; ++i) {
        clocking.push_back(OP_WRITE_REG);
        clocking.push_back(REG_OUTB);
        clocking.push_back(uint8_t((i & 1) << 1 | (i >> 1 & 1)));
    }
    // Reading: 8 clock pulses with a read of the data line at each.
    std::vector<uint8_t> reading;
    for (int i = 0; i < 8; ++i) {
        uint8_t r[] = {OP_WRITE_REG, REG_OUTB,  0,           OP_WRITE_REG,
                       REG_OUTB,     PIN_CLOCK, OP_READ_REG, REG_PINSC};
        reading.insert(reading.end(), r, r + sizeof r);
    }

    emu::AdapterStats before = adapter.stats();
    uint64_t virtual_start = adapter.now_ns();
    auto start = std::chrono::steady_clock::now();
    std::clock_t cpu_start = std::clock();
    int failures = 0;
    for (int i = 0; i < transfers / 2; ++i) {
        if (adapter.bulk_out(0x01, clocking.data(), int(clocking.size())) < 0) ++failures;
    }
    double write_s = seconds_since(start);
    start = std::chrono::steady_clock::now();
    uint8_t reply[64];
    for (int i = 0; i < transfers / 4; ++i) {
        if (adapter.bulk_out(0x01, reading.data(), int(reading.size())) < 0) ++failures;
        if (adapter.bulk_in(0x81, reply, 64) != 8) ++failures;
    }
    double read_s = seconds_since(start);
    emu::AdapterStats after = adapter.stats();
    double cpu_s = double(std::clock() - cpu_start) / CLOCKS_PER_SEC;

    start = std::chrono::steady_clock::now();
    uint64_t idle_before = adapter.cpu().instructions();
    adapter.sleep_ns(60000000000ull);
    double idle_s = seconds_since(start);

    int n = transfers / 2 + 2 * (transfers / 4);
    std::printf("write packets:   %d transfers, %.2f us each\n", transfers / 2,
                write_s * 1e6 / (transfers / 2));
    std::printf("read round trip: %d transfers, %.2f us each\n", 2 * (transfers / 4),
                read_s * 1e6 / (2 * (transfers / 4)));
    std::printf("overall:         %.2f us per transfer; %.0f s for one million\n",
                (write_s + read_s) * 1e6 / n, (write_s + read_s) * 1e6 / n);
    std::printf("process CPU time: %.2f us per transfer (wall time suffers from other load)\n",
                cpu_s * 1e6 / n);
    std::printf("8051 per transfer: %.0f instructions, %.0f cycles executed, %.0f skipped\n",
                double(after.instructions - before.instructions) / n,
                double(after.cycles_executed - before.cycles_executed) / n,
                double(after.cycles_skipped - before.cycles_skipped) / n);
    std::printf("virtual time:    %.3f s for the transfers\n",
                double(adapter.now_ns() - virtual_start) / 1e9 - 60);
    std::printf("idle minute:     %.3f ms of host time, %llu instructions\n", idle_s * 1e3,
                static_cast<unsigned long long>(adapter.cpu().instructions() - idle_before));
    std::printf("failures:        %d\n", failures);
    return failures != 0;
}
