// Virtual time: one clock in 8051 cycles for the firmware, the USB frames, the cartridge
// and the host's waits. The 8051 runs in slices; spans in which it cannot change anything
// (held in reset, idle, unpowered, or spinning in a closed loop) are skipped.
#include <algorithm>
#include <thread>

#include "ezusb/ezusb_regs.h"
#include "ezusb/host_controller.h"

namespace emu {

using namespace ezusb;
using namespace host;

namespace {
constexpr uint64_t MAX_SLICE = 6000;
constexpr int LOOP_PROBE_STEPS = 64;      // longest closed loop that is recognised
constexpr uint64_t MIN_PROBE_SPAN = 512;  // not worth probing for less time than this
}  // namespace

// Runs the 8051 up to the target cycle or until done() holds, looked at between
// slices. Spans in which the 8051 cannot change anything are skipped.
bool Adapter::Impl::run_cpu(uint64_t target, const std::function<bool()>& done) {
    Cpu8051& c = cpu();
    for (;;) {
        if (done()) {
            clock = std::max(clock, c.cycles());
            return true;
        }
        uint64_t now = c.cycles();
        if (now >= target) {
            clock = std::max(clock, target);
            return false;
        }
        if (!plugged || chip.held() || c.halted()) {
            catch_up(target);
            continue;
        }
        uint64_t activity = c.bus_activity();
        uint64_t end = std::min(target, now + slice);
        c.run_until(end);
        stats.cycles_executed += c.cycles() - now;
        if (c.cycles() < end) {  // idle with nothing pending, or halted
            catch_up(target);
        } else if (c.bus_activity() != activity) {
            slice = BASE_SLICE;
        } else if (c.cycles() + MIN_PROBE_SPAN < target) {
            if (closed_loop())
                catch_up(target);
            else
                slice = std::min(slice * 2, MAX_SLICE);
        }
    }
}

// The 8051 did nothing up to target that would change anything: time just passes.
void Adapter::Impl::catch_up(uint64_t target) {
    uint64_t now = cpu().cycles();
    if (now >= target) return;
    cpu().skip_cycles(target - now);
    stats.cycles_skipped += target - now;
}

// A closed loop: from here the 8051 comes back to the same instruction with every
// register and internal RAM byte as they were, touching neither the chip nor an
// interrupt on the way. Nothing can change then until something outside acts.
bool Adapter::Impl::closed_loop() {
    Cpu8051& c = cpu();
    uint16_t pc = c.pc();
    uint8_t before[384];
    for (int i = 0; i < 256; ++i) before[i] = c.iram(uint8_t(i));
    for (int i = 0; i < 128; ++i) before[256 + i] = c.sfr(uint8_t(0x80 + i));
    uint64_t activity = c.bus_activity(), start = c.cycles();
    bool back = false;
    for (int i = 0; i < LOOP_PROBE_STEPS && !back; ++i) {
        if (c.step() == 0) break;
        back = c.pc() == pc;
    }
    stats.cycles_executed += c.cycles() - start;
    if (!back || c.bus_activity() != activity) return false;
    for (int i = 0; i < 256; ++i)
        if (before[i] != c.iram(uint8_t(i))) return false;
    for (int i = 0; i < 128; ++i)
        if (before[256 + i] != c.sfr(uint8_t(0x80 + i))) return false;
    return true;
}

void Adapter::Impl::pace() {
    if (!realtime) return;
    uint64_t ahead_ns = cycles_to_ns(clock - virtual_anchor);
    auto due = wall_anchor + std::chrono::nanoseconds(ahead_ns);
    if (due > std::chrono::steady_clock::now()) std::this_thread::sleep_until(due);
}

// Lets virtual time pass up to target: the 8051 runs, frames start, a device that
// attached gets enumerated when its debounce time has come.
void Adapter::Impl::advance_to(uint64_t target) {
    for (;;) {
        if (enumerate_at != NEVER && !enumerating && clock >= enumerate_at) {
            enumerate();
            continue;
        }
        if (clock >= target) break;
        uint64_t stop = target, pending = enumerate_at;
        if (enumerate_at != NEVER && !enumerating) stop = std::min(stop, enumerate_at);
        bool sof = attached && !suspended && (chip.peek(USBIEN) & USBIRQ_SOF);
        if (sof) stop = std::min(stop, frame_end(clock));
        // A device that attaches meanwhile gets its enumeration scheduled: look again,
        // so that a long sleep does not pass over it.
        run_cpu(stop, [&] { return enumerate_at != pending; });
        uint64_t frame = clock / CYCLES_PER_MS;
        if (sof && frame != last_sof_frame) chip.frame_started();
        last_sof_frame = frame;
        pace();
    }
}

}  // namespace emu
