// The built firmware image: size, vectors, autovector table, descriptor block, filling
// and internal RAM use, checked against the linker's own outputs.
#include "firmware_build_files.h"
#include "firmware_image.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

const fwtest::HexImage& hex() {
    static const fwtest::HexImage image = fwtest::read_hex(FIRMWARE_IHX);
    return image;
}

const std::map<std::string, unsigned>& symbols() {
    static const auto map = fwtest::read_code_symbols(FIRMWARE_MAP);
    return map;
}

unsigned symbol(const std::string& name) {
    auto it = symbols().find(name);
    if (it == symbols().end()) {
        ADD_FAILURE() << "no symbol " << name << " in the link map";
        return 0;
    }
    return it->second;
}

// Target of the long jump (0x02 hi lo) at address a, or ~0u when there is none.
unsigned ljmp_target(unsigned a) {
    if (firmware_image[a] != 0x02) return ~0u;
    return static_cast<unsigned>(firmware_image[a + 1] << 8 | firmware_image[a + 2]);
}

std::vector<uint8_t> expected_descriptor_block() {
    std::vector<uint8_t> b = {0x12, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x40, 0x47,
                              0x05, 0x02, 0x10, 0x01, 0x00, 0x01, 0x02, 0x00, 0x01,
                              0x09, 0x02, 0x74, 0x00, 0x01, 0x01, 0x00, 0xA0, 0x00,
                              0x09, 0x04, 0x00, 0x00, 0x0E, 0xFF, 0x00, 0x00, 0x00};
    auto endpoint = [&](uint8_t address, uint8_t attributes, uint8_t interval) {
        b.insert(b.end(), {0x07, 0x05, address, attributes, 0x40, 0x00, interval});
    };
    for (uint8_t n = 1; n <= 7; ++n) endpoint(n, 0x02, 0);
    endpoint(0x81, 0x03, 1);
    for (uint8_t n = 2; n <= 7; ++n) endpoint(static_cast<uint8_t>(0x80 | n), 0x02, 0);
    b.insert(b.end(), {0x04, 0x03, 0x09, 0x04});
    b.insert(b.end(), {0x0A, 0x03, 'Z', 0, 'E', 0, 'M', 0, 'A', 0});
    b.insert(b.end(), {0x0A, 0x03, 'Z', 0, '1', 0, '0', 0, '0', 0});
    b.insert(b.end(), {0x00, 0x00});
    return b;
}

TEST(FirmwareImage, HoldsTheLinkedFirmwareThenTheFilling) {
    static_assert(sizeof(firmware_image) == 4096, "the image is 4096 bytes");
    const auto& h = hex();
    ASSERT_GT(h.end, 0x0158u);
    // Room to spare: at least 256 bytes of the 4096 stay free.
    EXPECT_LE(h.end, 4096u - 256u) << "firmware proper: " << h.end << " bytes";
    for (unsigned a = h.end; a < 0x10000; ++a)
        ASSERT_EQ(h.bytes[a], -1) << "linked byte beyond the firmware at " << a;
    for (unsigned a = 0; a < h.end; ++a) {
        if (h.bytes[a] >= 0) {
            ASSERT_EQ(firmware_image[a], h.bytes[a]) << "at address " << a;
        }
    }
    for (unsigned a = h.end; a < 4096; ++a)
        ASSERT_EQ(firmware_image[a], 0xAA) << "filling at address " << a;
    RecordProperty("firmware_bytes", static_cast<int>(h.end));
}

TEST(FirmwareImage, VectorsLeadToStartupResumeAndAutovectorTable) {
    const unsigned startup = ljmp_target(0x0000);
    ASSERT_NE(startup, ~0u);
    EXPECT_EQ(ljmp_target(0x0033), symbol("_resume_isr"));
    const unsigned table = ljmp_target(0x0043);
    ASSERT_NE(table, ~0u);
    EXPECT_EQ(table & 0xFF, 0u) << "the chip replaces the low byte at 0x0045 with the slot offset";

    // Start-up: clear 0x7F down to 0x01 through R0, SP to the last variable, enter the
    // framework.
    const uint8_t clear[] = {0x78, 0x7F, 0xE4, 0xF6, 0xD8, 0xFD, 0x75, 0x81};
    for (unsigned i = 0; i < sizeof clear; ++i)
        ASSERT_EQ(firmware_image[startup + i], clear[i]) << "start-up byte " << i;
    const fwtest::RamUse ram = fwtest::read_ram_use(FIRMWARE_MEM);
    EXPECT_EQ(firmware_image[startup + 8], ram.stack_start - 1);
    EXPECT_EQ(ljmp_target(startup + 9), symbol("_firmware_main"));
}

TEST(FirmwareImage, AutovectorSlotsJumpToTheirHandlers) {
    const unsigned table = ljmp_target(0x0043);
    ASSERT_LT(table + 22 * 4, 4096u);
    const unsigned idle = symbol("_idle_endpoint_isr");
    const unsigned handlers[22] = {symbol("_sudav_isr"),
                                   symbol("_sof_isr"),
                                   symbol("_sutok_isr"),
                                   symbol("_suspend_isr"),
                                   symbol("_usb_reset_isr"),
                                   0 /* reserved */,
                                   idle,
                                   idle,
                                   symbol("_ep1_in_isr"),
                                   symbol("_ep1_out_isr"),
                                   idle,
                                   idle,
                                   idle,
                                   idle,
                                   idle,
                                   idle,
                                   idle,
                                   idle,
                                   idle,
                                   idle,
                                   idle,
                                   idle};
    for (unsigned slot = 0; slot < 22; ++slot) {
        const unsigned a = table + 4 * slot;
        SCOPED_TRACE("slot offset " + std::to_string(4 * slot));
        const unsigned target = ljmp_target(a);
        ASSERT_NE(target, ~0u);
        EXPECT_EQ(firmware_image[a + 3], 0x00);
        if (slot == 5) {
            EXPECT_EQ(firmware_image[target], 0x32) << "reserved slot: a bare RETI";
        } else {
            EXPECT_EQ(target, handlers[slot]);
        }
    }
}

TEST(FirmwareImage, DescriptorBlockByteForByte) {
    const std::vector<uint8_t> expected = expected_descriptor_block();
    ASSERT_EQ(expected.size(), 160u);
    const unsigned block = symbol("_device_descriptor");
    ASSERT_LE(block + expected.size(), 4096u);
    for (size_t i = 0; i < expected.size(); ++i)
        ASSERT_EQ(firmware_image[block + i], expected[i]) << "descriptor byte " << i;
    EXPECT_EQ(symbol("_config_descriptor"), block + 18);
    EXPECT_EQ(symbol("_string_descriptor0"), block + 18 + 116);
}

TEST(FirmwareImage, VariablesStayInLowerRamBelowTheStack) {
    const fwtest::RamUse ram = fwtest::read_ram_use(FIRMWARE_MEM);
    ASSERT_EQ(ram.rows.size(), 16u);
    ASSERT_GT(ram.stack_start, 0x08u);
    EXPECT_LE(ram.stack_start, 0x80u);
    EXPECT_EQ(ram.external_ram, 0u);
    // Chart cells: "|x" per byte; '0' register bank 0, letters variables, 'S' stack.
    for (unsigned addr = 0; addr < 256; ++addr) {
        const std::string& row = ram.rows[addr / 16];
        ASSERT_GE(row.size(), 2 * (addr % 16) + 2);
        const char cell = row[2 * (addr % 16) + 1];
        SCOPED_TRACE("internal RAM address " + std::to_string(addr));
        if (addr < 8) {
            EXPECT_EQ(cell, '0') << "register bank 0 only";
        } else if (addr >= ram.stack_start) {
            EXPECT_TRUE(cell == 'S' || cell == ' ') << "a variable at or above the stack";
        } else {
            EXPECT_TRUE(cell != '1' && cell != '2' && cell != '3' && cell != 'I')
                << "other register banks or indirect-only data";
        }
    }
}

}  // namespace
