// pelkat-emu: the pelkat tool, built from the same sources, running against an emulated
// adapter through the emulated driver. The tool owns standard output and the exit code;
// the launcher speaks only on standard error.
#include "chips/save_chip.h"
#include "ezusb/adapter.h"
#include "frontend/run_sequence.h"
#include "launcher/demo_save.h"
#include "launcher/options.h"
#include "platform/driver_emu.h"
#include "trace/bus_vcd.h"
#include "trace/usb_pcap.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr int kLauncherError = 2;

// Everything the run needs lives until the process ends: the tool leaves through exit(),
// and the cartridge file, traces and statistics are finished by an exit handler.
struct Session {
    emu_launcher::Options options;
    std::unique_ptr<emu::SaveChip> chip;
    std::unique_ptr<emu::Cartridge> slot;  // a cartridge without a save chip
    std::unique_ptr<emu::StuckDataIn> stuck;
    std::unique_ptr<emu_launcher::KillAt> killer;
    std::unique_ptr<emu::BusVcdTrace> bus_trace;
    std::unique_ptr<emu::UsbPcapWriter> usb_trace;
    emu::Adapter adapter;
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
};

Session* session = nullptr;

[[noreturn]] void fail(const std::string& message) {
    std::fflush(stdout);
    std::fprintf(stderr, "pelkat-emu: %s\n", message.c_str());
    std::fflush(stderr);
    std::_Exit(kLauncherError);
}

void print_endpoint(const char* name, const emu::EndpointStats& s) {
    if (s.transfers == 0) return;
    std::fprintf(stderr, "pelkat-emu:   %-12s %10llu transfers %12llu bytes", name,
                 static_cast<unsigned long long>(s.transfers), static_cast<unsigned long long>(s.bytes));
    if (s.failures) std::fprintf(stderr, " %llu failed", static_cast<unsigned long long>(s.failures));
    std::fprintf(stderr, "\n");
}

void print_stats(Session& s) {
    emu::AdapterStats st = s.adapter.stats();
    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - s.started).count();
    std::fprintf(stderr, "pelkat-emu: statistics\n");
    print_endpoint("control", st.control);
    char name[16];
    for (int n = 1; n < 8; ++n) {
        std::snprintf(name, sizeof name, "EP%d OUT", n);
        print_endpoint(name, st.out[n]);
        std::snprintf(name, sizeof name, "EP%d IN", n);
        print_endpoint(name, st.in[n]);
    }
    std::fprintf(stderr, "pelkat-emu:   modeled hardware time %.3f s, wall time %.3f s\n",
                 double(st.virtual_ns) / 1e9, wall);
    std::fprintf(stderr, "pelkat-emu:   8051: %llu instructions, %llu cycles run, %llu skipped\n",
                 static_cast<unsigned long long>(st.instructions),
                 static_cast<unsigned long long>(st.cycles_executed),
                 static_cast<unsigned long long>(st.cycles_skipped));
    if (s.chip) {
        unsigned long long programs = 0, erases = 0, writes = 0;
        for (const auto& c : s.chip->cycles()) {
            if (c.kind == emu::ChipCycle::Kind::page_program) ++programs;
            else if (c.kind == emu::ChipCycle::Kind::eeprom_write) ++writes;
            else ++erases;
        }
        std::fprintf(stderr, "pelkat-emu:   %s: %llu page programs, %llu erases, %llu writes\n",
                     emu::chip_kind_name(s.chip->kind()), programs, erases, writes);
    }
}

// Runs when the tool ends the process, whichever way it ends it.
void finish_session() {
    Session& s = *session;
    if (s.chip) s.chip->finish();  // the cartridge keeps its power after the host is done
    if (s.bus_trace && !s.bus_trace->flush()) fail("writing the bus trace " + s.options.trace_bus + " failed");
    if (s.usb_trace && !s.usb_trace->flush()) fail("writing the USB trace " + s.options.trace_usb + " failed");
    if (s.options.stats) print_stats(s);
    std::fflush(stderr);
}

void set_up(Session& s) {
    const emu_launcher::Options& o = s.options;
    emu::Cartridge* top = nullptr;
    if (o.chip != emu::ChipKind::none) {
        s.chip = std::make_unique<emu::SaveChip>(o.chip, o.timing);
        if (o.cart.empty()) {
            s.chip->fill(emu_launcher::demo_save(o.chip));
        } else {
            try {
                s.chip->attach_file(o.cart);
            } catch (const std::exception& e) {
                fail(e.what());
            }
        }
        const emu_launcher::FaultSet& f = o.faults;
        if (f.pull) s.chip->pull_at(f.pull_ms * 1000000u);
        for (const auto& stuck : f.stuck_bits) s.chip->add_stuck_bits(stuck.first, stuck.second);
        s.chip->set_erase_hang(f.erase_hang);
        if (f.slow_program) s.chip->set_program_time_us(f.program_us);
        top = s.chip.get();
    } else {
        s.slot = emu::make_cartridge(emu::ChipKind::none);
        top = s.slot.get();
    }
    if (o.faults.data_in >= 0) {
        s.stuck = std::make_unique<emu::StuckDataIn>(top, o.faults.data_in);
        top = s.stuck.get();
    }
    if (o.faults.kill) {
        s.killer = std::make_unique<emu_launcher::KillAt>(top, o.faults.kill_ms * 1000000u);
        top = s.killer.get();
    }
    try {
        if (!o.trace_bus.empty()) {
            s.bus_trace = std::make_unique<emu::BusVcdTrace>(top, o.trace_bus);
            top = s.bus_trace.get();
        }
        if (!o.trace_usb.empty()) s.usb_trace = std::make_unique<emu::UsbPcapWriter>(o.trace_usb);
    } catch (const std::exception& e) {
        fail(e.what());
    }
    s.adapter.insert(top);
    s.adapter.set_trace(s.usb_trace.get());
    s.adapter.set_realtime(o.realtime);
    s.adapter.plug();
    if (o.faults.unplugged_from_start) s.adapter.unplug();
    s.adapter.set_faults(o.faults.usb);
    emu_driver::set_recording(false);
    emu_driver::register_adapter(&s.adapter);
}

}  // namespace

int main(int argc, char** argv) {
    session = new Session;
    std::string error;
    if (!emu_launcher::parse_options(argc, argv, session->options, error)) {
        std::fprintf(stderr, "pelkat-emu: %s\n", error.c_str());
        return kLauncherError;
    }
    if (session->options.help) {
        std::fputs(emu_launcher::usage_text().c_str(), stdout);
        return 0;
    }
    set_up(*session);
    std::atexit(finish_session);

    std::vector<char*> tool_argv;
    static char tool_name[] = "pelkat";
    tool_argv.push_back(tool_name);
    for (std::string& a : session->options.tool_args) tool_argv.push_back(&a[0]);
    tool_argv.push_back(nullptr);
    return pelkat_main(static_cast<int>(tool_argv.size() - 1), tool_argv.data());
}
