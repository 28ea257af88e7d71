#include "bus_master.h"
#include "chips/save_chip.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace emu;
using namespace emu_test;

namespace {

std::vector<uint8_t> pattern(size_t n, uint32_t seed = 7) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>((i * 131 + seed) ^ (i >> 8));
    return v;
}

class Flash : public ::testing::TestWithParam<ChipKind> {
protected:
    SaveChip chip{GetParam()};
    BusMaster bus{chip};

    void wait_ready() {
        for (int i = 0; i < 100000 && (bus.status() & 1); ++i) bus.wait_ns(NS_PER_MS);
    }
    void program(uint32_t address, const std::vector<uint8_t>& data) {
        bus.command({0x06});
        bus.select();
        bus.write({0x02, uint8_t(address >> 16), uint8_t(address >> 8), uint8_t(address)});
        bus.write(data);
        bus.deselect();
        wait_ready();
    }
    std::vector<uint8_t> read(uint32_t address, size_t n) {
        return bus.query({0x03, uint8_t(address >> 16), uint8_t(address >> 8), uint8_t(address)},
                         n);
    }
};

TEST_P(Flash, IdentifiesItselfAndIgnoresUnknownInstructions) {
    auto id = bus.query({0x9F}, 3);
    uint32_t value = uint32_t(id[0]) << 16 | id[1] << 8 | id[2];
    EXPECT_EQ(value, GetParam() == ChipKind::le25fw203 ? 0x621600u : 0x204012u);
    EXPECT_EQ(bus.undriven_bits(), 0);
    // After the three bytes, and for an instruction the chip does not know, the line floats.
    bus.query({0x9F}, 4);
    EXPECT_EQ(bus.undriven_bits(), 8);
    EXPECT_EQ(bus.query({0x77}, 1)[0], 0xFF);
    EXPECT_EQ(bus.undriven_bits(), 16);
    EXPECT_EQ(chip.output(bus.now()), -1);  // deselected
}

TEST_P(Flash, ReadAutoIncrementsAcrossTheArrayAndWraps) {
    auto contents = pattern(chip.size());
    chip.fill(contents);
    auto got = read(0, chip.size());
    EXPECT_EQ(got, contents);
    auto tail = read(0x3FFFE, 4);
    EXPECT_EQ(tail, (std::vector<uint8_t>{contents[0x3FFFE], contents[0x3FFFF], contents[0],
                                          contents[1]}));
    // Address bits above the array are ignored.
    EXPECT_EQ(read(0xC00010, 1)[0], contents[0x10]);
}

TEST_P(Flash, WriteEnableLatchGatesProgramming) {
    EXPECT_EQ(bus.status(), 0x00);
    bus.command({0x06});
    EXPECT_EQ(bus.status(), 0x02);
    bus.command({0x04});
    EXPECT_EQ(bus.status(), 0x00);
    // Page program without the latch: nothing happens.
    bus.select();
    bus.write({0x02, 0, 0, 0, 0x00});
    bus.deselect();
    EXPECT_EQ(bus.status(), 0x00);
    EXPECT_TRUE(chip.cycles().empty());
    EXPECT_EQ(chip.memory()[0], 0xFF);
    // A write enable not ended on a byte boundary is rejected.
    bus.select();
    bus.write_bits(0x06 << 1, 9);
    bus.deselect();
    EXPECT_EQ(bus.status(), 0x00);
}

TEST_P(Flash, PageProgramClearsBitsOnlyAndWrapsInsideThePage) {
    program(0x100, {0xF0, 0x0F, 0x55});
    program(0x100, {0x3C, 0xFF});
    auto mem = chip.memory();
    EXPECT_EQ(mem[0x100], 0x30);
    EXPECT_EQ(mem[0x101], 0x0F);
    EXPECT_EQ(mem[0x102], 0x55);
    EXPECT_EQ(mem[0xFF], 0xFF);
    EXPECT_EQ(bus.status() & 0x02, 0);  // the latch clears at the end of the cycle

    // 4 bytes starting 2 before the end of page 0x200: the last two land at its start.
    program(0x2FE, {1, 2, 3, 4});
    mem = chip.memory();
    EXPECT_EQ(mem[0x2FE], 1);
    EXPECT_EQ(mem[0x2FF], 2);
    EXPECT_EQ(mem[0x200], 3);
    EXPECT_EQ(mem[0x201], 4);
    EXPECT_EQ(mem[0x300], 0xFF);

    ASSERT_EQ(chip.cycles().size(), 3u);
    const ChipCycle& c = chip.cycles()[2];
    EXPECT_EQ(c.kind, ChipCycle::Kind::page_program);
    EXPECT_EQ(c.address, 0x2FEu);
    EXPECT_EQ(c.count, 4u);
    EXPECT_GT(c.end_ns, c.start_ns);
}

TEST_P(Flash, BusyChipAnswersOnlyStatusUntilTheCycleEnds) {
    chip.fill(pattern(chip.size()));
    bus.command({0x06});
    bus.command({0xD8, 0x01, 0x23, 0x45});  // erases sector 0x010000-0x01FFFF
    ASSERT_EQ(chip.cycles().size(), 1u);
    const ChipCycle erase = chip.cycles()[0];
    EXPECT_EQ(erase.kind, ChipCycle::Kind::sector_erase);
    EXPECT_EQ(erase.address, 0x10000u);
    EXPECT_EQ(erase.count, 0x10000u);
    // Data sheets: tens of milliseconds at least for a 64 KiB sector.
    EXPECT_GE(erase.end_ns - erase.start_ns, 10 * NS_PER_MS);

    EXPECT_EQ(bus.status(), 0x03);
    int before = bus.undriven_bits();
    read(0, 2);
    EXPECT_EQ(bus.undriven_bits() - before, 16);  // READ ignored
    bus.query({0x9F}, 3);
    EXPECT_EQ(bus.undriven_bits() - before, 40);  // RDID ignored
    bus.command({0x04});
    EXPECT_EQ(bus.status(), 0x03);  // WRDI ignored

    // One RDSR held selected keeps reporting the status; it changes when the erase ends.
    bus.select();
    bus.write({0x05});
    uint8_t s = bus.read();
    int polls = 0;
    while ((s & 1) && polls < 100000) {
        bus.wait_ns(NS_PER_MS / 10);
        s = bus.read();
        ++polls;
    }
    bus.deselect();
    EXPECT_EQ(s, 0x00);
    EXPECT_GE(bus.now(), erase.end_ns);
    EXPECT_LT(bus.now(), erase.end_ns + NS_PER_MS);

    auto mem = chip.memory();
    auto orig = pattern(chip.size());
    for (uint32_t a : {0x0FFFFu, 0x20000u}) EXPECT_EQ(mem[a], orig[a]) << a;
    for (uint32_t a : {0x10000u, 0x18000u, 0x1FFFFu}) EXPECT_EQ(mem[a], 0xFF) << a;
}

INSTANTIATE_TEST_SUITE_P(Chips, Flash, ::testing::Values(ChipKind::le25fw203, ChipKind::m45pe20),
                         [](const auto& info) {
                             return std::string(emu::chip_kind_name(info.param));
                         });

// Each part as its data sheet gives it: identification, size, and which erase
// instructions it has and how much each erases; the instructions it lacks are ignored.
TEST(FlashParts, IdentificationSizeAndEraseInstructions) {
    struct Erase {
        uint8_t code;
        uint32_t size;  // 0: the whole chip
    };
    const std::vector<Erase> m45 = {
        {0xD8, 0x10000}, {0xDB, 0x100}, {0xC7, 1}, {0x60, 1}, {0x20, 1}};
    const std::vector<Erase> le25 = {{0xD8, 0x10000}, {0xC7, 0}, {0x60, 1}, {0xDB, 1}, {0x20, 1}};
    const std::vector<Erase> mx05 = {{0x20, 0x1000}, {0x52, 0x10000}, {0xD8, 0x10000},
                                     {0x60, 0},      {0xC7, 0},       {0xDB, 1}};
    struct Case {
        ChipKind kind;
        uint32_t id;
        uint32_t size;
        std::vector<Erase> erases;  // size 1: not an instruction of the part
    } cases[] = {
        {ChipKind::le25fw203, 0x621600, 0x40000, le25},
        {ChipKind::le25fw403a, 0x621100, 0x80000, le25},
        {ChipKind::m45pe20, 0x204012, 0x40000, m45},
        {ChipKind::m45pe40, 0x204013, 0x80000, m45},
        {ChipKind::m45pe80, 0x204014, 0x100000, m45},
        {ChipKind::mx25l2005, 0xC22012, 0x40000, mx05},
        {ChipKind::mx25l4005, 0xC22013, 0x80000, mx05},
        {ChipKind::mx25l8005, 0xC22014, 0x100000, mx05},
        {ChipKind::mx25l6445e,
         0xC22017,
         0x800000,
         {{0x20, 0x1000}, {0x52, 0x8000}, {0xD8, 0x10000}, {0x60, 0}, {0xC7, 0}, {0xDB, 1}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(chip_kind_name(c.kind));
        SaveChip chip(c.kind);
        BusMaster bus(chip);
        ASSERT_EQ(chip.size(), c.size);
        auto id = bus.query({0x9F}, 3);
        EXPECT_EQ(uint32_t(id[0]) << 16 | id[1] << 8 | id[2], c.id);
        for (const Erase& e : c.erases) {
            SCOPED_TRACE(int(e.code));
            const std::vector<uint8_t> zeros(c.size, 0x00);
            chip.fill(zeros);
            chip.clear_cycles();
            uint32_t at = c.size / 2 + 0x1234;  // inside the unit erased
            bus.command({0x06});
            if (e.size == 0)
                bus.command({e.code});
            else
                bus.command({e.code, uint8_t(at >> 16), uint8_t(at >> 8), uint8_t(at)});
            if (e.size == 1) {
                EXPECT_TRUE(chip.cycles().empty());
                EXPECT_EQ(bus.status(), 0x02);  // not taken: the latch is still set
                continue;
            }
            while (bus.status() & 1) bus.wait_ns(10 * NS_PER_MS);
            const std::vector<uint8_t>& mem = chip.memory();
            uint32_t first = e.size == 0 ? 0 : at & ~(e.size - 1),
                     end = e.size == 0 ? c.size : first + e.size;
            EXPECT_EQ(std::count(mem.begin() + first, mem.begin() + end, 0xFF), end - first);
            EXPECT_EQ(std::count(mem.begin(), mem.end(), 0xFF), end - first);
        }
    }
}

TEST(FlashParts, ChipEraseNeedsExactFraming) {
    SaveChip chip(ChipKind::le25fw203);
    BusMaster bus(chip);
    chip.fill(pattern(chip.size()));
    bus.command({0x06});
    bus.command({0xC7, 0x00});  // an extra byte: rejected
    EXPECT_TRUE(chip.cycles().empty());
    bus.command({0xC7});
    while (bus.status() & 1) bus.wait_ns(NS_PER_MS);
    ASSERT_EQ(chip.cycles().size(), 1u);
    EXPECT_EQ(chip.cycles()[0].kind, ChipCycle::Kind::chip_erase);
    EXPECT_EQ(chip.memory(), std::vector<uint8_t>(chip.size(), 0xFF));
}

}  // namespace
