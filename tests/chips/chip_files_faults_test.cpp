#include "bus_master.h"
#include "chips/save_chip.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdio>
#include <fstream>
#include <iterator>

using namespace emu;
using namespace emu_test;

namespace {

std::string temp_path(const char* name) {
    return ::testing::TempDir() + "pelkat_chips_" + std::to_string(getpid()) + "_" + name;
}

std::vector<uint8_t> slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void spit(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

void program_page(BusMaster& bus, uint32_t address, std::initializer_list<uint8_t> data) {
    bus.command({0x06});
    bus.select();
    bus.write({0x02, uint8_t(address >> 16), uint8_t(address >> 8), uint8_t(address)});
    bus.write(data);
    bus.deselect();
}

TEST(ChipKinds, NamesSizesAndTheEmptySlot) {
    emu::ChipKind k;
    ASSERT_TRUE(emu::parse_chip_kind("m95640", k));
    EXPECT_EQ(k, ChipKind::m95640);
    EXPECT_EQ(emu::chip_size(k), 0x2000u);
    EXPECT_FALSE(emu::parse_chip_kind("M95640", k));
    EXPECT_FALSE(emu::parse_chip_kind("", k));
    EXPECT_THROW(SaveChip{ChipKind::none}, std::invalid_argument);

    auto none = emu::make_cartridge(ChipKind::none);
    BusMaster bus(*none);
    EXPECT_EQ(bus.query({0x9F}, 3), std::vector<uint8_t>(3, 0xFF));
    EXPECT_EQ(bus.query({0x03, 0, 0, 0}, 2), std::vector<uint8_t>(2, 0xFF));
    EXPECT_EQ(bus.undriven_bits(), 40);
}

TEST(ChipFiles, TheAttachedFileFollowsTheChipAtOnce) {
    std::string path = temp_path("cart.bin");
    std::remove(path.c_str());
    {
        SaveChip chip(ChipKind::m95040);
        chip.fill(std::vector<uint8_t>(0x200, 0x12));
        chip.attach_file(path);  // missing: a blank chip, and a blank file
        EXPECT_EQ(chip.memory(), std::vector<uint8_t>(0x200, 0xFF));
        EXPECT_EQ(slurp(path), std::vector<uint8_t>(0x200, 0xFF));
    }

    std::vector<uint8_t> contents(0x200);
    for (size_t i = 0; i < contents.size(); ++i) contents[i] = uint8_t(i ^ 0x5A);
    spit(path, contents);
    SaveChip chip(ChipKind::m95040);
    chip.attach_file(path);
    EXPECT_EQ(chip.memory(), contents);

    // A write reaches the file when its cycle ends, not before: while the chip is still
    // busy, the file holds the old byte, as the chip does.
    BusMaster bus(chip);
    bus.command({0x06});
    bus.command({0x02, 0x10, 0x00});
    EXPECT_EQ(slurp(path)[0x10], contents[0x10]);
    chip.finish();
    contents[0x10] = 0x00;
    EXPECT_EQ(slurp(path), contents);
    chip.fill(std::vector<uint8_t>(0x200, 0x33));
    EXPECT_EQ(slurp(path), std::vector<uint8_t>(0x200, 0x33));

    // Files of the wrong size, and files that cannot be written, are refused; the chip
    // stays as it was.
    std::string other = temp_path("other.bin");
    for (size_t n : {0x1FFu, 0x201u, 0u}) {
        spit(other, std::vector<uint8_t>(n, 0));
        try {
            chip.attach_file(other);
            ADD_FAILURE() << "size " << n << " accepted";
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find("m95040"), std::string::npos) << e.what();
        }
        EXPECT_EQ(slurp(other), std::vector<uint8_t>(n, 0));
    }
    EXPECT_THROW(chip.attach_file(temp_path("no_such_dir/cart.bin")), std::runtime_error);
    EXPECT_EQ(chip.memory(), std::vector<uint8_t>(0x200, 0x33));
    std::remove(other.c_str());
    std::remove(path.c_str());
}

TEST(ChipFaults, PulledCartridgeGoesSilentAndLosesTheCycleInFlight) {
    SaveChip chip(ChipKind::m45pe20);
    BusMaster bus(chip);
    program_page(bus, 0x40, {0x00});
    ASSERT_EQ(chip.cycles().size(), 1u);
    chip.pull_at(bus.now() + 1000);  // during the page program
    bus.wait_ns(5 * NS_PER_MS);
    EXPECT_EQ(bus.query({0x9F}, 3), std::vector<uint8_t>(3, 0xFF));
    EXPECT_EQ(bus.undriven_bits(), 24);
    program_page(bus, 0x80, {0x00});
    EXPECT_EQ(chip.cycles().size(), 1u);  // commands are ignored
    chip.finish();
    EXPECT_EQ(chip.memory()[0x40], 0xFF);
}

TEST(ChipFaults, StuckBitsNeverChangeOnProgramWriteOrErase) {
    SaveChip flash(ChipKind::le25fw203);
    BusMaster bus(flash);
    flash.add_stuck_bits(0x10001, 0x81);
    program_page(bus, 0x10000, {0x00, 0x00});
    bus.wait_ns(10 * NS_PER_MS);
    EXPECT_EQ(bus.status(), 0x00);
    EXPECT_EQ(flash.memory()[0x10000], 0x00);
    EXPECT_EQ(flash.memory()[0x10001], 0x81);
    bus.command({0x06});
    bus.command({0xD8, 0x01, 0x00, 0x00});
    flash.finish();
    EXPECT_EQ(flash.memory()[0x10000], 0xFF);
    EXPECT_EQ(flash.memory()[0x10001], 0xFF);  // 0x81 stayed 1, the rest erased back to 1
    EXPECT_THROW(flash.add_stuck_bits(0x40000, 1), std::invalid_argument);

    SaveChip eeprom(ChipKind::m95640);
    BusMaster ebus(eeprom);
    eeprom.add_stuck_bits(0x123, 0x0F);
    ebus.command({0x06});
    ebus.command({0x02, 0x01, 0x23, 0x00});
    eeprom.finish();
    EXPECT_EQ(eeprom.memory()[0x123], 0x0F);
}

TEST(ChipFaults, HangingEraseKeepsWriteInProgress) {
    SaveChip chip(ChipKind::m45pe20);
    chip.fill(std::vector<uint8_t>(chip.size(), 0x00));
    chip.set_erase_hang(true);
    BusMaster bus(chip);
    bus.command({0x06});
    bus.command({0xD8, 0, 0, 0});
    bus.wait_ns(3600000 * NS_PER_MS);
    EXPECT_EQ(bus.status() & 1, 1);
    chip.finish();
    EXPECT_EQ(chip.memory()[0], 0x00);
    // Page programs are not affected by the erase fault.
    SaveChip other(ChipKind::m45pe20);
    other.set_erase_hang(true);
    BusMaster obus(other);
    program_page(obus, 0, {0x12});
    obus.wait_ns(5 * NS_PER_MS);
    EXPECT_EQ(obus.status(), 0);
}

TEST(ChipFaults, SlowProgramAndStuckDataIn) {
    SaveChip chip(ChipKind::le25fw203);
    chip.set_program_time_us(40000);
    BusMaster bus(chip);
    program_page(bus, 0, {0x00});
    ASSERT_EQ(chip.cycles().size(), 1u);
    EXPECT_EQ(chip.cycles()[0].end_ns - chip.cycles()[0].start_ns, 40 * NS_PER_MS);
    bus.wait_ns(39 * NS_PER_MS);
    EXPECT_EQ(bus.status() & 1, 1);
    bus.wait_ns(1 * NS_PER_MS);
    EXPECT_EQ(bus.status() & 1, 0);

    for (int level : {0, 1}) {
        SaveChip inner(ChipKind::le25fw203);
        emu::StuckDataIn stuck(&inner, level);
        BusMaster sbus(stuck);
        EXPECT_EQ(sbus.query({0x9F}, 3), std::vector<uint8_t>(3, level ? 0xFF : 0x00));
        // The chip behind it still sees the bus.
        sbus.command({0x06});
        EXPECT_EQ(inner.status(sbus.now()), 0x02);
    }
    emu::StuckDataIn empty(nullptr, 0);
    EXPECT_EQ(empty.output(0), 0);
}

}  // namespace
