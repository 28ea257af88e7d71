// Transfers in 1 ms frames: control transfers answered by the chip's own core or by the
// firmware, bulk OUT and bulk/interrupt IN that NAK until the firmware is ready, with
// faults, statistics and the capture.
#include <algorithm>

#include "ezusb/ezusb_regs.h"
#include "ezusb/host_controller.h"

namespace emu {

using namespace ezusb;
using namespace host;

const EndpointInfo* Adapter::Impl::endpoint(uint8_t address_) const {
    for (const EndpointInfo& e : endpoints)
        if (e.address == address_) return &e;
    return nullptr;
}

// Everything of a control transfer between the setup packet and the end of its status
// stage; the chip's own core or the firmware answers. Result: data stage bytes or -1.
namespace {
bool is_set_address(const SetupPacket& s) { return s.request_type == 0x00 && s.request == 0x05; }
bool is_load(const SetupPacket& s) { return (s.request_type & 0x60) == 0x40 && s.request == 0xA0; }
}  // namespace

// The chip's core keeps SET_ADDRESS and its load request; RENUM hands the rest to the
// firmware. The setup packet reaches the chip either way.
bool Adapter::Impl::setup_stage(const SetupPacket& s) {
    uint8_t raw[8];
    setup_bytes(s, raw);
    bool firmware = !is_set_address(s) && !is_load(s) && (chip.usbcs() & USBCS_RENUM);
    chip.setup_arrived(raw, firmware);
    return firmware;
}

Adapter::Impl::Outcome Adapter::Impl::control_transfer(const SetupPacket& s, uint8_t* data) {
    bool in = s.request_type & 0x80;
    bool set_address = is_set_address(s), load = is_load(s);
    bool firmware = setup_stage(s);
    if (set_address) {
        chip.set_address(uint8_t(s.value));
        address = uint8_t(s.value & 0x7F);
        return {0, USB_OK};
    }
    if (load) return load_request(s, data, in);
    if (!firmware) {
        int n = default_device.request(s, data);
        return {n, n < 0 ? USB_STALL : USB_OK};
    }
    return firmware_request(s, data, in);
}

// A range that leaves the chip's memory is stalled before any byte is written.
Adapter::Impl::Outcome Adapter::Impl::load_request(const SetupPacket& s, uint8_t* data, bool in) {
    bool was_held = chip.held();
    uint8_t scratch;
    for (int i = 0; i < s.length; ++i)
        if (s.value + i > 0xFFFF || !chip.load_read(uint16_t(s.value + i), scratch))
            return {-1, USB_STALL};
    for (int i = 0; i < s.length; ++i) {
        uint16_t addr = uint16_t(s.value + i);
        if (in)
            chip.load_read(addr, data[i]);
        else
            chip.load_write(addr, data[i]);
    }
    if (was_held && !chip.held()) started_by_host = true;
    return {s.length, USB_OK};
}

Adapter::Impl::Outcome Adapter::Impl::firmware_request(const SetupPacket& s, uint8_t* data,
                                                       bool in) {
    uint64_t deadline = cycles() + timeout;
    uint32_t epoch = enumeration;
    auto gone = [&] { return !attached || epoch != enumeration; };
    int moved = 0;
    if (in && s.length > 0) {
        for (;;) {
            uint16_t descriptor = 0;
            bool pointer = false;
            run_cpu(deadline, [&] {
                pointer = pointer || chip.take_descriptor_pointer(descriptor);
                return pointer || gone() || chip.ep0_stalled() || (chip.peek(EP0CS) & EP0CS_IN0BSY);
            });
            if (gone()) return {-1, USB_NO_DEVICE};
            if (chip.ep0_stalled()) return {-1, USB_STALL};
            if (pointer) {  // the chip sends the descriptor at SUDPTR by itself
                const uint8_t* d = chip.memory() + descriptor;
                int size = d[1] == 0x02 ? (d[2] | d[3] << 8) : d[0];
                int n = std::min(size, s.length - moved);
                std::memcpy(data + moved, d, size_t(n));
                moved += n;
                break;
            }
            uint8_t packet[64];
            int n = chip.ep0_in_take(packet);
            if (n < 0) return {-1, USB_TIMEOUT};
            n = std::min(n, s.length - moved);
            std::memcpy(data + moved, packet, size_t(n));
            moved += n;
            if (n < 64 || moved >= s.length) break;
        }
    } else if (s.length > 0) {
        while (moved < s.length) {
            run_cpu(deadline, [&] {
                return gone() || chip.ep0_stalled() || (chip.peek(EP0CS) & EP0CS_OUT0BSY);
            });
            if (gone()) return {-1, USB_NO_DEVICE};
            if (chip.ep0_stalled()) return {-1, USB_STALL};
            int n = std::min(64, s.length - moved);
            if (!chip.ep0_out_put(data + moved, n)) return {-1, USB_TIMEOUT};
            moved += n;
        }
    }
    // Status stage: NAKed until the firmware clears HSNAK.
    run_cpu(deadline,
            [&] { return gone() || chip.ep0_stalled() || !chip.ep0_handshake_pending(); });
    if (gone()) return {-1, USB_NO_DEVICE};
    if (chip.ep0_stalled()) return {-1, USB_STALL};
    if (chip.ep0_handshake_pending()) return {-1, USB_TIMEOUT};
    return {moved, USB_OK};
}

// A control transfer of the host controller itself, in frames.
int Adapter::Impl::control_stage(const SetupPacket& s, uint8_t* data) {
    uint64_t start = cycles();
    Outcome o = control_transfer(s, data);
    if (attached) advance_to(frame_end(cycles()));
    record_control(s, data, o, start);
    return o.result;
}

void Adapter::Impl::record(UsbTransferType type, uint8_t ep, const uint8_t* setup,
                           uint32_t requested, const uint8_t* data, Outcome o, uint64_t start,
                           int interval) {
    EndpointStats& st = type == UsbTransferType::control ? stats.control
                        : (ep & 0x80)                    ? stats.in[ep & 7]
                                                         : stats.out[ep & 7];
    ++st.transfers;
    if (o.result < 0)
        ++st.failures;
    else
        st.bytes += uint64_t(o.result);
    if (!trace) return;
    UsbTransfer t;
    t.type = type;
    t.device = address;
    t.endpoint = ep;
    t.setup = setup;
    t.requested = requested;
    t.data = data;
    t.actual = o.result < 0 ? 0 : uint32_t(o.result);
    t.status = o.result < 0 ? o.status : USB_OK;
    t.interval = interval;
    t.submit_ns = cycles_to_ns(start);
    t.complete_ns = cycles_to_ns(clock);
    trace->record(t);
}

void Adapter::Impl::record_control(const SetupPacket& s, const uint8_t* data, Outcome o,
                                   uint64_t start) {
    uint8_t raw[8];
    setup_bytes(s, raw);
    record(UsbTransferType::control, s.request_type & 0x80, raw, s.length, data, o, start, 0);
}

// The checks every transfer of the host goes through first: presence and faults.
// Returns true when the transfer may reach the device; otherwise o says why not.
bool Adapter::Impl::admit(Outcome& o) {
    uint64_t n = ++host_transfers;
    if (!present || suspended) {
        o = {-1, USB_NO_DEVICE};
        return false;
    }
    if ((faults.fail_from && n >= faults.fail_from) || faults.fail_once == n) {
        advance_to(frame_end(cycles()));  // the failed transaction takes its frame
        o = {-1, USB_PROTOCOL};
        return false;
    }
    return true;
}

void Adapter::Impl::after_transfer() {
    if (faults.vanish_after && host_transfers >= faults.vanish_after && !vanished) {
        vanished = true;
        attached = present = false;
        enumerate_at = NEVER;
    }
    pace();
}

Adapter::Impl::Outcome Adapter::Impl::bulk_out(uint8_t ep, const uint8_t* data, int length) {
    const EndpointInfo* info = endpoint(ep);
    int n = ep & 0x0F;
    if (!info || (ep & 0x80) || n > 7 || length < 0 || (length > 0 && !data))
        return {-1, USB_PROTOCOL};
    uint64_t deadline = cycles() + timeout;
    uint32_t epoch = enumeration;
    auto gone = [&] { return !attached || epoch != enumeration; };
    int sent = 0;
    do {
        int packet = std::min(64, length - sent);
        if (!chip.out_valid(n)) return {-1, USB_TIMEOUT};
        if (faults.instant_out) {
            chip.offer_out(n, data + sent, packet);
            run_cpu(deadline, [&] { return gone() || chip.out_stalled(n) || !chip.out_offered(); });
            bool delivered = !chip.out_offered();
            chip.withdraw_out();
            if (gone()) return {-1, USB_NO_DEVICE};
            if (!delivered) return {-1, chip.out_stalled(n) ? USB_STALL : USB_TIMEOUT};
            sent += packet;
            continue;
        }
        bool ready = run_cpu(deadline, [&] {
            return gone() || chip.out_stalled(n) || (chip.peek(out_cs(n)) & EPCS_BUSY);
        });
        if (gone()) return {-1, USB_NO_DEVICE};
        if (chip.out_stalled(n)) return {-1, USB_STALL};
        if (!ready) return {-1, USB_TIMEOUT};
        // Typically the packet reaches the buffer only after its time on the wire, never
        // in the same instant as the firmware arms the endpoint (instant_out: the worst
        // case, above).
        advance_to(cycles() + wire_cycles(packet));
        if (gone()) return {-1, USB_NO_DEVICE};
        if (!chip.out_put(n, data + sent, packet)) return {-1, USB_TIMEOUT};
        sent += packet;
    } while (sent < length);
    advance_to(frame_end(cycles()));
    return {sent, USB_OK};
}

// A packet handed over on IN endpoint n leaves the buffer, and its request is raised,
// only after its time on the wire: the firmware that has just written the count
// finishes its handler first, as it would on the bus. -1: NAK.
int Adapter::Impl::take_in(int n, uint8_t* packet) {
    if (!(chip.peek(in_cs(n)) & EPCS_BUSY)) return -1;
    advance_to(cycles() + wire_cycles(std::min<int>(64, chip.peek(in_bc(n)))));
    return chip.in_take(n, packet);
}

Adapter::Impl::Outcome Adapter::Impl::bulk_in(uint8_t ep, uint8_t* data, int length) {
    const EndpointInfo* info = endpoint(ep);
    int n = ep & 0x0F;
    if (!info || !(ep & 0x80) || n > 7 || length < 0 || (length > 0 && !data))
        return {-1, USB_PROTOCOL};
    if (length == 0) return {0, USB_OK};  // nothing asked for: no packet is taken
    bool interrupt = info->attributes == 3;
    uint64_t interval = std::max<uint64_t>(1, info->interval);
    uint64_t deadline = cycles() + timeout;
    uint32_t epoch = enumeration;
    auto gone = [&] { return !attached || epoch != enumeration; };
    int got = 0;
    for (;;) {
        if (!chip.in_valid(n)) return {-1, USB_TIMEOUT};
        int taken = -1;
        uint8_t packet[64];
        if (interrupt) {
            // The host controller polls the endpoint once per interval, bInterval frames
            // (USB 1.1, 5.7.4 and 9.6.4); a NAKed poll waits for the next one (EZ-USB
            // TRM v1.9, 6.2 and 6.3: the core NAKs IN tokens until INnBC is loaded).
            for (;;) {
                uint64_t frame = cycles() / CYCLES_PER_MS;
                if (polled[n] && frame < last_poll_frame[n] + interval) {
                    advance_to((last_poll_frame[n] + interval) * CYCLES_PER_MS);
                    continue;
                }
                if (gone()) return {-1, USB_NO_DEVICE};
                if (chip.in_stalled(n)) return {-1, USB_STALL};
                polled[n] = true;
                last_poll_frame[n] = frame;
                taken = take_in(n, packet);
                if (gone()) return {-1, USB_NO_DEVICE};
                if (taken >= 0) break;
                if (cycles() >= deadline) return {-1, USB_TIMEOUT};
            }
        } else {
            run_cpu(deadline, [&] {
                return gone() || chip.in_stalled(n) || (chip.peek(in_cs(n)) & EPCS_BUSY);
            });
            if (gone()) return {-1, USB_NO_DEVICE};
            if (chip.in_stalled(n)) return {-1, USB_STALL};
            taken = take_in(n, packet);
            if (gone()) return {-1, USB_NO_DEVICE};
            if (taken < 0) return {-1, USB_TIMEOUT};
        }
        int keep = std::min(taken, length - got);
        std::memcpy(data + got, packet, size_t(keep));
        got += keep;
        if (taken < 64 || got >= length) break;
    }
    advance_to(frame_end(cycles()));
    return {got, USB_OK};
}

}  // namespace emu
