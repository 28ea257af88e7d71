// The Linux pelkat, unchanged, over the system's libusb and the usbdevfs test bed, against
// the same run through pelkat-emu: exit code, standard output (the erase dots follow
// real time), the files left behind and the cartridge must be the same. A kernel driver
// holds the bare chip in every test bed run, so each run also detaches it. And lsusb
// shows the adapter before and after a run; a claim by another program is named.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <ostream>
#include <string>

#include "emu_run.h"
#include "ezusb/adapter.h"

namespace {

struct TestbedCase {
    const char* name;
    const char* options;  // pelkat-emu's, given to both
    uint32_t cart_size;   // 0: the demonstration save
    uint32_t input_size;  // 0: no input file
    const char* tool;     // the tool's arguments
};

// Every chip kind but the M95512: its read is 130 000 transfers, a minute through
// usbdevfs, on the code path of the M95640.
const TestbedCase RUNS[] = {
    {"ReadLe25fw203", "--chip le25fw203", 0, 0, ""},
    {"ReadM45pe20", "--chip m45pe20", 0, 0, ""},
    {"ReadM95040", "--chip m95040", 0, 0, ""},
    {"ReadM95640", "--chip m95640", 0, 0, ""},
    {"WriteM95040", "--chip m95040", 0x200, 0x200, "game.sav"},
    {"EraseM95040", "--chip m95040", 0x200, 0, "-e"},
    {"WriteFlash", "--chip le25fw203", 0x40000, 0x40000, "game.sav"},
    {"UsbFails", "--chip m95040 --fault usb-fail=200", 0, 0, ""},
    {"Unplugged", "--chip m95040 --fault unplug=300", 0, 0, ""},
};

void PrintTo(const TestbedCase& run, std::ostream* out) { *out << run.name; }

std::string without_repeated_dots(std::string text) {
    text.erase(
        std::unique(text.begin(), text.end(), [](char a, char b) { return a == '.' && b == '.'; }),
        text.end());
    return text;
}

void prepare(const ScratchFolder& folder, const TestbedCase& run) {
    if (run.cart_size) write_file(folder.file("cart.bin"), pattern(run.cart_size, 7));
    if (run.input_size) write_file(folder.file("game.sav"), pattern(run.input_size, 11));
}

std::string cart_option(const TestbedCase& run) { return run.cart_size ? " --cart cart.bin" : ""; }

class TestbedRun : public ::testing::TestWithParam<TestbedCase> {};

TEST_P(TestbedRun, EqualsTheEmulatedDriver) {
    const TestbedCase& run = GetParam();
    ScratchFolder emulated, bed;
    prepare(emulated, run);
    prepare(bed, run);
    EmuResult expected = emulated.run(run.options + cart_option(run) + " -- " + run.tool);
    std::string log = bed.path() + ".usbfs.log";
    EmuResult actual = bed.run_other(PELKAT_TESTBED, std::string(run.options) + cart_option(run) +
                                                         " --kernel-driver usbtest --log '" + log +
                                                         "' -- '" PELKAT "' " + run.tool);
    EXPECT_EQ(actual.exit_code, expected.exit_code) << actual.err;
    EXPECT_EQ(without_repeated_dots(actual.out), without_repeated_dots(expected.out));
    ASSERT_EQ(bed.entries(), emulated.entries());
    for (const std::string& name : bed.entries())
        EXPECT_TRUE(read_file(bed.file(name)) == read_file(emulated.file(name))) << name;
    Bytes usbfs = read_file(log);
    std::remove(log.c_str());
    std::string detached =
        "/dev/bus/usb/001/002 DISCONNECT_CLAIM 0 flags 2 usbfs (usbtest let go) = 0";
    EXPECT_NE(std::string(usbfs.begin(), usbfs.end()).find(detached), std::string::npos);
    if (HasFailure()) bed.keep();
}

INSTANTIATE_TEST_SUITE_P(Runs, TestbedRun, ::testing::ValuesIn(RUNS),
                         [](const ::testing::TestParamInfo<TestbedCase>& info) {
                             return info.param.name;
                         });

std::string bare_identity() {
    emu::Adapter adapter;
    adapter.plug();
    const auto& d = adapter.device_descriptor();
    char text[16];
    std::snprintf(text, sizeof text, "0547:%04x", d[10] | d[11] << 8);
    return text;
}

TEST(Testbed, LsusbShowsTheBareChipThenTheAdapterWithItsEndpoints) {
    ScratchFolder folder;
    EmuResult r = folder.run_other(
        PELKAT_TESTBED, "--chip m95040 -- sh -c \"lsusb -v -d 0547: && echo RUN && '" PELKAT
                        "' >/dev/null && echo DONE && lsusb -v -d 0547:\"");
    ASSERT_EQ(r.exit_code, 0) << r.err;
    size_t run = r.out.find("RUN"), done = r.out.find("DONE");
    ASSERT_NE(done, std::string::npos) << r.out;
    std::string before = r.out.substr(0, run), after = r.out.substr(done);
    EXPECT_NE(before.find("Bus 001 Device 002: ID " + bare_identity()), std::string::npos)
        << before;
    EXPECT_NE(after.find("Bus 001 Device 003: ID 0547:1002"), std::string::npos) << after;
    size_t endpoints = 0;
    for (size_t at = after.find("Endpoint Descriptor:"); at != std::string::npos;
         at = after.find("Endpoint Descriptor:", at + 1)) {
        ++endpoints;
    }
    EXPECT_EQ(endpoints, 14u) << after;
}

// Another program holds the adapter: the run ends as without one, and standard error
// says which device it found and why it could not use it.
TEST(Testbed, ABusyAdapterIsNamed) {
    ScratchFolder emulated, bed;
    EmuResult expected = emulated.run("--fault unplug=0");
    EmuResult actual = bed.run_other(PELKAT_TESTBED, "--busy -- '" PELKAT "'");
    EXPECT_EQ(actual.exit_code, expected.exit_code);
    EXPECT_EQ(actual.out, expected.out);
    EXPECT_EQ(actual.err, "pelkat: USB device 001/002 (" + bare_identity() +
                              ") cannot be used: LIBUSB_ERROR_BUSY; another program is using it\n");
}

}  // namespace
