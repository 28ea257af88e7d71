// The command batch and the bus signalling as they reach the adapter: packets byte for
// byte, reply bytes turned into bits, and the batch's behaviour around failed transfers.
#include "rig.h"

#include "ezusb_registers.h"
#include "platform/driver_emu.h"
#include "platform/driver_requests.h"
#include "savemem/batch.h"
#include "savemem/bus.h"
#include "savemem/memory.h"

namespace {

// The OUTB writes of a shift: 02 97 value for each pin state.
Bytes outb_writes(std::initializer_list<uint8_t> values) {
    Bytes packet;
    for (uint8_t value : values) packet.insert(packet.end(), {OP_WRITE_REG, REG_OUTB, value});
    return packet;
}

using BusSignalling = Rig;

TEST_F(BusSignalling, OpenAndReleaseAreOnePacketEach) {
    insert(emu::ChipKind::m95640);
    bus_open();
    bus_release();
    PipeTraffic seen = traffic();
    ASSERT_EQ(seen.out.size(), 2u);
    EXPECT_TRUE(seen.in.empty());
    EXPECT_EQ(seen.out[0], (Bytes{OP_WRITE_REG, REG_PORTBCFG, 0x00, OP_WRITE_REG, REG_OEB, 0xFF,
                                  OP_WRITE_REG, REG_PORTCCFG, 0x00, OP_WRITE_REG, REG_OEC, 0x00,
                                  OP_WRITE_REG, REG_OUTB, 0x04}));
    EXPECT_EQ(seen.out[1], (Bytes{OP_WRITE_REG, REG_PORTBCFG, 0x00, OP_WRITE_REG, REG_OEB, 0x00,
                                  OP_WRITE_REG, REG_PORTCCFG, 0x00, OP_WRITE_REG, REG_OEC, 0x00}));
    // Released pins are undriven: the adapter's port B no longer drives the bus.
    EXPECT_EQ(adapter().peek(OEB), 0x00);
    bus_open();
    EXPECT_EQ(adapter().peek(OEB), 0xFF);
    EXPECT_EQ(adapter().peek(OUTB), 0x04);
}

TEST_F(BusSignalling, ShiftOutSendsTheLowBitsMostSignificantFirst) {
    insert(emu::ChipKind::m95640);
    shift_out(0x03, 8);
    bus_deselect();
    PipeTraffic seen = traffic();
    ASSERT_EQ(seen.out.size(), 3u);
    EXPECT_EQ(seen.out[0], outb_writes({0x00, 0x02, 0x00, 0x02, 0x00, 0x02, 0x00, 0x02, 0x00, 0x02,
                                        0x00, 0x02, 0x01, 0x03, 0x01, 0x03}));
    EXPECT_EQ(seen.out[1], outb_writes({0x00}));
    EXPECT_EQ(seen.out[2], outb_writes({0x04}));

    clear_record();
    shift_out(0x1A5, 8);  // bit 8 and above are never sent
    bus_deselect();
    shift_out(0x10000, 24);
    bus_deselect();
    shift_out(0x0102, 16);
    bus_deselect();
    EXPECT_EQ(bus_commands(), (std::vector<Bytes>{{0xA5}, {0x01, 0x00, 0x00}, {0x01, 0x02}}));
    std::vector<size_t> sizes;
    for (const Bytes& packet : traffic().out) sizes.push_back(packet.size());
    EXPECT_EQ(sizes, (std::vector<size_t>{48, 3, 3, 48, 48, 48, 3, 3, 48, 48, 3, 3}));
}

TEST_F(BusSignalling, SetPinsMapsLevelsToTheOutputLatch) {
    insert(emu::ChipKind::m95640);
    set_pins(1, 1, 1);
    set_pins(0, 0, 0);
    set_pins(-1, 2, -5);
    set_pins(1, 0, 0);
    EXPECT_EQ(command_batch.count, 12);
    batch_flush();
    PipeTraffic seen = traffic();
    ASSERT_EQ(seen.out.size(), 1u);
    EXPECT_EQ(seen.out[0], outb_writes({0x07, 0x00, 0x02, 0x04}));
}

TEST_F(BusSignalling, AnOperationThatDoesNotFitWholeIsNotQueued) {
    insert(emu::ChipKind::m95640);
    for (int i = 0; i < 21; i++) queue_outb(0x04);
    queue_read_pinsc();  // 63 + 2 bytes: would be cut at the end of the packet
    queue_outb(0x00);
    EXPECT_EQ(command_batch.count, 63);
    batch_flush();
    PipeTraffic seen = traffic();
    ASSERT_EQ(seen.out.size(), 1u);
    EXPECT_EQ(seen.out[0].size(), 63u);
    EXPECT_EQ(seen.out[0][60], 0x02);  // ends with a whole write of OUTB
}

TEST_F(BusSignalling, ShiftInTakesBitZeroOfEachReplyByte) {
    emu::SaveChip& chip = insert(emu::ChipKind::m95640);
    std::vector<uint8_t> contents(chip.size(), 0x00);
    contents[0x10] = 0xA1;
    chip.fill(contents);
    bus_select();
    shift_out(0x03, 8);
    shift_out(0x10, 16);
    clear_record();
    EXPECT_EQ(shift_in(8), 0xA1);
    bus_deselect();

    PipeTraffic seen = traffic();
    ASSERT_EQ(seen.out.size(), 2u);
    Bytes bit_reads;
    for (int i = 0; i < 8; i++)
        bit_reads.insert(bit_reads.end(), {OP_WRITE_REG, REG_OUTB, 0x02, OP_READ_REG, REG_PINSC,
                                           OP_WRITE_REG, REG_OUTB, 0x00});
    EXPECT_EQ(seen.out[0], bit_reads);  // exactly one full packet
    ASSERT_EQ(seen.in.size(), 1u);
    ASSERT_EQ(seen.in[0].size(), 8u);
    const int expected_bits[8] = {1, 0, 1, 0, 0, 0, 0, 1};
    for (int i = 0; i < 8; i++) EXPECT_EQ(seen.in[0][i] & 1, expected_bits[i]) << i;
    // The other port C pins float high: only bit 0 may count.
    EXPECT_EQ(seen.in[0][1], 0xFE);
}

TEST_F(BusSignalling, ShiftInWithoutAReplyReadsZero) {
    insert(emu::ChipKind::m95040);
    emu_driver::set_faults({EZUSB_PIPE_READ, 1, 0});
    bus_select();
    EXPECT_EQ(shift_in(8), 0);  // an undriven line would read all ones
    bus_deselect();
    // The reply that the host failed to take is still waiting; take it so later replies line up.
    read_results(8);
    EXPECT_EQ(result_bytes[0] & 1, 1);
}

TEST_F(BusSignalling, FlushSendsNothingWhenEmptyAndEmptiesTheBatchOnFailure) {
    insert(emu::ChipKind::m95640);
    batch_flush();
    EXPECT_TRUE(traffic().out.empty());

    emu_driver::set_faults({EZUSB_PIPE_WRITE, 1, 0});
    configure_port_b(1);
    EXPECT_EQ(command_batch.count, 6);
    batch_flush();
    EXPECT_EQ(command_batch.count, 0);
    configure_port_b(1);
    batch_flush();
    PipeTraffic seen = traffic();
    ASSERT_EQ(seen.out.size(), 2u);  // the failed one is in the record too
    EXPECT_EQ(seen.out[1], (Bytes{OP_WRITE_REG, REG_PORTBCFG, 0x00, OP_WRITE_REG, REG_OEB, 0xFF}));
    EXPECT_FALSE(emu_driver::requests()[0].succeeded);
    EXPECT_TRUE(emu_driver::requests()[1].succeeded);
}

TEST_F(BusSignalling, ReadResultsClearsWhatDoesNotArrive) {
    insert(emu::ChipKind::m95640);
    for (unsigned char& byte : result_bytes) byte = 0x55;
    emu_driver::set_faults({EZUSB_PIPE_READ, 1, 0});
    read_results(8);
    for (int i = 0; i < 8; i++) EXPECT_EQ(result_bytes[i], 0) << i;
    EXPECT_EQ(result_bytes[8], 0x55);  // beyond n: untouched
}

}  // namespace
