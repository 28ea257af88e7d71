// Write runs on chips as slow as their data sheets allow and slower: each one either
// passes or stops with its message before the next write, and the backup is complete.
#include <gtest/gtest.h>

#include <string>

#include "emu_run.h"

namespace {

const std::string NOT_ENDED = "Error: 書き込みが終わりませんでした(adr=";

struct Case {
    const char* chip;
    size_t size;
    std::string options;
    const char* stop;  // nullptr: the run passes; "": it may stop; else it stops there
};

TEST(WriteTiming, SlowChipsPassOrStopBeforeTheNextWrite) {
    const Case cases[] = {
        // Data-sheet maxima; the M45PE20's 5 ms page program outlasts the firmware's pause.
        {"m95040", 0x200, "--timing max", nullptr},
        {"m45pe20", 0x40000, "--timing max", nullptr},
        // 10 times the maximum (LE25FW: 2.5 ms, M95xxx: 5 ms), then 100 and 1000 times.
        {"le25fw203", 0x40000, "--fault slow-program=25000", nullptr},
        {"m95040", 0x200, "--fault slow-program=50000", nullptr},
        {"m95040", 0x200, "--fault slow-program=500000", ""},
        // Every cycle outlasts the firmware's wait: the page sent behind it is sent again.
        {"m95640", 0x2000, "--fault slow-program=100000", nullptr},
        // A page written by the firmware is named by its first byte.
        {"m95040", 0x200, "--fault slow-program=5000000", "0000"},
        // The previous release's firmware: byte by byte, the first byte not written.
        {"m95040", 0x200, "--fault slow-program=5000000 " + previous_firmware_option(), "0001"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.chip + (" " + c.options));
        ScratchFolder folder;
        const Bytes cart = pattern(c.size, 1), image = pattern(c.size, 2);
        write_file(folder.file("cart.bin"), cart);
        write_file(folder.file("game.sav"), image);
        EmuResult r = folder.run(std::string("--chip ") + c.chip + " --cart cart.bin " + c.options +
                                 " -- game.sav");
        EXPECT_EQ(read_file(folder.file("backup.sav")), cart) << "the backup is complete";
        const std::string last = r.last_message();
        if (last.rfind(NOT_ENDED, 0) == 0) {
            EXPECT_NE(c.stop, nullptr) << last;
            if (c.stop && *c.stop) {
                EXPECT_EQ(last, NOT_ENDED + c.stop + ")");
            }
            EXPECT_EQ(r.exit_code, 1);
        } else {
            EXPECT_TRUE(c.stop == nullptr || !*c.stop) << last;
            EXPECT_EQ(last, "終了しました。") << r.out;
            EXPECT_EQ(r.exit_code, 0);
            EXPECT_EQ(read_file(folder.file("cart.bin")), image);
        }
    }
}

}  // namespace
