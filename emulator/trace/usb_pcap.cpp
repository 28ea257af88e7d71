#include "trace/usb_pcap.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace emu {

namespace {

constexpr uint32_t PCAP_MAGIC_NS = 0xA1B23C4D;  // pcap with nanosecond time stamps
constexpr uint32_t LINK_USB_LINUX_MMAPPED = 220;
constexpr uint32_t SNAP_LENGTH = 0x40000;
constexpr int32_t IN_PROGRESS = -115;  // -EINPROGRESS: usbmon's status of a submission

// All fields in the writer's byte order, which the magic number announces; usbmon
// headers are in host order on Linux, little-endian everywhere we run.
void put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void put32(uint8_t* p, uint32_t v) {
    put16(p, static_cast<uint16_t>(v));
    put16(p + 2, static_cast<uint16_t>(v >> 16));
}
void put64(uint8_t* p, uint64_t v) {
    put32(p, static_cast<uint32_t>(v));
    put32(p + 4, static_cast<uint32_t>(v >> 32));
}

}  // namespace

UsbPcapWriter::UsbPcapWriter(const std::string& path) : file_(std::fopen(path.c_str(), "wb")) {
    if (!file_)
        throw std::runtime_error("cannot create USB trace " + path + ": " + std::strerror(errno));
    uint8_t header[24] = {};
    put32(header, PCAP_MAGIC_NS);
    put16(header + 4, 2);  // version 2.4
    put16(header + 6, 4);
    put32(header + 16, SNAP_LENGTH);
    put32(header + 20, LINK_USB_LINUX_MMAPPED);
    ok_ = std::fwrite(header, 1, sizeof header, file_) == sizeof header;
}

UsbPcapWriter::~UsbPcapWriter() { std::fclose(file_); }

bool UsbPcapWriter::flush() {
    if (std::fflush(file_) != 0) ok_ = false;
    return ok_;
}

void UsbPcapWriter::record(const UsbTransfer& transfer) {
    uint64_t id = next_id_++;
    write_record(transfer, id, false);
    write_record(transfer, id, true);
}

// One usbmon event: the submission carries the setup packet and OUT data, the completion
// the status, the length moved and IN data.
void UsbPcapWriter::write_record(const UsbTransfer& t, uint64_t id, bool completion) {
    bool control = t.type == UsbTransferType::control && t.setup;
    uint8_t endpoint = control ? static_cast<uint8_t>(t.setup[0] & 0x80) : t.endpoint;
    bool in = endpoint & 0x80;
    // OUT data was offered with the submission whatever became of it; IN data exists
    // only as far as it arrived.
    uint32_t payload = in ? t.actual : t.requested;
    bool carries_data = (in == completion) && payload > 0 && t.data;
    uint32_t captured = carries_data ? payload : 0;
    uint64_t time_ns = completion ? t.complete_ns : t.submit_ns;

    uint8_t h[64] = {};
    put64(h, id);
    h[8] = completion ? 'C' : 'S';
    h[9] = static_cast<uint8_t>(t.type);
    h[10] = endpoint;
    h[11] = t.device;
    put16(h + 12, 1);  // bus number
    h[14] = (control && !completion) ? 0 : '-';
    h[15] = carries_data ? 0 : (in ? '<' : '>');
    put64(h + 16, time_ns / 1000000000u);
    put32(h + 24, static_cast<uint32_t>(time_ns % 1000000000u / 1000u));
    put32(h + 28, static_cast<uint32_t>(completion ? t.status : IN_PROGRESS));
    put32(h + 32, completion ? t.actual : t.requested);
    put32(h + 36, captured);
    if (control && !completion) std::memcpy(h + 40, t.setup, 8);
    put32(h + 48, static_cast<uint32_t>(t.interval));
    put32(h + 52, 0);  // start frame
    put32(h + 56, 0);  // transfer flags
    put32(h + 60, 0);  // iso descriptors

    uint8_t r[16];
    put32(r, static_cast<uint32_t>(time_ns / 1000000000u));
    put32(r + 4, static_cast<uint32_t>(time_ns % 1000000000u));
    put32(r + 8, 64 + captured);
    put32(r + 12, 64 + captured);
    bool written = std::fwrite(r, 1, sizeof r, file_) == sizeof r &&
                   std::fwrite(h, 1, sizeof h, file_) == sizeof h &&
                   (captured == 0 || std::fwrite(t.data, 1, captured, file_) == captured);
    if (!written) ok_ = false;
}

}  // namespace emu
