// The infrared transceiver in front of a cartridge's FLASH: only a command behind a
// 00h prefix reaches the memory, and only with the pauses the transceiver needs.
#include "chips/infrared.h"
#include "bus_master.h"
#include "chips/save_chip.h"

#include <gtest/gtest.h>

using namespace emu;
using namespace emu_test;

namespace {

using Bytes = std::vector<uint8_t>;

class Infrared : public ::testing::Test {
protected:
    static constexpr uint64_t PAUSE_NS = 70000;  // a little more than the 61 us needed
    SaveChip flash{ChipKind::m45pe80};
    InfraredTransceiver ir{&flash};
    BusMaster bus{ir, 1000};  // one pin change a microsecond: 500 kHz

    Bytes prefixed(std::initializer_list<uint8_t> command, size_t n,
                   uint64_t after_prefix = PAUSE_NS, uint64_t before_release = PAUSE_NS) {
        bus.select();
        bus.write({0x00});
        bus.wait_ns(after_prefix);
        bus.write(command);
        Bytes in = bus.read(n);
        bus.wait_ns(before_release);
        bus.deselect();
        return in;
    }
};

TEST_F(Infrared, OnlyPrefixedCommandsWithTheirPausesReachTheMemory) {
    const Bytes id = {0x20, 0x40, 0x14}, zeros(3, 0x00), floating(3, 0xFF);
    flash.fill(Bytes(flash.size(), 0x5A));

    // Without the prefix the microcontroller answers, with zeros, and the memory sees
    // nothing: READ is a write of the microcontroller's own memory.
    EXPECT_EQ(bus.query({0x9F}, 3), zeros);
    EXPECT_EQ(bus.query({0x03, 0, 0, 0}, 2), Bytes(2, 0x00));
    EXPECT_EQ(ir.mcu_commands(), (Bytes{0x9F, 0x03}));

    EXPECT_EQ(prefixed({0x9F}, 3), id);
    EXPECT_EQ(prefixed({0x03, 0, 0, 0}, 2), Bytes(2, 0x5A));
    EXPECT_EQ(ir.timing_faults(), 0);

    // No pause after the prefix: the instruction's first bits are lost.
    EXPECT_EQ(prefixed({0x9F}, 3, 0), floating);
    EXPECT_EQ(ir.timing_faults(), 1);
    // Select released right after the last byte: the command itself is done, but the
    // microcontroller misses the release, so the next command reaches the memory with
    // its prefix as the instruction (ignored), and closes the gate again.
    EXPECT_EQ(prefixed({0x9F}, 3, PAUSE_NS, 0), id);
    EXPECT_EQ(prefixed({0x9F}, 3), floating);
    EXPECT_EQ(prefixed({0x9F}, 3), id);
    EXPECT_EQ(ir.timing_faults(), 2);

    // A prefix clocked faster than 1 MHz is not one: the microcontroller takes it.
    bus.set_step_ns(400);
    EXPECT_EQ(prefixed({0x9F}, 3), zeros);
    EXPECT_EQ(ir.mcu_commands().back(), 0x00);
    EXPECT_EQ(ir.timing_faults(), 3);
    EXPECT_TRUE(flash.cycles().empty());
}

}  // namespace
