// One run of an emulated adapter with its cartridge, as the launcher's options describe
// it: the save chip (kept in step with --cart, or holding the demonstration save),
// the board's faults, the traces and the statistics. pelkat-emu hands the adapter to the
// emulated driver; the usbdevfs test bed serves it to other programs.
#pragma once

#include "chips/infrared.h"
#include "chips/save_chip.h"
#include "ezusb/adapter.h"
#include "launcher/options.h"
#include "trace/bus_vcd.h"
#include "trace/usb_pcap.h"

#include <chrono>
#include <memory>
#include <string>

namespace emu_launcher {

constexpr int LAUNCHER_ERROR = 2;  // the exit code of a launcher that cannot run

struct Session {
    std::string program;  // the prefix of every diagnostic on standard error
    Options options;
    std::unique_ptr<emu::SaveChip> chip;
    std::unique_ptr<emu::InfraredTransceiver> infrared;  // in front of the chip (--chip ir-NAME)
    std::unique_ptr<emu::Cartridge> slot;                // a cartridge without a save chip
    std::unique_ptr<emu::StuckDataIn> stuck;
    std::unique_ptr<emu::FlakyContacts> flaky;
    std::unique_ptr<TimedFaults> timed;
    std::unique_ptr<emu::BusVcdTrace> bus_trace;
    std::unique_ptr<emu::UsbPcapWriter> usb_trace;
    emu::Adapter adapter;
    // What the adapter had done before the tool's run began (--adapter-firmware: the
    // download of the image and its enumeration); the statistics leave it out.
    emu::AdapterStats before_run;
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
};

// "program: message" on standard error, then the process ends with LAUNCHER_ERROR.
[[noreturn]] void fail(const Session& s, const std::string& message);

// Builds the cartridge and the traces, inserts the cartridge and plugs the adapter
// with its faults set; with --adapter-firmware the adapter is running that image
// first, and the faults' times count from then on. An unusable cartridge, trace or
// firmware file ends the process (fail).
void set_up(Session& s);

// Lets the cartridge finish what it is doing, finishes the traces and prints the
// statistics (--stats); a trace that cannot be written ends the process (fail).
void finish(Session& s);

}  // namespace emu_launcher
