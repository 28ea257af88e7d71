// OP_PAGE_WRITE and the streams' own packet buffer, executed by the real firmware in the
// emulated adapter: replies on EP1 IN, cycles and contents of the save chip, and the
// endpoints' state while the firmware works.
#include "chips/infrared.h"
#include "core/cpu8051.h"
#include "ezusb_registers.h"
#include "firmware_adapter.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace {

using emu::ChipCycle;
using emu::ChipKind;
using fwtest::FirmwareAdapter;
using fwtest::NS_PER_MS;
using Bytes = std::vector<uint8_t>;

constexpr uint8_t EP_BUSY = 0x02;  // INnCS: a packet waits for the host; OUTnCS: armed

Bytes pattern(size_t n, uint8_t seed) {
    Bytes v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 13 + (i >> 8));
    return v;
}

// A started adapter with the host's port set-up done.
struct Rig {
    explicit Rig(ChipKind kind) : fw(kind) {
        started = fw.start() && fw.send({OP_WRITE_REG, REG_PORTBCFG, 0x00, OP_WRITE_REG, REG_OEB,
                                         0xFF, OP_WRITE_REG, REG_PORTCCFG, 0x00, OP_WRITE_REG,
                                         REG_OEC, 0x00, OP_WRITE_REG, REG_OUTB, 0x04});
    }
    Bytes page_write_header(uint8_t width, uint32_t address, unsigned n) const {
        return {OP_PAGE_WRITE,
                REG_OUTB,
                REG_PINSC,
                width,
                uint8_t(address >> 16),
                uint8_t(address >> 8),
                uint8_t(address),
                uint8_t(n >> 8),
                uint8_t(n)};
    }
    FirmwareAdapter fw;
    bool started = false;
};

// One page write: the header, then its data in packets of the given sizes; the last
// packet may carry bytes after the data.
struct PageCase {
    const char* what;
    ChipKind chip;
    uint8_t width;
    uint32_t address;
    unsigned n;
    std::vector<size_t> packets;  // data bytes per packet
    Bytes after;                  // further bytes in the last packet
    uint32_t program_us;          // 0: the chip's own write time
    uint8_t reply;
    uint32_t page;         // the chip's page: the data wrap inside it
    size_t in_header = 0;  // data bytes in the header's packet, before those of packets
};

const PageCase page_cases[] = {
    {"9-bit address, bit 8 in the instruction",
     ChipKind::m95040,
     1,
     0x1F0,
     16,
     {16},
     {},
     0,
     0x01,
     16},
    {"16-bit address, a page over two packets",
     ChipKind::m95512,
     2,
     0xFF80,
     128,
     {64, 64},
     {},
     0,
     0x01,
     128},
    {"past the page end the memory wraps inside the page",
     ChipKind::m95640,
     2,
     0x0130,
     32,
     {32},
     {},
     0,
     0x01,
     32},
    {"24-bit address, a FLASH page over four packets",
     ChipKind::le25fw203,
     3,
     0x12300,
     256,
     {64, 64, 64, 64},
     {},
     0,
     0x01,
     256},
    {"bytes after the last one are discarded",
     ChipKind::m95640,
     2,
     0x0100,
     3,
     {3},
     {OP_READ_REG, REG_OUTB, 0x02, REG_OUTB, 0x00},
     0,
     0x01,
     32},
    {"a write cycle that outlasts the poll",
     ChipKind::m95640,
     2,
     0x0040,
     8,
     {8},
     {},
     200000,
     0x00,
     32},
    {"the data in the header's packet", ChipKind::m95640, 2, 0x0160, 32, {}, {}, 0, 0x01, 32, 32},
    {"the data begun in the header's packet, the rest in two more",
     ChipKind::m95512,
     2,
     0x0080,
     128,
     {64, 9},
     {},
     0,
     0x01,
     128,
     55},
};

TEST(FirmwarePageWrite, WritesOnePageAndReplies) {
    for (const PageCase& c : page_cases) {
        SCOPED_TRACE(c.what);
        Rig rig(c.chip);
        ASSERT_TRUE(rig.started);
        if (c.program_us) rig.fw.chip().set_program_time_us(c.program_us);
        const Bytes data = pattern(c.n, uint8_t(c.address));
        Bytes header = rig.page_write_header(c.width, c.address, c.n);
        for (size_t i = 0; i < c.in_header; ++i) header.push_back(data[i]);
        ASSERT_TRUE(rig.fw.send(header));
        uint64_t last_sent = rig.fw.adapter().now_ns();
        if (!c.packets.empty()) {
            EXPECT_TRUE(rig.fw.nothing_pending()) << "no reply before the data";
        }
        size_t at = c.in_header;
        for (size_t i = 0; i < c.packets.size(); ++i) {
            Bytes packet(data.begin() + long(at), data.begin() + long(at + c.packets[i]));
            if (i + 1 == c.packets.size())
                packet.insert(packet.end(), c.after.begin(), c.after.end());
            at += c.packets[i];
            ASSERT_TRUE(rig.fw.send(packet));
            last_sent = rig.fw.adapter().now_ns();
        }
        EXPECT_EQ(rig.fw.receive(), Bytes{c.reply});
        if (c.reply == 0x00) {
            EXPECT_GE(rig.fw.adapter().now_ns() - last_sent, 25 * NS_PER_MS)
                << "the poll lasts several times the 5 ms write time";
        }
        EXPECT_TRUE(rig.fw.nothing_pending()) << "one reply byte, nothing from the bytes after";

        rig.fw.settle();
        rig.fw.chip().finish();
        ASSERT_EQ(rig.fw.chip().cycles().size(), 1u);
        EXPECT_EQ(rig.fw.chip().cycles()[0].address, c.address);
        EXPECT_EQ(rig.fw.chip().cycles()[0].count, c.n);
        const uint32_t base = c.address & ~(c.page - 1);
        for (unsigned i = 0; i < c.n; ++i)
            ASSERT_EQ(rig.fw.chip().memory()[base + (c.address - base + i) % c.page], data[i])
                << "byte " << i;
        // Operations again, with the memory deselected.
        ASSERT_TRUE(rig.fw.send({OP_READ_REG, REG_OUTB}));
        EXPECT_EQ(rig.fw.receive(), Bytes{0x04});
    }
}

// Headers that send nothing: length 0 (the host's probe, on this firmware and on the
// previous release, which skips every byte of it), a refused one, and a header cut
// off by the end of its packet, which is not executed.
TEST(FirmwarePageWrite, ProbeRefusalsAndCutHeadersSendNothing) {
    Rig rig(ChipKind::m95512);
    ASSERT_TRUE(rig.started);
    const Bytes probe = {OP_PAGE_WRITE, REG_OUTB, REG_PINSC, 0x01, 0, 0, 0, 0, 0,
                         OP_PAGE_WRITE, REG_OUTB, REG_PINSC, 0x00, 0, 0, 0, 0, 0,
                         OP_READ_REG,   REG_PINSC};
    struct Case {
        const char* what;
        Bytes packet;
        Bytes reply;
    } cases[] = {
        {"the probe", probe, {0x01, 0x02}},
        {"257 bytes", rig.page_write_header(2, 0x100, 257), {0x02}},
        {"address width 0", rig.page_write_header(0, 0x100, 16), {0x02}},
        {"address width 4", rig.page_write_header(4, 0x100, 16), {0x02}},
        {"refused, with bytes behind it that are not its operations",
         [&] {
             Bytes packet = rig.page_write_header(2, 0x100, 257);
             for (int b : {int(OP_WRITE_REG), int(REG_OUTB), 0x00, int(OP_READ_REG), int(REG_OUTB)})
                 packet.push_back(uint8_t(b));
             return packet;
         }(),
         {0x02}},
        {"a header cut short",
         Bytes{OP_PAGE_WRITE, REG_OUTB, REG_PINSC, 0x02, 0x00, 0x01, 0x00, 0x00},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(rig.fw.send(c.packet));
        if (c.reply.empty())
            EXPECT_TRUE(rig.fw.nothing_pending());
        else
            EXPECT_EQ(rig.fw.receive(), c.reply);
        // The next packet is operations, and the memory saw no write enable.
        ASSERT_TRUE(rig.fw.send({OP_READ_REG, REG_OUTB}));
        EXPECT_EQ(rig.fw.receive(), Bytes{0x04});
        EXPECT_EQ(rig.fw.chip().status(rig.fw.adapter().now_ns()), 0x00);
    }
    EXPECT_TRUE(rig.fw.chip().cycles().empty());

    // The previous release: only the register's byte; the earlier page write, which goes on
    // with operations after a refused header: three.
    const struct {
        const char* path;
        Bytes reply;
    } earlier[] = {{PREVIOUS_FIRMWARE, {0xFF}}, {EARLIER_PAGE_FIRMWARE, {0x01, 0x02, 0xFF}}};
    for (const auto& e : earlier) {
        SCOPED_TRACE(e.path);
        std::ifstream file(e.path, std::ios::binary);
        const Bytes image((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        ASSERT_EQ(image.size(), 4096u);
        FirmwareAdapter old(ChipKind::m95512);
        ASSERT_TRUE(old.start(image.data(), unsigned(image.size())));
        ASSERT_TRUE(old.send(probe));
        EXPECT_EQ(old.receive(), e.reply);
    }
}

// Pages sent one ahead of the replies, as the host sends them: each reply waits until the
// one before it has been taken, and every page is written.
TEST(FirmwarePageWrite, APageSentBeforeTheReplyBeforeItIsTaken) {
    Rig rig(ChipKind::m95640);
    ASSERT_TRUE(rig.started);
    const Bytes data = pattern(96, 5);
    for (uint32_t page = 0; page < 96; page += 32) {
        Bytes packet = rig.page_write_header(2, page, 32);
        for (uint32_t i = 0; i < 32; ++i) packet.push_back(data[page + i]);
        ASSERT_TRUE(rig.fw.send(packet));
    }
    rig.fw.settle();  // the second page is written while the first page's reply waits
    for (int reply = 0; reply < 3; ++reply) EXPECT_EQ(rig.fw.receive(), Bytes{0x01}) << reply;
    EXPECT_TRUE(rig.fw.nothing_pending());
    rig.fw.settle();
    rig.fw.chip().finish();
    EXPECT_EQ(rig.fw.chip().cycles().size(), 3u);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), rig.fw.chip().memory().begin()));
}

// Streamed reads of several lengths: the packets come in order across the stream
// buffer, exactly one is pending after OP_STREAM_END, and each stream starts from its
// own address, not from what the buffer held for the one before. Also with every
// MOVX stretched by three cycles (CKCON), so that each refill outlasts the frames
// between the host's transfers and OP_STREAM_END comes while one runs.
TEST(FirmwareStreamBuffer, StreamedReadsDeliverEveryPacketOnceInOrder) {
    for (bool slow : {false, true}) {
        SCOPED_TRACE(slow ? "MOVX stretched" : "full speed");
        Rig rig(ChipKind::le25fw203);
        ASSERT_TRUE(rig.started);
        if (slow) rig.fw.adapter().cpu().set_sfr(emu::sfr::CKCON, 0x03);
        const Bytes data = pattern(0x40000, 9);
        rig.fw.chip().fill(data);
        uint32_t start = 0x3F000;
        for (long packets = 1; packets <= 24; ++packets) {
            SCOPED_TRACE(packets);
            ASSERT_TRUE(rig.fw.send({OP_STREAM_READ, REG_OUTB, REG_PINSC, uint8_t(start >> 16),
                                     uint8_t(start >> 8), uint8_t(start), 0x01}));
            Bytes got;
            for (long i = 0; i < packets; ++i) {
                Bytes r = rig.fw.receive();
                ASSERT_EQ(r.size(), 64u) << "packet " << i;
                got.insert(got.end(), r.begin(), r.end());
            }
            ASSERT_TRUE(rig.fw.send({OP_STREAM_END}));
            Bytes pending = rig.fw.receive();
            got.insert(got.end(), pending.begin(), pending.end());
            EXPECT_EQ(got, Bytes(data.begin() + start, data.begin() + start + (packets + 1) * 64));
            EXPECT_TRUE(rig.fw.nothing_pending());
            start = (start + 0x1234) % 0x3E000;
        }
    }
}

TEST(FirmwareStreamBuffer, PrefixedStreamedReadThroughATransceiver) {
    Rig rig(ChipKind::m45pe80);
    ASSERT_TRUE(rig.started);
    const Bytes data = pattern(0x100000, 4);
    rig.fw.chip().fill(data);
    emu::InfraredTransceiver ir(&rig.fw.chip());
    rig.fw.adapter().insert(&ir);
    ASSERT_TRUE(rig.fw.send({OP_SAVE_PREFIX}));
    EXPECT_EQ(rig.fw.receive(), Bytes{0x01});
    ASSERT_TRUE(rig.fw.send({OP_STREAM_READ, REG_OUTB, REG_PINSC, 0x0F, 0xFF, 0x00, 0x01}));
    Bytes got;
    for (int i = 0; i < 6; ++i) {
        Bytes r = rig.fw.receive();
        got.insert(got.end(), r.begin(), r.end());
    }
    ASSERT_TRUE(rig.fw.send({OP_STREAM_END}));
    Bytes pending = rig.fw.receive();
    got.insert(got.end(), pending.begin(), pending.end());
    // The memory's address counter runs on past its last byte to 0.
    Bytes expected(data.begin() + 0xFFF00, data.end());
    expected.insert(expected.end(), data.begin(), data.begin() + 7 * 64 - 0x100);
    EXPECT_EQ(got, expected);
    EXPECT_TRUE(rig.fw.nothing_pending());
    EXPECT_EQ(ir.timing_faults(), 0);
    EXPECT_TRUE(ir.mcu_commands().empty());
}

// While a streamed write closes a page (deselect, the pause, write disable), EP1 OUT is
// already armed for the next packet, whose bytes then open the next page.
TEST(FirmwareStreamBuffer, StreamedWriteTakesTheNextPacketWhileAPageCloses) {
    Rig rig(ChipKind::le25fw203);
    ASSERT_TRUE(rig.started);
    const Bytes data = pattern(512, 3);
    ASSERT_TRUE(
        rig.fw.send({OP_STREAM_WRITE, REG_OUTB, REG_PINSC, 0x00, 0x20, 0x00, 0x00, 0x02, 0x00}));
    for (size_t p = 0; p < 4; ++p)
        ASSERT_TRUE(
            rig.fw.send(Bytes(data.begin() + long(64 * p), data.begin() + long(64 * p + 64))));
    // The packet came a frame ago; clocking it out and closing the page take 5 ms.
    EXPECT_TRUE(rig.fw.peek(OUT1CS) & EP_BUSY) << "armed while the page closes";
    for (size_t p = 4; p < 8; ++p)
        ASSERT_TRUE(
            rig.fw.send(Bytes(data.begin() + long(64 * p), data.begin() + long(64 * p + 64))));
    rig.fw.settle();
    rig.fw.chip().finish();
    ASSERT_EQ(rig.fw.chip().cycles().size(), 2u);
    EXPECT_EQ(rig.fw.chip().cycles()[1].address, 0x2100u);
    EXPECT_EQ(
        Bytes(rig.fw.chip().memory().begin() + 0x2000, rig.fw.chip().memory().begin() + 0x2200),
        data);
    EXPECT_FALSE(rig.fw.peek(IN1CS) & EP_BUSY) << "a streamed write never replies";
}

}  // namespace
