// Inside the adapter: the host controller's state and the parts that use it, one file
// each: virtual time (virtual_time.cpp), presence and enumeration (enumeration.cpp),
// transfers (transfers.cpp); adapter.cpp puts the public calls on top.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include "ezusb/adapter.h"
#include "ezusb/chip.h"
#include "ezusb/default_device.h"
#include "trace/usb_pcap.h"

namespace emu {

namespace host {

constexpr uint64_t NEVER = ~uint64_t(0);
constexpr uint64_t CYCLES_PER_MS = CYCLES_PER_SECOND / 1000;  // one USB frame
constexpr uint64_t ATTACH_DEBOUNCE = 100 * CYCLES_PER_MS;     // as Windows waits after attach
constexpr uint64_t RESET_LENGTH = 10 * CYCLES_PER_MS;
constexpr uint64_t BASE_SLICE = 120;  // cycles the 8051 runs between looks at it

inline uint64_t ns_to_cycles(uint64_t ns) { return ns / 500 * 3 + ((ns % 500) * 3 + 499) / 500; }
inline uint64_t cycles_to_ns(uint64_t cycles) { return cycles * 500 / 3; }
inline uint64_t frame_end(uint64_t cycle) { return (cycle / CYCLES_PER_MS + 1) * CYCLES_PER_MS; }
// Full-speed transaction with n data bytes (token, data packet, handshake): about
// 8n + 70 bits at 12 Mbit/s, two bits per 8051 cycle.
inline uint64_t wire_cycles(int n) { return uint64_t(8 * n + 70) / 2; }

// The setup packet as it travels: little-endian words.
inline void setup_bytes(const SetupPacket& s, uint8_t raw[8]) {
    const uint8_t bytes[8] = {s.request_type,    s.request,
                              uint8_t(s.value),  uint8_t(s.value >> 8),
                              uint8_t(s.index),  uint8_t(s.index >> 8),
                              uint8_t(s.length), uint8_t(s.length >> 8)};
    std::memcpy(raw, bytes, 8);
}

}  // namespace host

struct Adapter::Impl {
    Chip chip;
    DefaultDevice default_device;
    bool plugged = false, attached = false, present = false, suspended = false, vanished = false;
    bool enumerating = false;
    bool started_by_host = false;  // the host has released the 8051 since power-up
    uint32_t enumeration = 0;
    uint8_t address = 0, next_address = 0;
    uint64_t enumerate_at = host::NEVER;
    uint64_t clock = 0;  // the host's view of virtual time; the 8051 may be a few cycles ahead
    uint64_t last_sof_frame = 0;
    uint64_t last_poll_frame[8] = {};
    bool polled[8] = {};
    std::vector<EndpointInfo> endpoints;
    std::vector<uint8_t> device_descriptor;
    std::vector<uint8_t> configuration;
    int32_t last_status = USB_OK;
    uint64_t timeout = host::ns_to_cycles(DEFAULT_TIMEOUT_NS);
    uint64_t slice = host::BASE_SLICE;

    bool realtime = false;
    std::chrono::steady_clock::time_point wall_anchor;
    uint64_t virtual_anchor = 0;

    UsbPcapWriter* trace = nullptr;
    UsbFaults faults;
    uint64_t host_transfers = 0;
    AdapterStats stats;

    Impl();
    Cpu8051& cpu() { return chip.cpu(); }
    uint64_t cycles() const { return clock; }

    // Virtual time.
    bool run_cpu(uint64_t target, const std::function<bool()>& done);
    void catch_up(uint64_t target);
    bool closed_loop();
    void pace();
    void advance_to(uint64_t target);

    // Presence and enumeration.
    void pullup_changed();
    void bus_reset();
    void enumerate();
    bool enumerate_steps();
    void parse_endpoints(const uint8_t* d, int n);

    // Transfers.
    struct Outcome {
        int result;
        int32_t status;
    };
    const EndpointInfo* endpoint(uint8_t address_) const;
    bool setup_stage(const SetupPacket& s);  // true: the firmware answers
    Outcome control_transfer(const SetupPacket& s, uint8_t* data);
    Outcome load_request(const SetupPacket& s, uint8_t* data, bool in);
    Outcome firmware_request(const SetupPacket& s, uint8_t* data, bool in);
    int control_stage(const SetupPacket& s, uint8_t* data);
    void record(UsbTransferType type, uint8_t ep, const uint8_t* setup, uint32_t requested,
                const uint8_t* data, Outcome o, uint64_t start, int interval);
    void record_control(const SetupPacket& s, const uint8_t* data, Outcome o, uint64_t start);
    bool admit(Outcome& o);
    void after_transfer();
    Outcome bulk_out(uint8_t ep, const uint8_t* data, int length);
    int take_in(int n, uint8_t* packet);
    Outcome bulk_in(uint8_t ep, uint8_t* data, int length);
};

}  // namespace emu
