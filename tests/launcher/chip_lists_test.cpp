// The README's table of supported parts and the two man pages list the chips of the
// chip table; they are static text, so this keeps them in step with it.
#include "chips/chip_table.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::string text_of(const std::string& name) {
    std::ifstream in(std::string(PELKAT_SOURCE_DIR) + "/" + name);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// "25 ms", "0.5 s": seconds from half a second on.
std::string time_text(uint64_t ns) {
    char text[32];
    if (ns >= 500000000)
        std::snprintf(text, sizeof text, "%g s", double(ns) / 1e9);
    else
        std::snprintf(text, sizeof text, "%g ms", double(ns) / 1e6);
    return text;
}

// "1.5 / 2.5 ms", "25 ms / 0.5 s".
std::string range_text(const emu::Duration& d) {
    std::string typ = time_text(d.typ_ns), max = time_text(d.max_ns);
    size_t unit = typ.rfind(' ');
    if (typ.substr(unit) == max.substr(max.rfind(' '))) typ.erase(unit);
    return typ + " / " + max;
}

TEST(ChipLists, TheReadmeAndTheManPagesNameEveryChipOfTheTable) {
    const std::string readme = text_of("README.md");
    const std::string emu_page = text_of("packaging/pelkat-emu.1.in");
    const std::string tool_page = text_of("packaging/pelkat.1.in");
    size_t section = readme.find("### Supported parts");
    ASSERT_NE(section, std::string::npos);
    const std::string table =
        readme.substr(section, readme.find("\n\n", readme.find("\n|", section)) - section);

    int chips = 0;
    for (const emu::ChipInfo& chip : emu::chip_table()) {
        SCOPED_TRACE(chip.part);
        ++chips;
        const std::string part = chip.part, vendor = chip.vendor, name = chip.name,
                          size = emu::size_text(chip.size);
        size_t at = table.find("\n| " + part + " | " + vendor + " |");
        ASSERT_NE(at, std::string::npos);
        const std::string row = table.substr(at + 1, table.find('\n', at + 1) - at - 1) + "\n";
        const emu::EraseInstruction* sector = emu::erase_instruction(chip, 0xD8);
        std::vector<std::string> cells = {
            size, "`" + name + "`" + (chip.infrared ? ", `ir-" + name + "`" : ""),
            std::to_string(chip.page) + " B", range_text(chip.program),
            sector ? range_text(sector->time) : "-"};
        if (chip.flash) {
            char id[32];
            std::snprintf(id, sizeof id, "identification %06X", chip.id);
            cells.push_back(id);
        }
        for (const std::string& cell : cells) {
            EXPECT_NE(row.find("| " + cell + " |"), std::string::npos) << cell << "\n" << row;
        }

        const std::string kind = chip.flash ? "FLASH" : "EEPROM";
        EXPECT_NE(emu_page.find(".B " + name + "\n" + vendor + " " + part + ", " + kind + ", " +
                                size + "\n"),
                  std::string::npos);
        if (chip.infrared) {
            EXPECT_NE(emu_page.find(".B ir\\-" + name + "\n" + part +
                                    " behind an infrared transceiver, " + size),
                      std::string::npos);
        }
        EXPECT_NE(
            tool_page.find(".B " + part + "\n" + vendor + ", serial " + kind + ", " + size + "\n"),
            std::string::npos);
    }
    int rows = 0;
    for (size_t at = table.find("\n| "); at != std::string::npos; at = table.find("\n| ", at + 1))
        ++rows;
    EXPECT_EQ(rows - 1, chips) << "rows besides the header";
}

}  // namespace
