#include "trace/usb_pcap.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace {

uint32_t le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }
uint64_t le64(const uint8_t* p) { return le32(p) | uint64_t(le32(p + 4)) << 32; }

struct Event {
    uint64_t ts_ns;
    uint64_t id;
    char type;
    uint8_t xfer, endpoint, device;
    uint16_t bus;
    uint8_t flag_setup, flag_data;
    uint64_t sec;
    uint32_t usec;
    int32_t status;
    uint32_t length, captured;
    std::vector<uint8_t> setup, data;
    int32_t interval;
};

std::vector<Event> read_capture(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> f{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::vector<Event> events;
    EXPECT_GE(f.size(), 24u);
    if (f.size() < 24) return events;
    EXPECT_EQ(le32(&f[0]), 0xA1B23C4Du);  // nanosecond pcap
    EXPECT_EQ(f[4] | f[5] << 8, 2);
    EXPECT_EQ(f[6] | f[7] << 8, 4);
    EXPECT_EQ(le32(&f[20]), 220u);  // LINKTYPE_USB_LINUX_MMAPPED
    uint32_t snap = le32(&f[16]);
    size_t at = 24;
    while (at < f.size()) {
        EXPECT_LE(at + 16, f.size());
        if (at + 16 > f.size()) break;
        uint64_t ts = uint64_t(le32(&f[at])) * 1000000000u + le32(&f[at + 4]);
        uint32_t incl = le32(&f[at + 8]), orig = le32(&f[at + 12]);
        EXPECT_EQ(incl, orig);
        EXPECT_LE(incl, snap);
        at += 16;
        EXPECT_LE(at + incl, f.size());
        if (at + incl > f.size() || incl < 64) break;
        const uint8_t* h = &f[at];
        Event e;
        e.ts_ns = ts;
        e.id = le64(h);
        e.type = char(h[8]);
        e.xfer = h[9];
        e.endpoint = h[10];
        e.device = h[11];
        e.bus = uint16_t(h[12] | h[13] << 8);
        e.flag_setup = h[14];
        e.flag_data = h[15];
        e.sec = le64(h + 16);
        e.usec = le32(h + 24);
        e.status = int32_t(le32(h + 28));
        e.length = le32(h + 32);
        e.captured = le32(h + 36);
        e.setup.assign(h + 40, h + 48);
        e.interval = int32_t(le32(h + 48));
        EXPECT_EQ(incl, 64 + e.captured);
        e.data.assign(h + 64, h + incl);
        events.push_back(e);
        at += incl;
    }
    return events;
}

class UsbPcap : public ::testing::Test {
protected:
    std::string path = ::testing::TempDir() + "pelkat_usb_" + std::to_string(getpid()) + ".pcap";
    void TearDown() override { std::remove(path.c_str()); }

    // A short session: a descriptor read, a RAM download, a bulk OUT, an interrupt IN with
    // data, and a stalled bulk OUT.
    void write_session() {
        emu::UsbPcapWriter w(path);
        const uint8_t get_desc[8] = {0x80, 0x06, 0x00, 0x01, 0x00, 0x00, 0x12, 0x00};
        uint8_t desc[18] = {18, 1, 0x10, 0x01};
        w.record({emu::UsbTransferType::control, 0, 0, get_desc, 18, desc, 18, emu::USB_OK, 0,
                  1000000, 1999000});
        const uint8_t load[8] = {0x40, 0xA0, 0x00, 0x10, 0x00, 0x00, 0x03, 0x00};
        uint8_t code[3] = {0x02, 0x00, 0x43};
        w.record({emu::UsbTransferType::control, 1, 0, load, 3, code, 3, emu::USB_OK, 0, 2000000,
                  3000000});
        uint8_t packet[15] = {0x02, 0x95, 0x00};
        w.record({emu::UsbTransferType::bulk, 2, 0x01, nullptr, 15, packet, 15, emu::USB_OK, 0,
                  3000000, 4000000});
        uint8_t reply[8] = {1, 0, 1, 0, 0, 0, 0, 1};
        w.record({emu::UsbTransferType::interrupt, 2, 0x81, nullptr, 64, reply, 8, emu::USB_OK, 1,
                  4000000, 5000000});
        w.record({emu::UsbTransferType::bulk, 2, 0x01, nullptr, 3, packet, 0, emu::USB_STALL, 0,
                  5000000, 6000000});
        EXPECT_EQ(w.transfers(), 5u);
        EXPECT_TRUE(w.flush());
    }
};

TEST_F(UsbPcap, EachTransferIsASubmissionAndACompletion) {
    write_session();
    auto ev = read_capture(path);
    ASSERT_EQ(ev.size(), 10u);
    for (size_t i = 0; i < ev.size(); i += 2) {
        EXPECT_EQ(ev[i].type, 'S');
        EXPECT_EQ(ev[i + 1].type, 'C');
        EXPECT_EQ(ev[i].id, ev[i + 1].id);
        EXPECT_EQ(ev[i].status, -115);  // in progress
        EXPECT_EQ(ev[i].bus, 1);
        for (const Event* e : {&ev[i], &ev[i + 1]}) {
            EXPECT_EQ(e->sec * 1000000000u + e->usec * 1000u, e->ts_ns / 1000 * 1000);
            EXPECT_EQ(e->flag_data == 0, e->captured > 0);
        }
    }
    EXPECT_NE(ev[0].id, ev[2].id);

    // Control IN: setup in the submission, the descriptor in the completion.
    EXPECT_EQ(ev[0].xfer, 2);
    EXPECT_EQ(ev[0].endpoint, 0x80);
    EXPECT_EQ(ev[0].flag_setup, 0);
    EXPECT_EQ(ev[0].setup, (std::vector<uint8_t>{0x80, 0x06, 0x00, 0x01, 0x00, 0x00, 0x12, 0x00}));
    EXPECT_EQ(ev[0].length, 18u);
    EXPECT_EQ(ev[0].captured, 0u);
    EXPECT_EQ(ev[0].flag_data, '<');
    EXPECT_EQ(ev[0].ts_ns, 1000000u);
    EXPECT_EQ(ev[1].flag_setup, '-');
    EXPECT_EQ(ev[1].data.size(), 18u);
    EXPECT_EQ(ev[1].data[1], 1);
    EXPECT_EQ(ev[1].ts_ns, 1999000u);

    // Control OUT: the data travels with the submission.
    EXPECT_EQ(ev[2].endpoint, 0x00);
    EXPECT_EQ(ev[2].device, 1);
    EXPECT_EQ(ev[2].data, (std::vector<uint8_t>{0x02, 0x00, 0x43}));
    EXPECT_EQ(ev[3].captured, 0u);
    EXPECT_EQ(ev[3].flag_data, '>');
    EXPECT_EQ(ev[3].length, 3u);

    // Bulk OUT and interrupt IN.
    EXPECT_EQ(ev[4].xfer, 3);
    EXPECT_EQ(ev[4].endpoint, 0x01);
    EXPECT_EQ(ev[4].flag_setup, '-');
    EXPECT_EQ(ev[4].data.size(), 15u);
    EXPECT_EQ(ev[6].xfer, 1);
    EXPECT_EQ(ev[6].endpoint, 0x81);
    EXPECT_EQ(ev[6].length, 64u);
    EXPECT_EQ(ev[6].interval, 1);
    EXPECT_EQ(ev[7].length, 8u);
    EXPECT_EQ(ev[7].data, (std::vector<uint8_t>{1, 0, 1, 0, 0, 0, 0, 1}));

    // The stall: the data offered is in the submission; status -EPIPE, nothing moved.
    EXPECT_EQ(ev[8].data.size(), 3u);
    EXPECT_EQ(ev[9].status, -32);
    EXPECT_EQ(ev[9].length, 0u);
}

TEST_F(UsbPcap, TsharkReadsTheCapture) {
    if (std::system("command -v tshark >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "tshark not installed";
    write_session();
    std::string out = path + ".txt";
    std::string cmd = "tshark -r '" + path +
                      "' -T fields -E separator=, -e usb.urb_type -e usb.transfer_type"
                      " -e usb.endpoint_address -e usb.urb_status -e usb.data_len > '" +
                      out + "' 2>/dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    std::ifstream in(out);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    std::remove(out.c_str());
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(lines[1], "'C',0x02,0x80,0,18");
    EXPECT_EQ(lines[4], "'S',0x03,0x01,-115,15");
    EXPECT_EQ(lines[7], "'C',0x01,0x81,0,8");
    EXPECT_EQ(lines[9], "'C',0x03,0x01,-32,0");
}

TEST_F(UsbPcap, UnwritablePathIsAClearError) {
    EXPECT_THROW(emu::UsbPcapWriter("/nonexistent-dir/usb.pcap"), std::runtime_error);
}

}  // namespace
