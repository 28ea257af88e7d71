#include "launcher/session.h"

#include "launcher/demo_save.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <vector>

namespace emu_launcher {

namespace {

void print_endpoint(const Session& s, const char* name, const emu::EndpointStats& e) {
    if (e.transfers == 0) return;
    std::fprintf(stderr, "%s:   %-12s %10llu transfers %12llu bytes", s.program.c_str(), name,
                 static_cast<unsigned long long>(e.transfers),
                 static_cast<unsigned long long>(e.bytes));
    if (e.failures)
        std::fprintf(stderr, " %llu failed", static_cast<unsigned long long>(e.failures));
    std::fprintf(stderr, "\n");
}

void subtract(emu::EndpointStats& e, const emu::EndpointStats& before) {
    e.transfers -= before.transfers;
    e.failures -= before.failures;
    e.bytes -= before.bytes;
}

// The adapter's statistics since the tool's run began.
emu::AdapterStats run_stats(const Session& s) {
    emu::AdapterStats st = s.adapter.stats();
    const emu::AdapterStats& b = s.before_run;
    subtract(st.control, b.control);
    for (int n = 0; n < 8; ++n) {
        subtract(st.out[n], b.out[n]);
        subtract(st.in[n], b.in[n]);
    }
    st.virtual_ns -= b.virtual_ns;
    st.instructions -= b.instructions;
    st.cycles_executed -= b.cycles_executed;
    st.cycles_skipped -= b.cycles_skipped;
    return st;
}

void print_stats(Session& s) {
    emu::AdapterStats st = run_stats(s);
    double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - s.started).count();
    const char* p = s.program.c_str();
    std::fprintf(stderr, "%s: statistics\n", p);
    print_endpoint(s, "control", st.control);
    char name[16];
    for (int n = 1; n < 8; ++n) {
        std::snprintf(name, sizeof name, "EP%d OUT", n);
        print_endpoint(s, name, st.out[n]);
        std::snprintf(name, sizeof name, "EP%d IN", n);
        print_endpoint(s, name, st.in[n]);
    }
    std::fprintf(stderr, "%s:   modeled hardware time %.3f s, wall time %.3f s\n", p,
                 double(st.virtual_ns) / 1e9, wall);
    std::fprintf(stderr, "%s:   8051: %llu instructions, %llu cycles run, %llu skipped\n", p,
                 static_cast<unsigned long long>(st.instructions),
                 static_cast<unsigned long long>(st.cycles_executed),
                 static_cast<unsigned long long>(st.cycles_skipped));
    if (s.chip) {
        unsigned long long programs = 0, erases = 0, writes = 0;
        for (const auto& c : s.chip->cycles()) {
            if (c.kind == emu::ChipCycle::Kind::page_program)
                ++programs;
            else if (c.kind == emu::ChipCycle::Kind::eeprom_write)
                ++writes;
            else
                ++erases;
        }
        std::fprintf(stderr, "%s:   %s: %llu page programs, %llu erases, %llu writes\n", p,
                     emu::chip_kind_name(s.chip->kind()), programs, erases, writes);
    }
    if (s.flaky)
        std::fprintf(stderr, "%s:   flaky contacts: %llu bits read inverted\n", p,
                     static_cast<unsigned long long>(s.flaky->flipped()));
    if (s.infrared)
        std::fprintf(stderr,
                     "%s:   infrared transceiver: %zu commands of its own, %d timing faults\n", p,
                     s.infrared->mcu_commands().size(), s.infrared->timing_faults());
}

constexpr size_t kFirmwareImageSize = 4096;  // the chip's memory from 0x0000 on
constexpr uint16_t kCpucs = 0x7F92;

std::vector<uint8_t> read_firmware_image(const Session& s, const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) fail(s, "cannot read the adapter firmware " + path);
    std::vector<uint8_t> image((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    if (in.bad()) fail(s, "cannot read the adapter firmware " + path);
    if (image.size() != kFirmwareImageSize)
        fail(s, "the adapter firmware " + path + " holds " + std::to_string(image.size()) +
                    " bytes, not a " + std::to_string(kFirmwareImageSize) + "-byte image");
    return image;
}

// The adapter as an earlier run leaves it: the image downloaded through the chip's load
// request (0xA0) with the 8051 held, the 8051 released, and the firmware's own
// enumeration done. The requests are the host's own, outside the tool's run.
void start_firmware(Session& s, std::vector<uint8_t> image) {
    auto load = [&](uint16_t address, uint8_t* data, uint16_t length) {
        if (s.adapter.host_request({0x40, 0xA0, address, 0, length}, data) != length)
            fail(s, "the emulated adapter did not take the firmware " + s.options.adapter_firmware);
    };
    uint8_t hold = 1, run = 0;
    load(kCpucs, &hold, 1);
    for (size_t a = 0; a < image.size(); a += 64) load(uint16_t(a), &image[a], 64);
    const uint32_t before = s.adapter.enumeration();
    load(kCpucs, &run, 1);
    // A firmware that never leaves the bus leaves the adapter as it is: the tool finds
    // out for itself what runs there.
    const uint64_t released = s.adapter.now_ns();
    while (!(s.adapter.present() && s.adapter.enumeration() > before) &&
           s.adapter.now_ns() - released < 10000000000ull)
        s.adapter.sleep_ns(1000000);
}

}  // namespace

[[noreturn]] void fail(const Session& s, const std::string& message) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s\n", s.program.c_str(), message.c_str());
    std::fflush(stderr);
    std::_Exit(LAUNCHER_ERROR);
}

void set_up(Session& s) {
    const Options& o = s.options;
    uint64_t run_ns = 0;  // virtual time when the tool's run begins
    if (!o.adapter_firmware.empty()) {
        std::vector<uint8_t> image = read_firmware_image(s, o.adapter_firmware);
        s.adapter.plug();
        start_firmware(s, std::move(image));
        run_ns = s.adapter.now_ns();
        s.before_run = s.adapter.stats();
    }
    emu::Cartridge* top = nullptr;
    if (o.chip != emu::ChipKind::none) {
        s.chip = std::make_unique<emu::SaveChip>(o.chip, o.timing);
        if (o.cart.empty()) {
            s.chip->fill(demo_save(o.chip));
        } else {
            try {
                s.chip->attach_file(o.cart);
            } catch (const std::exception& e) {
                fail(s, e.what());
            }
        }
        const FaultSet& f = o.faults;
        if (f.pull) s.chip->pull_at(run_ns + f.pull_ms * 1000000u);
        for (const auto& stuck : f.stuck_bits) s.chip->add_stuck_bits(stuck.first, stuck.second);
        s.chip->set_erase_hang(f.erase_hang);
        if (f.slow_program) s.chip->set_program_time_us(f.program_us);
        s.chip->set_drop_writes(f.drop_writes);
        top = s.chip.get();
        if (o.infrared) {
            s.infrared = std::make_unique<emu::InfraredTransceiver>(top);
            top = s.infrared.get();
        }
    } else {
        s.slot = emu::make_cartridge(emu::ChipKind::none);
        top = s.slot.get();
    }
    // The contacts are between the cartridge and the board's data-in line.
    if (o.faults.flaky_ppm != 0) {
        s.flaky = std::make_unique<emu::FlakyContacts>(top, o.faults.flaky_ppm, o.faults.seed);
        top = s.flaky.get();
    }
    if (o.faults.data_in >= 0) {
        s.stuck = std::make_unique<emu::StuckDataIn>(top, o.faults.data_in);
        top = s.stuck.get();
    }
    if (o.faults.timed()) {
        s.timed = std::make_unique<TimedFaults>(top, o.faults, run_ns);
        top = s.timed.get();
    }
    try {
        if (!o.trace_bus.empty()) {
            s.bus_trace = std::make_unique<emu::BusVcdTrace>(top, o.trace_bus);
            top = s.bus_trace.get();
        }
        if (!o.trace_usb.empty()) s.usb_trace = std::make_unique<emu::UsbPcapWriter>(o.trace_usb);
    } catch (const std::exception& e) {
        fail(s, e.what());
    }
    s.adapter.insert(top);
    s.adapter.set_trace(s.usb_trace.get());
    s.adapter.set_realtime(o.realtime);
    if (o.adapter_firmware.empty()) s.adapter.plug();
    if (o.faults.unplugged_from_start) s.adapter.unplug();
    s.adapter.set_faults(o.faults.usb);
}

void finish(Session& s) {
    if (s.chip) s.chip->finish();  // the cartridge keeps its power after the host is done
    if (s.bus_trace && !s.bus_trace->flush())
        fail(s, "writing the bus trace " + s.options.trace_bus + " failed");
    if (s.usb_trace && !s.usb_trace->flush())
        fail(s, "writing the USB trace " + s.options.trace_usb + " failed");
    if (s.options.stats) print_stats(s);
    std::fflush(stderr);
}

}  // namespace emu_launcher
