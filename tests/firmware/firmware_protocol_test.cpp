// The adapter protocol on EP1, executed by the real firmware in the emulated adapter,
// observed through USB and on the cartridge's bus (the FLASH model records every page
// program and erase it starts).
#include "chips/infrared.h"
#include "ezusb_registers.h"
#include "firmware_adapter.h"

#include <gtest/gtest.h>

#include <numeric>

namespace {

using emu::ChipCycle;
using fwtest::FirmwareAdapter;

// The tests name the operations; their codes and sizes are fixed by the firmware of
// earlier releases, which adapters may still run.
static_assert(OP_WRITE_REG == 0x02 && OP_WRITE_REG_SIZE == 3, "register write");
static_assert(OP_READ_REG == 0x03 && OP_READ_REG_SIZE == 2, "register read");
static_assert(OP_STREAM_WRITE == 0x04 && OP_STREAM_WRITE_SIZE == 9, "streamed write");
static_assert(OP_STREAM_READ == 0x05 && OP_STREAM_READ_SIZE == 7, "streamed read");
static_assert(OP_STREAM_END == 0x06 && OP_STREAM_END_SIZE == 2, "end of a stream");
static_assert(OP_CHIP_ERASE == 0x09 && OP_CHIP_ERASE_SIZE == 2, "chip erase");
static_assert(OP_SAVE_PREFIX == 0x0A && OP_SAVE_PREFIX_SIZE == 1, "save prefix");
static_assert(OP_PAGE_WRITE == 0x0B && OP_PAGE_WRITE_SIZE == 9, "page write");

class FirmwareProtocol : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(fw.start());
        // Port set-up as the host does it before any other exchange.
        ASSERT_TRUE(fw.send({OP_WRITE_REG, REG_PORTBCFG, 0x00, OP_WRITE_REG, REG_OEB, 0xFF,
                             OP_WRITE_REG, REG_PORTCCFG, 0x00, OP_WRITE_REG, REG_OEC, 0x00,
                             OP_WRITE_REG, REG_OUTB, 0x04}));
    }

    std::vector<uint8_t> pattern(size_t n, uint8_t seed) {
        std::vector<uint8_t> v(n);
        for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
        return v;
    }

    // A streamed write as the host sends it: the header, then the data in 64-byte packets.
    void stream_write(uint32_t address, const std::vector<uint8_t>& data) {
        const auto n = static_cast<uint32_t>(data.size());
        ASSERT_TRUE(fw.send({OP_STREAM_WRITE, REG_OUTB, REG_PINSC, uint8_t(address >> 16),
                             uint8_t(address >> 8), uint8_t(address), uint8_t(n >> 16),
                             uint8_t(n >> 8), uint8_t(n)}));
        for (size_t p = 0; p < data.size(); p += 64)
            ASSERT_TRUE(fw.send(std::vector<uint8_t>(
                data.begin() + static_cast<long>(p),
                data.begin() + static_cast<long>(std::min(data.size(), p + 64)))));
    }

    std::vector<ChipCycle> programs() {
        fw.settle();
        std::vector<ChipCycle> result;
        for (const ChipCycle& c : fw.chip().cycles())
            if (c.kind == ChipCycle::Kind::page_program) result.push_back(c);
        return result;
    }

    void expect_programs(const std::vector<std::pair<uint32_t, uint32_t>>& expected) {
        const auto got = programs();
        ASSERT_EQ(got.size(), expected.size());
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].address, expected[i].first) << "page program " << i;
            EXPECT_EQ(got[i].count, expected[i].second) << "page program " << i;
        }
    }

    void expect_memory(uint32_t address, const std::vector<uint8_t>& data) {
        fw.settle();
        fw.chip().finish();
        const auto& m = fw.chip().memory();
        for (size_t i = 0; i < data.size(); ++i)
            ASSERT_EQ(m[address + i], data[i]) << "memory at " << address + i;
    }

    uint8_t outb() {
        fw.settle();
        return fw.peek(OUTB);
    }

    uint8_t read_outb() {
        EXPECT_TRUE(fw.send({OP_READ_REG, REG_OUTB}));
        auto r = fw.receive();
        EXPECT_EQ(r.size(), 1u);
        return r.empty() ? 0xEE : r[0];
    }

    FirmwareAdapter fw;
};

// The next packet may land in the very write that re-arms EP1 OUT: its interrupt
// request stands and it is executed like any other.
TEST_F(FirmwareProtocol, APacketLandingAsTheEndpointIsReArmedIsExecuted) {
    emu::UsbFaults worst;
    worst.instant_out = true;
    fw.adapter().set_faults(worst);
    std::vector<uint8_t> two_packets(128, 0x00);  // zero bytes are skipped
    two_packets[0] = two_packets[64] = OP_WRITE_REG;
    two_packets[1] = two_packets[65] = REG_OEB;
    two_packets[2] = 0x11;
    two_packets[66] = 0x22;
    ASSERT_TRUE(fw.send(two_packets));
    ASSERT_TRUE(fw.send({OP_READ_REG, REG_OEB}));
    EXPECT_EQ(fw.receive(), (std::vector<uint8_t>{0x22}));
}

TEST_F(FirmwareProtocol, RegisterReadsReplyInOrderAndWritesProduceNoReply) {
    EXPECT_TRUE(fw.send({OP_WRITE_REG, REG_OUTB, 0x05}));
    EXPECT_TRUE(fw.nothing_pending());
    EXPECT_EQ(outb(), 0x05);

    // Reads after writes in one packet see the writes; the reply keeps their order.
    EXPECT_TRUE(fw.send({OP_WRITE_REG, REG_OUTB, 0x06, OP_READ_REG, REG_OUTB, OP_READ_REG, REG_OEB,
                         OP_WRITE_REG, REG_OUTB, 0x01, OP_READ_REG, REG_OUTB}));
    EXPECT_EQ(fw.receive(), (std::vector<uint8_t>{0x06, 0xFF, 0x01}));
    EXPECT_TRUE(fw.nothing_pending());
}

TEST_F(FirmwareProtocol, ZeroAndUnknownBytesAreSkippedOneAtATime) {
    EXPECT_TRUE(fw.send(std::vector<uint8_t>(64, 0x00)));
    EXPECT_TRUE(fw.nothing_pending());

    EXPECT_TRUE(
        fw.send({0x00, 0x00, OP_READ_REG, REG_OEB, 0x00, 0x07, 0xFF, OP_READ_REG, REG_OUTB, 0x00}));
    EXPECT_EQ(fw.receive(), (std::vector<uint8_t>{0xFF, 0x04}));
}

TEST_F(FirmwareProtocol, BitLevelReadThroughRegistersFollowsThePins) {
    // RDID clocked by hand: select, 0x9F out bit by bit, 24 bits in.
    fw.chip().finish();
    std::vector<uint8_t> out = {OP_WRITE_REG, REG_OUTB, 0x00};
    for (int bit = 7; bit >= 0; --bit) {
        uint8_t d = (0x9F >> bit) & 1;
        out.insert(out.end(),
                   {OP_WRITE_REG, REG_OUTB, d, OP_WRITE_REG, REG_OUTB, uint8_t(d | 0x02)});
    }
    out.insert(out.end(), {OP_WRITE_REG, REG_OUTB, 0x00});
    ASSERT_TRUE(fw.send(out));
    uint32_t id = 0;
    for (int byte = 0; byte < 3; ++byte) {
        std::vector<uint8_t> p;
        for (int bit = 0; bit < 8; ++bit)
            p.insert(p.end(), {OP_WRITE_REG, REG_OUTB, 0x02, OP_READ_REG, REG_PINSC, OP_WRITE_REG,
                               REG_OUTB, 0x00});
        ASSERT_EQ(p.size(), 64u);
        ASSERT_TRUE(fw.send(p));
        auto r = fw.receive();
        ASSERT_EQ(r.size(), 8u);
        for (uint8_t v : r) id = id << 1 | (v & 1);
    }
    EXPECT_TRUE(fw.send({OP_WRITE_REG, REG_OUTB, 0x04}));
    EXPECT_EQ(id, 0x621600u);
}

TEST_F(FirmwareProtocol, StreamedReadWithoutContinueReturnsOnePacketAndDeselects) {
    const auto data = pattern(0x40000, 3);
    fw.chip().fill(data);
    ASSERT_TRUE(fw.send({OP_STREAM_READ, REG_OUTB, REG_PINSC, 0x01, 0x23, 0x40, 0x00}));
    auto r = fw.receive();
    EXPECT_EQ(r, std::vector<uint8_t>(data.begin() + 0x12340, data.begin() + 0x12380));
    EXPECT_EQ(outb(), 0x04);
    EXPECT_TRUE(fw.nothing_pending()) << "no refill without the continue flag";
}

TEST_F(FirmwareProtocol, StreamedReadRefillsUntilStreamEndThenLeavesOnePending) {
    const auto data = pattern(0x40000, 11);
    fw.chip().fill(data);
    ASSERT_TRUE(fw.send({OP_STREAM_READ, REG_OUTB, REG_PINSC, 0x02, 0xFF, 0x80, 0x01}));
    std::vector<uint8_t> got;
    for (int i = 0; i < 5; ++i) {
        auto r = fw.receive();
        ASSERT_EQ(r.size(), 64u) << "packet " << i;
        got.insert(got.end(), r.begin(), r.end());
    }
    EXPECT_EQ(got, std::vector<uint8_t>(data.begin() + 0x2FF80, data.begin() + 0x300C0));
    EXPECT_EQ(outb() & 0x04, 0) << "the memory stays selected";

    ASSERT_TRUE(fw.send({OP_STREAM_END}));
    EXPECT_EQ(outb(), 0x04);
    auto pending = fw.receive();
    EXPECT_EQ(pending, std::vector<uint8_t>(data.begin() + 0x300C0, data.begin() + 0x30100));
    EXPECT_TRUE(fw.nothing_pending()) << "taking the pending packet causes no refill";

    // Back to operations.
    EXPECT_EQ(read_outb(), 0x04);
}

TEST_F(FirmwareProtocol, StreamEndSkipsTheByteAfterItAndGoesOn) {
    ASSERT_TRUE(
        fw.send({OP_WRITE_REG, REG_OUTB, 0x00, OP_STREAM_END, 0x03, OP_READ_REG, REG_OUTB}));
    EXPECT_EQ(fw.receive(), (std::vector<uint8_t>{0x04}));
}

TEST_F(FirmwareProtocol, StreamedWritesBecomePageProgramsOfWholePages) {
    const auto one = pattern(1, 1);
    stream_write(0, one);
    expect_programs({{0, 1}});
    expect_memory(0, one);
    EXPECT_EQ(read_outb(), 0x04) << "the stream ended with its byte: operations again";

    fw.chip().clear_cycles();
    const auto page = pattern(256, 2);
    stream_write(0x1000, page);
    expect_programs({{0x1000, 256}});
    expect_memory(0x1000, page);

    fw.chip().clear_cycles();
    const auto over = pattern(257, 3);
    stream_write(0x2000, over);
    expect_programs({{0x2000, 256}, {0x2100, 1}});
    expect_memory(0x2000, over);

    fw.chip().clear_cycles();
    const auto two = pattern(512, 4);
    stream_write(0x3000, two);
    expect_programs({{0x3000, 256}, {0x3100, 256}});
    expect_memory(0x3000, two);
    EXPECT_TRUE(fw.nothing_pending()) << "a streamed write never replies";
}

TEST_F(FirmwareProtocol, PauseAfterEachPageCoversASlowPageProgram) {
    // A page program slower than the time between two pages: the next page's write
    // enable must wait for its end, or the memory would ignore it.
    fw.chip().set_program_time_us(3000);
    const auto data = pattern(1024, 8);
    stream_write(0x8000, data);
    expect_programs({{0x8000, 256}, {0x8100, 256}, {0x8200, 256}, {0x8300, 256}});
    expect_memory(0x8000, data);
}

TEST_F(FirmwareProtocol, StreamedWriteCrossesAddress0x10000PageByPage) {
    const auto data = pattern(768, 5);
    stream_write(0xFF00, data);
    expect_programs({{0xFF00, 256}, {0x10000, 256}, {0x10100, 256}});
    expect_memory(0xFF00, data);
}

TEST_F(FirmwareProtocol, BytesAfterTheLastDataByteAreDiscarded) {
    ASSERT_TRUE(
        fw.send({OP_STREAM_WRITE, REG_OUTB, REG_PINSC, 0x00, 0x05, 0x00, 0x00, 0x00, 0x03}));
    // Three data bytes, then what would be a register read and a register write.
    ASSERT_TRUE(fw.send({0x11, 0x22, 0x33, OP_READ_REG, REG_OUTB, OP_WRITE_REG, REG_OUTB, 0x00}));
    EXPECT_TRUE(fw.nothing_pending());
    EXPECT_EQ(outb(), 0x04);
    expect_programs({{0x500, 3}});
    expect_memory(0x500, {0x11, 0x22, 0x33});
    EXPECT_EQ(read_outb(), 0x04);
}

TEST_F(FirmwareProtocol, ChipEraseSendsEnableEraseDisable) {
    fw.chip().fill(std::vector<uint8_t>(0x40000, 0x00));
    ASSERT_TRUE(fw.send({OP_CHIP_ERASE, REG_OUTB}));
    fw.settle();
    EXPECT_EQ(outb(), 0x04);
    ASSERT_EQ(fw.chip().cycles().size(), 1u);
    EXPECT_EQ(fw.chip().cycles()[0].kind, ChipCycle::Kind::chip_erase);
    fw.chip().finish();
    for (uint8_t b : fw.chip().memory()) ASSERT_EQ(b, 0xFF);
    EXPECT_EQ(fw.chip().status(fw.adapter().now_ns()) & 0x02, 0) << "write enable latch cleared";
}

TEST_F(FirmwareProtocol, StreamedWriteOfLengthZeroLeavesOperationsRunning) {
    ASSERT_TRUE(
        fw.send({OP_STREAM_WRITE, REG_OUTB, REG_PINSC, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(read_outb(), 0x04);
    EXPECT_TRUE(programs().empty());
}

TEST_F(FirmwareProtocol, UnalignedStreamedWriteSplitsAtPageBoundaries) {
    const auto data = pattern(400, 6);
    stream_write(0x1080, data);
    expect_programs({{0x1080, 128}, {0x1100, 256}, {0x1200, 16}});
    expect_memory(0x1080, data);
}

// Operations that the host never sends in these states, handled without harm.
class FirmwareFresh : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(fw.start()); }
    uint8_t outb() {
        fw.settle();
        return fw.peek(OUTB);
    }
    FirmwareAdapter fw;
};

TEST_F(FirmwareFresh, StreamEndBeforeAnyBusRegisterDeselectsOnOutb) {
    const std::vector<uint8_t> head(fw.adapter().memory(), fw.adapter().memory() + 16);
    ASSERT_TRUE(fw.send({OP_STREAM_END}));
    EXPECT_EQ(outb(), 0x04);
    EXPECT_EQ(std::vector<uint8_t>(fw.adapter().memory(), fw.adapter().memory() + 16), head);
    ASSERT_TRUE(fw.send({OP_READ_REG, REG_OUTB}));
    EXPECT_EQ(fw.receive(), (std::vector<uint8_t>{0x04}));
}

TEST_F(FirmwareFresh, OperationCutOffByThePacketEndIsNotExecuted) {
    ASSERT_TRUE(fw.send({OP_WRITE_REG, REG_OUTB, 0x04}));
    // Leaves 0x01 in the packet buffer at offset 4 ...
    ASSERT_TRUE(fw.send({0x00, 0x00, 0x00, 0x00, 0x01}));
    // ... which a register write cut off after its register number would take as value.
    ASSERT_TRUE(fw.send({OP_READ_REG, REG_OUTB, OP_WRITE_REG, REG_OUTB}));
    EXPECT_EQ(fw.receive(), (std::vector<uint8_t>{0x04}));
    EXPECT_EQ(outb(), 0x04);
}

TEST_F(FirmwareFresh, RepliesBeyondOnePacketAreDropped) {
    fw.chip().fill(std::vector<uint8_t>(0x40000, 0x5A));
    std::vector<uint8_t> p = {OP_WRITE_REG,
                              REG_OEB,
                              0xFF,
                              OP_WRITE_REG,
                              REG_OUTB,
                              0x04,
                              OP_STREAM_READ,
                              REG_OUTB,
                              REG_PINSC,
                              0,
                              0,
                              0,
                              0};
    while (p.size() + OP_READ_REG_SIZE <= PACKET_SIZE) p.insert(p.end(), {OP_READ_REG, REG_OUTB});
    const uint8_t next_buffer = fw.peek(OUT0BUF);
    ASSERT_TRUE(fw.send(p));
    EXPECT_EQ(fw.receive(), std::vector<uint8_t>(64, 0x5A));
    fw.settle();
    EXPECT_EQ(fw.peek(OUT0BUF), next_buffer) << "the buffer after IN1BUF is untouched";
}

// OP_SAVE_PREFIX answers with one byte and sends the memory commands of the streams
// that the next packet starts behind a 00h prefix, with the pauses of an infrared
// cartridge's transceiver; the streams of any later packet go without it.
TEST_F(FirmwareProtocol, SavePrefixSendsTheNextPacketsStreamsThroughATransceiver) {
    std::vector<uint8_t> contents(0x40000, 0xFF);
    const std::vector<uint8_t> data = pattern(300, 5);
    std::copy(data.begin(), data.end(), contents.begin() + 0x100);
    fw.chip().fill(contents);
    emu::InfraredTransceiver ir(&fw.chip());
    fw.adapter().insert(&ir);
    const std::vector<uint8_t> read_at_100 = {OP_STREAM_READ, REG_OUTB, REG_PINSC, 0x00,
                                              0x01,           0x00,     0x00};

    ASSERT_TRUE(fw.send({OP_SAVE_PREFIX, OP_READ_REG, REG_OUTB}));
    EXPECT_EQ(fw.receive(), (std::vector<uint8_t>{0x01, 0x04}));
    ASSERT_TRUE(fw.send(read_at_100));
    EXPECT_EQ(fw.receive(), std::vector<uint8_t>(data.begin(), data.begin() + 64));

    ASSERT_TRUE(fw.send({OP_SAVE_PREFIX}));
    EXPECT_EQ(fw.receive(), (std::vector<uint8_t>{0x01}));
    ASSERT_TRUE(fw.send({OP_READ_REG, REG_OUTB}));  // a packet between: the prefix has lapsed
    EXPECT_EQ(fw.receive(), (std::vector<uint8_t>{0x04}));
    ASSERT_TRUE(fw.send(read_at_100));
    EXPECT_EQ(fw.receive(), std::vector<uint8_t>(64, 0x00));  // the microcontroller's answer
    EXPECT_EQ(ir.mcu_commands(), (std::vector<uint8_t>{0x03}));

    ASSERT_TRUE(fw.send({OP_SAVE_PREFIX}));
    EXPECT_EQ(fw.receive(), (std::vector<uint8_t>{0x01}));
    stream_write(0x1000, data);
    expect_programs({{0x1000, 256}, {0x1100, 44}});
    expect_memory(0x1000, data);
    EXPECT_EQ(ir.timing_faults(), 0);
    EXPECT_EQ(ir.mcu_commands().size(), 1u);
}

}  // namespace
