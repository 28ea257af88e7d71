#include "launcher/session.h"

#include "launcher/demo_save.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

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

void print_stats(Session& s) {
    emu::AdapterStats st = s.adapter.stats();
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

}  // namespace

[[noreturn]] void fail(const Session& s, const std::string& message) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s\n", s.program.c_str(), message.c_str());
    std::fflush(stderr);
    std::_Exit(LAUNCHER_ERROR);
}

void set_up(Session& s) {
    const Options& o = s.options;
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
        if (f.pull) s.chip->pull_at(f.pull_ms * 1000000u);
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
        s.timed = std::make_unique<TimedFaults>(top, o.faults);
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
    s.adapter.plug();
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
