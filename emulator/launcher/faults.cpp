#include "launcher/faults.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>

namespace emu_launcher {

namespace {

// The signal of a sigint, sigterm or sighup fault; 0 for any other name. Windows has no
// such signals for the tool (its console sends control events to a thread of their own).
int signal_named(const std::string& name) {
#ifdef _WIN32
    (void)name;
#else
    if (name == "sigint") return SIGINT;
    if (name == "sigterm") return SIGTERM;
    if (name == "sighup") return SIGHUP;
#endif
    return 0;
}

}  // namespace

bool parse_number(const std::string& text, uint64_t max, uint64_t& value) {
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') return false;
    bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char* start = text.c_str() + (hex ? 2 : 0);
    if (*start == '\0' || *start == '-' || *start == '+' || *start == ' ') return false;
    char* end = nullptr;
    errno = 0;
    unsigned long long v = std::strtoull(start, &end, hex ? 16 : 10);
    if (errno != 0 || *end != '\0' || v > max) return false;
    value = v;
    return true;
}

const char* fault_help() {
    return "  usb-fail=N         the N-th USB transfer (from 1) and every later one fail\n"
           "  usb-fail-once=N    only the N-th USB transfer fails\n"
           "  no-return          after the firmware download the adapter never comes back\n"
           "  unplug=N           the adapter vanishes after N transfers (0: not plugged in)\n"
           "  data-in=0|1        the data-in line is stuck low or high\n"
           "  pull=MS            the cartridge is pulled after MS ms of virtual time\n"
           "  stuck-bits=ADDR:MASK  bits of MASK at ADDR never change on write or erase\n"
           "  erase-hang         an erase never finishes (write-in-progress stays set)\n"
           "  slow-program=US    page programs and EEPROM writes take US microseconds\n"
           "  kill=MS            the process is killed after MS ms of virtual time\n"
           "  flaky=PPM          each bit the cartridge drives reads inverted with a\n"
           "                     probability of PPM per million (1 to 1000000), the\n"
           "                     same bits in every run of the same --seed\n"
           "  drop-writes        writes, page programs and erases are taken and report\n"
           "                     done, but the memory keeps its old bytes\n"
           "  reinsert=MS        the cartridge is pulled and put back at once after MS ms\n"
           "                     of virtual time: the command under way is lost\n"
           "  sigint=MS, sigterm=MS, sighup=MS\n"
           "                     the process gets that signal after MS ms of virtual time\n"
           "                     (not on Windows)\n"
           "  (numbers are decimal or 0x-prefixed hexadecimal)\n";
}

bool parse_fault(const std::string& spec, FaultSet& faults, std::string& error) {
    size_t eq = spec.find('=');
    std::string name = spec.substr(0, eq);
    std::string arg = eq == std::string::npos ? "" : spec.substr(eq + 1);
    bool has_arg = eq != std::string::npos;
    uint64_t n = 0;
    auto bad = [&](const char* what) {
        error = "bad fault '" + spec + "': " + what;
        return false;
    };

    if (name == "no-return" || name == "erase-hang" || name == "drop-writes") {
        if (has_arg) return bad("takes no value");
        if (name == "no-return")
            faults.usb.no_reattach = true;
        else if (name == "erase-hang")
            faults.erase_hang = true;
        else
            faults.drop_writes = true;
        return true;
    }
    const int signal_number = signal_named(name);
    if (!has_arg) {
        if (name == "usb-fail" || name == "usb-fail-once" || name == "unplug" ||
            name == "data-in" || name == "pull" || name == "stuck-bits" || name == "slow-program" ||
            name == "kill" || name == "flaky" || name == "reinsert" || signal_number != 0)
            return bad("needs a value after '='");
        error = "unknown fault '" + spec + "' (see --help)";
        return false;
    }
    if (name == "usb-fail" || name == "usb-fail-once") {
        if (!parse_number(arg, UINT32_MAX, n) || n == 0)
            return bad("N must be a transfer number from 1");
        (name == "usb-fail" ? faults.usb.fail_from : faults.usb.fail_once) = n;
        return true;
    }
    if (name == "unplug") {
        if (!parse_number(arg, UINT32_MAX, n)) return bad("N must be a number of transfers");
        if (n == 0)
            faults.unplugged_from_start = true;
        else
            faults.usb.vanish_after = n;
        return true;
    }
    if (name == "data-in") {
        if (arg != "0" && arg != "1") return bad("the level is 0 or 1");
        faults.data_in = arg[0] - '0';
        return true;
    }
    if (name == "pull" || name == "kill") {
        if (!parse_number(arg, UINT64_MAX / 1000000, n))
            return bad("MS must be a number of milliseconds");
        (name == "pull" ? faults.pull : faults.kill) = true;
        (name == "pull" ? faults.pull_ms : faults.kill_ms) = n;
        return true;
    }
    if (name == "reinsert" || signal_number != 0) {
        if (!parse_number(arg, UINT64_MAX / 1000000, n))
            return bad("MS must be a number of milliseconds");
        if (name == "reinsert")
            faults.reinsert_ms.push_back(n);
        else
            faults.signals.push_back({n, signal_number});
        return true;
    }
    if (name == "flaky") {
        if (!parse_number(arg, 1000000, n) || n == 0)
            return bad("PPM must be 1 to 1000000 per million");
        faults.flaky_ppm = static_cast<uint32_t>(n);
        return true;
    }
    if (name == "stuck-bits") {
        size_t colon = arg.find(':');
        uint64_t address = 0, mask = 0;
        if (colon == std::string::npos || !parse_number(arg.substr(0, colon), 0xFFFFFF, address) ||
            !parse_number(arg.substr(colon + 1), 0xFF, mask) || mask == 0)
            return bad(
                "expected ADDR:MASK with an address below 0x1000000 and a mask of 1 to 0xFF");
        faults.stuck_bits.emplace_back(static_cast<uint32_t>(address), static_cast<uint8_t>(mask));
        return true;
    }
    if (name == "slow-program") {
        if (!parse_number(arg, 60000000, n) || n == 0)
            return bad("US must be 1 to 60000000 microseconds");
        faults.slow_program = true;
        faults.program_us = static_cast<uint32_t>(n);
        return true;
    }
    error = "unknown fault '" + spec + "' (see --help)";
    return false;
}

TimedFaults::TimedFaults(emu::Cartridge* inner, const FaultSet& faults, uint64_t start_ns)
    : inner_(inner) {
    constexpr uint64_t ms = 1000000;
    if (faults.kill) events_.push_back({start_ns + faults.kill_ms * ms, Action::kill, 0});
    for (uint64_t at : faults.reinsert_ms)
        events_.push_back({start_ns + at * ms, Action::reinsert, 0});
    for (const SignalFault& s : faults.signals)
        events_.push_back({start_ns + s.at_ms * ms, Action::signal, s.signal_number});
    std::stable_sort(events_.begin(), events_.end(),
                     [](const Event& a, const Event& b) { return a.at_ns < b.at_ns; });
}

void TimedFaults::drive(emu::BusLines lines, uint64_t now_ns) {
    while (next_ < events_.size() && events_[next_].at_ns <= now_ns) {
        const Event& e = events_[next_++];
        switch (e.action) {
        case Action::kill:
#ifdef SIGKILL
            std::raise(SIGKILL);
#endif
            std::_Exit(137);
        case Action::reinsert: reinsert(now_ns); break;
        case Action::signal: std::raise(e.signal_number); break;
        }
    }
    if (inner_) inner_->drive(lines, now_ns);
}

}  // namespace emu_launcher
