#include "chips/infrared.h"

#include "adapter_protocol.h"

namespace emu {

void InfraredTransceiver::drive(BusLines lines, uint64_t now_ns) {
    BusLines prev = lines_;
    lines_ = lines;
    if (!prev.select && lines.select) {
        release(now_ns);
        return;
    }
    if (prev.select && !lines.select) {
        bits_ = 0;
        byte_ = 0;
        too_fast_ = false;
        late_bits_ = false;
        phase_ = gate_open_ ? Phase::memory : Phase::first_byte;
    }
    if (lines.select) return;
    bool rising = !prev.clock && lines.clock;
    switch (phase_) {
    case Phase::first_byte:
        if (rising) first_byte_edge(lines, now_ns);
        break;
    case Phase::opening:
        if (now_ns >= open_ns_) {
            gate_open_ = true;
            phase_ = Phase::memory;
            // The memory's select falls with the clock where it stands: no edge.
            memory_->drive(BusLines{true, prev.clock, prev.data}, open_ns_);
            memory_->drive(BusLines{false, prev.clock, prev.data}, open_ns_);
            memory_->drive(lines, now_ns);
        } else if (rising) {
            late_bits_ = true;  // lost: the memory is not selected yet
        }
        break;
    case Phase::memory: memory_->drive(lines, now_ns); break;
    case Phase::mcu:
    case Phase::idle: break;
    }
    if (prev.clock != lines.clock) last_edge_ns_ = now_ns;
}

void InfraredTransceiver::first_byte_edge(BusLines lines, uint64_t now_ns) {
    if (bits_ > 0 && now_ns - last_rise_ns_ < PREFIX_BIT_NS) too_fast_ = true;
    last_rise_ns_ = now_ns;
    byte_ = static_cast<uint8_t>(byte_ << 1 | (lines.data ? 1 : 0));
    if (++bits_ < 8) return;
    if (byte_ == CMD_SAVE_PREFIX && !too_fast_) {
        phase_ = Phase::opening;
        open_ns_ = now_ns + PAUSE_NS;
        return;
    }
    if (byte_ == CMD_SAVE_PREFIX) ++timing_faults_;
    mcu_commands_.push_back(byte_);
    phase_ = Phase::mcu;
}

// Select reaches the memory through the gate whenever it rises; the microcontroller
// closes the gate only when it sees the release in time.
void InfraredTransceiver::release(uint64_t now_ns) {
    if (phase_ == Phase::memory) memory_->drive(lines_, now_ns);
    if (phase_ == Phase::memory || phase_ == Phase::opening) {
        bool seen = now_ns - last_edge_ns_ >= PAUSE_NS;
        if (late_bits_ || !seen) ++timing_faults_;
        gate_open_ = !seen;
    }
    phase_ = Phase::idle;
}

void InfraredTransceiver::reinsert(uint64_t now_ns) {
    gate_open_ = false;
    phase_ = Phase::idle;
    memory_->reinsert(now_ns);
}

int InfraredTransceiver::output(uint64_t now_ns) {
    if (lines_.select) return -1;
    switch (phase_) {
    case Phase::first_byte:
    case Phase::mcu: return 0;  // the microcontroller's zero bytes
    case Phase::memory: return memory_->output(now_ns);
    case Phase::opening:
    case Phase::idle: break;
    }
    return -1;
}

}  // namespace emu
