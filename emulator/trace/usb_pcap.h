// USB traffic capture in the Linux usbmon format (pcap link type 220, 64-byte mmapped
// usbmon header before each record's data), readable by Wireshark and tshark. Each
// transfer becomes a submission record ('S') and a completion record ('C') with the
// same URB id. Time stamps are the emulator's virtual time (nanosecond pcap).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace emu {

enum class UsbTransferType : uint8_t { isochronous = 0, interrupt = 1, control = 2, bulk = 3 };

// Completion status as usbmon shows it: 0 or a negative Linux errno.
constexpr int32_t USB_OK = 0;
constexpr int32_t USB_STALL = -32;      // -EPIPE: the endpoint stalled
constexpr int32_t USB_NO_DEVICE = -19;  // -ENODEV: device gone (unplugged)
constexpr int32_t USB_TIMEOUT = -110;   // -ETIMEDOUT: never completed (NAKed too long)
constexpr int32_t USB_PROTOCOL = -71;   // -EPROTO: a failed transaction (injected faults)

struct UsbTransfer {
    UsbTransferType type = UsbTransferType::bulk;
    uint8_t device = 0;    // USB address the transfer went to
    uint8_t endpoint = 0;  // with bit 7 set for IN; for control, taken from the setup packet
    const uint8_t* setup = nullptr;  // 8 bytes for control transfers, else null
    uint32_t requested = 0;          // bytes asked for (IN) or offered (OUT); control: wLength
    const uint8_t* data =
        nullptr;          // OUT: the `requested` bytes offered; IN: the `actual` bytes received
    uint32_t actual = 0;  // bytes moved
    int32_t status = USB_OK;
    int32_t interval = 0;  // interrupt endpoints: polling interval in frames
    uint64_t submit_ns = 0;
    uint64_t complete_ns = 0;
};

class UsbPcapWriter {
public:
    // Creates (truncates) the file and writes the global header; throws std::runtime_error
    // with the path and reason when it cannot.
    explicit UsbPcapWriter(const std::string& path);
    ~UsbPcapWriter();
    UsbPcapWriter(const UsbPcapWriter&) = delete;
    UsbPcapWriter& operator=(const UsbPcapWriter&) = delete;

    void record(const UsbTransfer& transfer);
    // Pushes buffered records to the file; false once any write has failed.
    bool flush();
    uint64_t transfers() const { return next_id_ - 1; }

private:
    void write_record(const UsbTransfer& t, uint64_t id, bool completion);
    std::FILE* file_;
    uint64_t next_id_ = 1;
    bool ok_ = true;
};

}  // namespace emu
