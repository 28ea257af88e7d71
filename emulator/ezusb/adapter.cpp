// The adapter's public calls over the host controller.
#include "ezusb/adapter.h"

#include "ezusb/ezusb_regs.h"
#include "ezusb/host_controller.h"

namespace emu {

using namespace ezusb;
using namespace host;

Adapter::Impl::Impl() {
    chip.on_pullup_change = [this] { pullup_changed(); };
    chip.on_remote_wakeup = [this] { suspended = false; };
}

Adapter::Adapter() : impl_(std::make_unique<Impl>()) {}
Adapter::~Adapter() = default;

void Adapter::insert(Cartridge* cartridge) { impl_->chip.insert(cartridge); }

void Adapter::plug() {
    Impl& m = *impl_;
    if (m.plugged) unplug();
    m.chip.power_up();
    m.plugged = true;
    m.started_by_host = m.vanished = false;
    m.default_device = DefaultDevice{};
    m.pullup_changed();  // the bare chip's pull-up is on from power-up
    if (m.enumerate_at != NEVER) m.advance_to(m.enumerate_at);
    m.pace();
}

void Adapter::unplug() {
    Impl& m = *impl_;
    m.plugged = m.attached = m.present = m.suspended = false;
    m.enumerate_at = NEVER;
    m.endpoints.clear();
    m.device_descriptor.clear();
    m.configuration.clear();
}

bool Adapter::plugged() const { return impl_->plugged; }
bool Adapter::attached() const { return impl_->attached; }
bool Adapter::present() const { return impl_->present; }
uint32_t Adapter::enumeration() const { return impl_->enumeration; }
uint8_t Adapter::address() const { return impl_->address; }

int Adapter::control(const SetupPacket& setup, uint8_t* data) {
    Impl& m = *impl_;
    uint64_t start = m.cycles();
    Impl::Outcome o;
    if (setup.length > 0 && !data) {
        o = {-1, USB_PROTOCOL};
    } else if (m.admit(o)) {
        o = m.control_transfer(setup, data);
        if (m.present) m.advance_to(frame_end(m.cycles()));
    }
    m.record_control(setup, data, o, start);
    m.after_transfer();
    m.last_status = o.status;
    return o.result;
}

int Adapter::abandon_control(const SetupPacket& setup) {
    Impl& m = *impl_;
    uint64_t start = m.cycles();
    Impl::Outcome o;
    if (m.admit(o)) {
        m.setup_stage(setup);
        m.advance_to(frame_end(m.cycles()));
        o = {-1, USB_TIMEOUT};
    }
    m.record_control(setup, nullptr, o, start);
    m.after_transfer();
    return -1;
}

int Adapter::bulk_out(uint8_t endpoint, const uint8_t* data, int length) {
    Impl& m = *impl_;
    uint64_t start = m.cycles();
    Impl::Outcome o;
    if (m.admit(o)) o = m.bulk_out(endpoint, data, length);
    m.record(UsbTransferType::bulk, endpoint, nullptr, uint32_t(std::max(length, 0)), data, o,
             start, 0);
    m.after_transfer();
    m.last_status = o.status;
    return o.result;
}

int Adapter::bulk_in(uint8_t endpoint, uint8_t* data, int length) {
    Impl& m = *impl_;
    uint64_t start = m.cycles();
    const EndpointInfo* info = m.endpoint(endpoint);
    bool interrupt = info && info->attributes == 3;
    Impl::Outcome o;
    if (m.admit(o)) o = m.bulk_in(endpoint, data, length);
    m.record(interrupt ? UsbTransferType::interrupt : UsbTransferType::bulk, endpoint, nullptr,
             uint32_t(std::max(length, 0)), data, o, start, interrupt ? info->interval : 0);
    m.after_transfer();
    m.last_status = o.status;
    return o.result;
}

const std::vector<EndpointInfo>& Adapter::endpoints() const { return impl_->endpoints; }
const std::vector<uint8_t>& Adapter::device_descriptor() const { return impl_->device_descriptor; }
const std::vector<uint8_t>& Adapter::configuration() const { return impl_->configuration; }
int32_t Adapter::last_status() const { return impl_->last_status; }

int Adapter::host_request(const SetupPacket& setup, uint8_t* data) {
    Impl& m = *impl_;
    if (!m.present || m.suspended || (setup.length > 0 && !data)) return -1;
    int n = m.control_stage(setup, data);
    m.pace();
    return n;
}

void Adapter::bus_reset() {
    Impl& m = *impl_;
    if (!m.present || m.suspended) return;
    uint8_t address = m.address;
    m.bus_reset();
    m.control_stage({0x00, 0x05, address, 0, 0}, nullptr);
    m.pace();
}

void Adapter::suspend() {
    Impl& m = *impl_;
    if (!m.present || m.suspended) return;
    m.suspended = true;
    m.advance_to(m.cycles() + 3 * CYCLES_PER_MS);
    m.chip.suspend_event();
    m.pace();
}

void Adapter::resume() {
    Impl& m = *impl_;
    if (!m.suspended) return;
    m.advance_to(m.cycles() + 20 * CYCLES_PER_MS);
    m.suspended = false;
    m.chip.resume_event();
    m.pace();
}

bool Adapter::suspended() const { return impl_->suspended; }
void Adapter::wakeup_pin() { impl_->chip.wakeup_pin(); }

void Adapter::sleep_ns(uint64_t ns) {
    impl_->advance_to(impl_->cycles() + ns_to_cycles(ns));
    impl_->pace();
}

uint64_t Adapter::now_ns() const { return cycles_to_ns(impl_->clock); }

void Adapter::set_realtime(bool on) {
    Impl& m = *impl_;
    m.realtime = on;
    m.wall_anchor = std::chrono::steady_clock::now();
    m.virtual_anchor = m.clock;
}

void Adapter::set_trace(UsbPcapWriter* writer) { impl_->trace = writer; }
void Adapter::set_faults(const UsbFaults& faults) { impl_->faults = faults; }
void Adapter::set_timeout_ns(uint64_t ns) { impl_->timeout = ns_to_cycles(ns); }

AdapterStats Adapter::stats() const {
    AdapterStats s = impl_->stats;
    s.virtual_ns = cycles_to_ns(impl_->clock);
    s.instructions = impl_->chip.cpu().instructions();
    return s;
}

Cpu8051& Adapter::cpu() { return impl_->chip.cpu(); }
uint8_t* Adapter::memory() { return impl_->chip.memory(); }
uint8_t Adapter::peek(uint16_t addr) const { return impl_->chip.peek(addr); }
bool Adapter::held_in_reset() const { return impl_->chip.held(); }

}  // namespace emu
