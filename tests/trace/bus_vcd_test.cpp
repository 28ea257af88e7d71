#include "trace/bus_vcd.h"
#include "chips/bus_master.h"
#include "chips/save_chip.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <fstream>
#include <map>
#include <sstream>

namespace {

struct Change {
    uint64_t time;
    std::string signal;
    int level;
};

// A strict reader for the subset of VCD the trace uses: header sections, scalar value
// changes and time stamps that never go backwards.
std::vector<Change> parse_vcd(const std::string& path, std::string& timescale) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    std::map<std::string, std::string> names;
    std::vector<Change> changes;
    std::string token;
    bool header = true;
    uint64_t time = 0;
    bool have_time = false;
    while (text >> token) {
        if (token == "$var") {
            std::string type, width, code, name, end;
            text >> type >> width >> code >> name >> end;
            EXPECT_EQ(type, "wire");
            EXPECT_EQ(width, "1");
            EXPECT_EQ(end, "$end");
            names[code] = name;
        } else if (token == "$timescale") {
            text >> timescale;
            text >> token;
            EXPECT_EQ(token, "$end");
        } else if (token == "$enddefinitions") {
            text >> token;
            header = false;
        } else if (header || token == "$dumpvars" || token == "$end") {
            continue;
        } else if (token[0] == '#') {
            uint64_t t = std::stoull(token.substr(1));
            EXPECT_TRUE(!have_time || t > time) << "time " << t << " after " << time;
            time = t;
            have_time = true;
        } else {
            EXPECT_TRUE(token[0] == '0' || token[0] == '1') << token;
            std::string code = token.substr(1);
            EXPECT_TRUE(names.count(code)) << "undeclared " << code;
            EXPECT_TRUE(have_time);
            changes.push_back({time, names[code], token[0] - '0'});
        }
    }
    EXPECT_FALSE(header) << "no $enddefinitions";
    return changes;
}

TEST(BusVcd, RecordsEveryLineSoThatSpiDecodesFromTheDump) {
    std::string path = ::testing::TempDir() + "pelkat_bus_" + std::to_string(getpid()) + ".vcd";
    emu::SaveChip chip(emu::ChipKind::le25fw203);
    {
        emu::BusVcdTrace trace(&chip, path);
        emu_test::BusMaster bus(trace);
        bus.query({0x9F}, 3);
        bus.command({0x06});
        ASSERT_TRUE(trace.flush());
    }
    EXPECT_EQ(chip.status(0), 0x02);  // the chip behind the trace saw the commands

    std::string timescale;
    auto changes = parse_vcd(path, timescale);
    EXPECT_EQ(timescale, "1ns");

    // Replay the dump as a logic analyser's SPI decoder would: mode 0, MSB first.
    std::map<std::string, int> level;
    std::vector<std::vector<uint8_t>> mosi, miso;
    int bits = 0;
    for (size_t i = 0; i < changes.size(); ++i) {
        // Apply every change of one time stamp before looking at the edges.
        std::map<std::string, int> before = level;
        uint64_t t = changes[i].time;
        for (; i < changes.size() && changes[i].time == t; ++i)
            level[changes[i].signal] = changes[i].level;
        --i;
        if (before.count("select") && before["select"] == 1 && level["select"] == 0) {
            mosi.emplace_back();
            miso.emplace_back();
            bits = 0;
        }
        if (level["select"] == 0 && before["clock"] == 0 && level["clock"] == 1) {
            if (bits++ % 8 == 0) {
                mosi.back().push_back(0);
                miso.back().push_back(0);
            }
            mosi.back().back() = uint8_t(mosi.back().back() << 1 | level["data_out"]);
            miso.back().back() = uint8_t(miso.back().back() << 1 | level["data_in"]);
        }
    }
    ASSERT_EQ(mosi.size(), 2u);
    EXPECT_EQ(mosi[0][0], 0x9F);
    EXPECT_EQ(miso[0], (std::vector<uint8_t>{0xFF, 0x62, 0x16, 0x00}));
    EXPECT_EQ(mosi[1], std::vector<uint8_t>{0x06});
    std::remove(path.c_str());
}

TEST(BusVcd, UnwritablePathIsAClearError) {
    try {
        emu::BusVcdTrace trace(nullptr, "/nonexistent-dir/bus.vcd");
        FAIL() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("/nonexistent-dir/bus.vcd"), std::string::npos);
    }
}

}  // namespace
