// One EZ-USB AN21xx adapter on a virtual USB port, with a cartridge slot.
//
// The adapter runs the 8051 firmware instruction by instruction against the chip's
// register page and endpoint buffers, and plays the host controller's part: attach and
// enumeration, control, bulk and interrupt transfers in 1 ms frames, suspend and resume.
// Everything shares one virtual clock (8051 machine cycles, 6 000 000 per second); the
// clock only moves inside the calls below, so a test or a driver sees a deterministic
// machine. Time in which the 8051 only spins in a closed loop, sits idle or is held in
// reset is skipped instead of executed.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace emu {

class Cartridge;
class Cpu8051;
class UsbPcapWriter;

struct SetupPacket {
    uint8_t request_type;  // bmRequestType; bit 7 set: data stage device to host
    uint8_t request;
    uint16_t value, index, length;
};

struct EndpointInfo {
    uint8_t address;     // bit 7 set for IN
    uint8_t attributes;  // 2 bulk, 3 interrupt
    uint16_t max_packet;
    uint8_t interval;
};

// USB faults, counted over the host's transfers (control, bulk_out, bulk_in) since the
// adapter was made; 0 or false: off. A failing transfer reaches nothing on the device.
struct UsbFaults {
    uint64_t fail_from = 0;     // the N-th transfer and every later one fail
    uint64_t fail_once = 0;     // only the N-th transfer fails
    uint64_t vanish_after = 0;  // after N transfers the adapter leaves the bus for good
    bool no_reattach = false;   // once its 8051 has been started by the host, the device
                                // never attaches again after it leaves the bus
    bool instant_out = false;   // the worst case of the chip's timing, which no source
                                // bounds: an OUT packet lands in the very write that arms
                                // its endpoint, before the firmware's next instruction
};

struct EndpointStats {
    uint64_t transfers = 0;  // completed or failed
    uint64_t failures = 0;
    uint64_t bytes = 0;  // bytes moved (data stage for control)
};

struct AdapterStats {
    EndpointStats control;  // endpoint 0, the enumeration's requests included
    EndpointStats out[8];   // by endpoint number; [0] unused
    EndpointStats in[8];
    uint64_t virtual_ns = 0;       // modeled hardware time since power-up
    uint64_t instructions = 0;     // 8051 instructions executed
    uint64_t cycles_executed = 0;  // 8051 cycles executed
    uint64_t cycles_skipped = 0;   // cycles passed over: idle, closed loop, reset, unpowered
};

class Adapter {
public:
    static constexpr uint16_t DEFAULT_VENDOR = 0x0547;
    static constexpr uint16_t DEFAULT_PRODUCT = 0x2131;
    static constexpr uint64_t DEFAULT_TIMEOUT_NS = 5000000000ull;  // NAKed transfers give up

    Adapter();
    ~Adapter();
    Adapter(const Adapter&) = delete;
    Adapter& operator=(const Adapter&) = delete;

    // The cartridge slot; nullptr: empty. The adapter does not own the cartridge.
    void insert(Cartridge* cartridge);

    // Power-up: internal RAM cleared, registers at their reset values, the 8051 held in
    // reset; the chip attaches and the host enumerates it with the default identity
    // (0x0547:0x2131). Returns with the device present. Plugging a plugged adapter
    // power-cycles it.
    void plug();
    void unplug();  // leaves the bus and loses power at once
    bool plugged() const;
    bool attached() const;         // the pull-up is on the bus (enumerated or not)
    bool present() const;          // attached and enumerated: what a driver can open
    uint32_t enumeration() const;  // grows with every completed enumeration
    uint8_t address() const;       // USB address of the current enumeration

    // Synchronous transfers. Each lets virtual time pass (the 8051 runs meanwhile) until
    // it completes, never earlier than the next 1 ms frame boundary. Result: bytes moved,
    // or -1 (stall, not present, no answer within the timeout, injected fault).
    // control: data holds setup.length bytes, read for OUT requests, written for IN.
    int control(const SetupPacket& setup, uint8_t* data);
    // The host sends the setup packet and gives the transfer up at once, as after a
    // timeout of its own: no data or status stage follows. Returns -1 as a failed control
    // transfer does.
    int abandon_control(const SetupPacket& setup);
    // Bulk OUT; lengths above 64 go as 64-byte packets, length 0 as one empty packet.
    int bulk_out(uint8_t endpoint, const uint8_t* data, int length);
    // Bulk or interrupt IN (by the endpoint's type; interrupt: one packet per interval).
    // Ends at length bytes or at a short packet.
    int bulk_in(uint8_t endpoint, uint8_t* data, int length);

    // Interface 0, alternate setting 0 of the current enumeration, in descriptor order.
    const std::vector<EndpointInfo>& endpoints() const;
    // The device descriptor read during the current enumeration (18 bytes).
    const std::vector<uint8_t>& device_descriptor() const;
    // The whole configuration block (wTotalLength bytes) read during the current
    // enumeration.
    const std::vector<uint8_t>& configuration() const;
    // How the last control, bulk_out or bulk_in ended, as a Linux URB status: 0, -EPIPE
    // (stall), -ENODEV (not present or gone), -ETIMEDOUT (NAKed to the timeout) or
    // -EPROTO (failed transaction, injected fault).
    int32_t last_status() const;
    // A request of the host's own on endpoint 0, as an operating system makes while it
    // takes a new device in (Linux reads the strings it shows in sysfs): like the
    // enumeration's requests it is not counted among the transfers above and no fault
    // applies. Bytes of the data stage, or -1.
    int host_request(const SetupPacket& setup, uint8_t* data);

    // The host resets the bus and gives the device its address again, without a new
    // enumeration: whatever the firmware set up for itself survives.
    void bus_reset();

    // The bus goes idle (the chip reports SUSPEND after 3 ms), or the host resumes it
    // (20 ms of resume signalling, then the chip's resume interrupt). Transfers fail
    // while suspended. A device that signals remote wake-up resumes the bus by itself.
    void suspend();
    void resume();
    bool suspended() const;
    // An edge on the chip's WAKEUP pin: sets WAKESRC and requests the resume interrupt.
    void wakeup_pin();

    // The host waits: virtual time passes, the adapter runs meanwhile.
    void sleep_ns(uint64_t ns);
    uint64_t now_ns() const;

    // Demonstration mode: virtual time never runs ahead of the wall clock.
    void set_realtime(bool on);
    // Every transfer from now on is recorded there (nullptr: off); not owned.
    void set_trace(UsbPcapWriter* writer);
    void set_faults(const UsbFaults& faults);
    void set_timeout_ns(uint64_t ns);
    AdapterStats stats() const;

    // Test access.
    Cpu8051& cpu();
    uint8_t* memory();                  // the 64 KiB the 8051 sees (internal RAM at 0)
    uint8_t peek(uint16_t addr) const;  // a register or buffer byte, without side effects
    bool held_in_reset() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace emu
