#include "launcher/demo_save.h"
#include "launcher/options.h"

#include <gtest/gtest.h>

#include <csignal>

#include <set>

using emu::ChipKind;
using emu_launcher::FaultSet;
using emu_launcher::Options;

namespace {

bool parse(std::vector<std::string> args, Options& o, std::string& error) {
    std::vector<char*> argv{const_cast<char*>("pelkat-emu")};
    for (auto& a : args) argv.push_back(&a[0]);
    return emu_launcher::parse_options(int(argv.size()), argv.data(), o, error);
}

TEST(LauncherOptions, OptionsAndToolArguments) {
    Options o;
    std::string error;
    ASSERT_TRUE(parse({"--chip", "m95640", "--cart=c.bin", "--stats", "--trace-bus", "b.vcd",
                       "--trace-usb=u.pcap", "--realtime", "--timing=max", "--", "-e", "--chip"},
                      o, error))
        << error;
    EXPECT_EQ(o.chip, ChipKind::m95640);
    EXPECT_EQ(o.cart, "c.bin");
    EXPECT_EQ(o.trace_bus, "b.vcd");
    EXPECT_EQ(o.trace_usb, "u.pcap");
    EXPECT_TRUE(o.stats && o.realtime);
    EXPECT_EQ(o.timing, emu::ChipTiming::maximum);
    EXPECT_EQ(o.tool_args, (std::vector<std::string>{"-e", "--chip"}));

    Options ir;
    ASSERT_TRUE(parse({"--chip=ir-m45pe80"}, ir, error)) << error;
    EXPECT_EQ(ir.chip, ChipKind::m45pe80);
    EXPECT_TRUE(ir.infrared);

    Options d;
    ASSERT_TRUE(parse({}, d, error));
    EXPECT_EQ(d.chip, ChipKind::le25fw203);
    EXPECT_FALSE(d.infrared);
    EXPECT_EQ(d.timing, emu::ChipTiming::typical);
    EXPECT_TRUE(d.tool_args.empty());

    for (std::vector<std::string> bad : std::vector<std::vector<std::string>>{
             {"--chip", "m95080"},
             {"--chip"},
             {"--cart="},
             {"--bogus"},
             {"game.sav"},
             {"--chip", "none", "--cart", "x"},
             {"--chip", "none", "--fault", "erase-hang"},
             {"--chip", "m95040", "--fault", "stuck-bits=0x200:1"},
             {"--timing", "fast"},
             {"--chip", "ir-m95040"},
             {"--chip", "ir-none"},
             {"--chip", "ir-"}}) {
        Options b;
        std::string message;
        EXPECT_FALSE(parse(bad, b, message)) << bad[0];
        EXPECT_FALSE(message.empty());
    }
}

TEST(LauncherOptions, EveryFaultSpelling) {
    FaultSet f;
    std::string error;
    for (const char* spec :
         {"usb-fail=12", "usb-fail-once=0x10", "no-return", "unplug=5", "data-in=0", "pull=250",
          "stuck-bits=0x1FF:0x81", "stuck-bits=16:2", "erase-hang", "slow-program=4000",
          "kill=0x20", "flaky=250", "drop-writes", "reinsert=100", "reinsert=0x10", "sigint=7",
          "sighup=9"})
        ASSERT_TRUE(emu_launcher::parse_fault(spec, f, error)) << spec << ": " << error;
    EXPECT_EQ(f.usb.fail_from, 12u);
    EXPECT_EQ(f.usb.fail_once, 16u);
    EXPECT_TRUE(f.usb.no_reattach);
    EXPECT_EQ(f.usb.vanish_after, 5u);
    EXPECT_FALSE(f.unplugged_from_start);
    EXPECT_EQ(f.data_in, 0);
    EXPECT_TRUE(f.pull);
    EXPECT_EQ(f.pull_ms, 250u);
    ASSERT_EQ(f.stuck_bits.size(), 2u);
    EXPECT_EQ(f.stuck_bits[0], std::make_pair(0x1FFu, uint8_t(0x81)));
    EXPECT_EQ(f.stuck_bits[1], std::make_pair(16u, uint8_t(2)));
    EXPECT_TRUE(f.erase_hang);
    EXPECT_EQ(f.program_us, 4000u);
    EXPECT_TRUE(f.kill);
    EXPECT_EQ(f.kill_ms, 32u);
    EXPECT_EQ(f.flaky_ppm, 250u);
    EXPECT_TRUE(f.drop_writes);
    EXPECT_EQ(f.reinsert_ms, std::vector<uint64_t>({100, 16}));
    ASSERT_EQ(f.signals.size(), 2u);
    EXPECT_EQ(f.signals[0].at_ms, 7u);
    EXPECT_EQ(f.signals[0].signal_number, SIGINT);
    EXPECT_EQ(f.signals[1].signal_number, SIGHUP);
    ASSERT_TRUE(emu_launcher::parse_fault("unplug=0", f, error));
    EXPECT_TRUE(f.unplugged_from_start);

    for (const char* spec : {"usb-fail=0",    "usb-fail=-1",    "usb-fail=",
                             "usb-fail",      "usb-fail=1x",    "data-in=2",
                             "pull=abc",      "kill",           "kill=-5",
                             "stuck-bits=5",  "stuck-bits=5:0", "stuck-bits=5:0x100",
                             "erase-hang=1",  "slow-program=0", "unplugged=1",
                             "no-return=yes", "usb-fail= 3",    "",
                             "flaky=0",       "flaky=1000001",  "drop-writes=1",
                             "reinsert",      "sigint=x",       "sigkill=5"}) {
        FaultSet g;
        std::string message;
        EXPECT_FALSE(emu_launcher::parse_fault(spec, g, message)) << spec;
        EXPECT_FALSE(message.empty()) << spec;
    }
}

TEST(LauncherDemoSave, EveryChipHoldsRecognisableData) {
    for (const emu::ChipInfo& chip : emu::chip_table()) {
        ChipKind k = chip.kind;
        auto m = emu_launcher::demo_save(k);
        ASSERT_EQ(m.size(), emu::chip_size(k));
        // The probes need 16 first bytes that are not all alike.
        std::set<uint8_t> first(m.begin(), m.begin() + 16);
        EXPECT_GT(first.size(), 4u) << emu::chip_kind_name(k);
        // The 64 KiB EEPROM must not look like a mirrored 8 KiB one.
        if (m.size() > 0x2000) {
            EXPECT_NE(std::vector<uint8_t>(m.begin(), m.begin() + 16),
                      std::vector<uint8_t>(m.begin() + 0x2000, m.begin() + 0x2010));
        }
        EXPECT_EQ(m.back(), 0xFF);
    }
    EXPECT_TRUE(emu_launcher::demo_save(ChipKind::none).empty());
}

}  // namespace
