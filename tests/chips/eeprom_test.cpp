#include "bus_master.h"
#include "chips/save_chip.h"

#include <gtest/gtest.h>

using namespace emu;
using namespace emu_test;

namespace {

struct Geometry {
    ChipKind kind;
    uint32_t size;
    uint32_t page;
};

class Eeprom : public ::testing::TestWithParam<Geometry> {
protected:
    SaveChip chip{GetParam().kind};
    BusMaster bus{chip};

    // Instruction and address bytes as the host frames them for this chip.
    std::vector<uint8_t> header(uint8_t instruction, uint32_t address) {
        if (GetParam().kind == ChipKind::m95040)
            return {uint8_t(instruction | ((address >> 5) & 0x08)), uint8_t(address)};
        return {instruction, uint8_t(address >> 8), uint8_t(address)};
    }
    std::vector<uint8_t> read(uint32_t address, size_t n) {
        bus.select();
        bus.write(header(0x03, address));
        auto out = bus.read(n);
        bus.deselect();
        return out;
    }
    void write(uint32_t address, const std::vector<uint8_t>& data, bool enable = true) {
        if (enable) bus.command({0x06});
        bus.select();
        bus.write(header(0x02, address));
        bus.write(data);
        bus.deselect();
    }
};

TEST_P(Eeprom, ReadWrapsAtTheChipSizeAndRdidIsNotAnswered) {
    std::vector<uint8_t> contents(chip.size());
    for (size_t i = 0; i < contents.size(); ++i) contents[i] = uint8_t(i * 7 + (i >> 8));
    chip.fill(contents);
    uint32_t size = GetParam().size;
    auto got = read(size - 2, 4);
    EXPECT_EQ(got, (std::vector<uint8_t>{contents[size - 2], contents[size - 1], contents[0],
                                         contents[1]}));
    EXPECT_EQ(read(0, size), contents);
    // Addresses beyond the chip read the byte at the address modulo its size.
    if (size < 0x10000) {
        EXPECT_EQ(read(size + 0x155, 1)[0], contents[0x155]);
    }
    EXPECT_EQ(read(0x1A5, 1)[0], contents[0x1A5]);  // M95040: bit 8 travels in the instruction
    EXPECT_EQ(bus.undriven_bits(), 0);
    EXPECT_EQ(bus.query({0x9F}, 3), std::vector<uint8_t>(3, 0xFF));
    EXPECT_EQ(bus.undriven_bits(), 24);
}

TEST_P(Eeprom, WriteNeedsTheLatchWrapsInThePageAndTakesAWriteCycle) {
    uint32_t page = GetParam().page;
    uint32_t base = GetParam().size - page;  // the last page: exercises address bit 8 on the M95040
    write(base + 1, {0x11}, false);
    EXPECT_TRUE(chip.cycles().empty());

    // page + 1 bytes starting at offset page - 2: the writes wrap to the page start and the
    // last byte replaces the first one written at its place.
    std::vector<uint8_t> data(page + 1);
    for (uint32_t i = 0; i < data.size(); ++i) data[i] = uint8_t(0x40 + i);
    write(base + page - 2, data);
    ASSERT_EQ(chip.cycles().size(), 1u);
    const ChipCycle c = chip.cycles()[0];
    EXPECT_EQ(c.kind, ChipCycle::Kind::eeprom_write);
    EXPECT_EQ(c.address, base + page - 2);
    EXPECT_EQ(c.count, page + 1);
    EXPECT_EQ(c.end_ns - c.start_ns, 5 * NS_PER_MS);  // tW, the data sheets' "within 5 ms"

    // Busy: the read is ignored and status shows WIP with WEL still set.
    EXPECT_EQ(bus.status(), 0x03);
    int before = bus.undriven_bits();
    read(base, 1);
    EXPECT_EQ(bus.undriven_bits() - before, 8);
    bus.command({0x06});
    bus.wait_ns(5 * NS_PER_MS);
    EXPECT_EQ(bus.status(), 0x00);  // WEL cleared at the end, the WREN while busy was ignored

    auto got = read(base, page);
    for (uint32_t i = 0; i < page; ++i) {
        // Byte j lands at offset (page - 2 + j) % page; the last one (j = page) lands on
        // the first one's place.
        uint32_t k = i == page - 2 ? page : (i + 2) % page;
        EXPECT_EQ(got[i], data[k]) << "offset " << i;
    }
    // An EEPROM write sets bits as well as clearing them.
    write(base, {0xFF});
    bus.wait_ns(5 * NS_PER_MS);
    EXPECT_EQ(read(base, 1)[0], 0xFF);
}

INSTANTIATE_TEST_SUITE_P(Chips, Eeprom,
                         ::testing::Values(Geometry{ChipKind::m95040, 0x200, 16},
                                           Geometry{ChipKind::m95640, 0x2000, 32},
                                           Geometry{ChipKind::m95512, 0x10000, 128}),
                         [](const auto& info) {
                             return std::string(emu::chip_kind_name(info.param.kind));
                         });

}  // namespace
