// pelkat-emu as a process: its own options and errors, the cartridge file, the traces.
#include "launcher/demo_save.h"

#include <gtest/gtest.h>

#include <fstream>

#include "emu_run.h"

namespace {

class Launcher : public ::testing::Test {
protected:
    ScratchFolder folder;
    std::string out, err;

    // Runs in the test's folder with no input (the tool's key wait then returns at once).
    int run(const std::string& args) {
        EmuResult result = folder.run(args);
        out = result.out;
        err = result.err;
        return result.exit_code;
    }
};

TEST_F(Launcher, HelpAndUsageErrors) {
    EXPECT_EQ(run("--help"), 0);
    for (const char* word : {"--chip",
                             "--cart",
                             "--adapter-firmware",
                             "--trace-bus",
                             "--trace-usb",
                             "--stats",
                             "--realtime",
                             "usb-fail=N",
                             "usb-fail-once=N",
                             "no-return",
                             "unplug=N",
                             "data-in=0|1",
                             "pull=MS",
                             "stuck-bits=ADDR:MASK",
                             "erase-hang",
                             "slow-program=US",
                             "kill=MS",
                             "flaky=PPM",
                             "drop-writes",
                             "reinsert=MS",
                             "sigint=MS",
                             "sigterm=MS",
                             "sighup=MS",
                             "--seed N"})
        EXPECT_NE(out.find(word), std::string::npos) << word;

    EXPECT_EQ(run("--fault usb-fail=x"), 2);
    EXPECT_EQ(out, "");
    EXPECT_NE(err.find("pelkat-emu: bad fault 'usb-fail=x'"), std::string::npos) << err;
    EXPECT_EQ(run("--chip flash"), 2);
    EXPECT_NE(err.find("unknown chip 'flash'"), std::string::npos) << err;

    // A cartridge file of the wrong size is refused and left alone.
    write_file(folder.file("cart.bin"), std::vector<uint8_t>(100, 0x42));
    EXPECT_EQ(run("--chip m95040 --cart cart.bin"), 2);
    EXPECT_EQ(out, "");
    EXPECT_NE(err.find("cart.bin"), std::string::npos) << err;
    EXPECT_EQ(read_file(folder.file("cart.bin")), std::vector<uint8_t>(100, 0x42));
    // So is a trace that cannot be created, before anything runs.
    EXPECT_EQ(run("--trace-usb no/such/dir.pcap"), 2);
    EXPECT_EQ(out, "");
}

TEST_F(Launcher, ReadsTheDemoSaveWithTracesAndStatistics) {
    EXPECT_EQ(run("--chip m95040 --stats --trace-bus bus.vcd --trace-usb usb.pcap"), 0)
        << out << err;
    EXPECT_EQ(read_file(folder.file("savedata.sav")),
              emu_launcher::demo_save(emu::ChipKind::m95040));
    EXPECT_NE(err.find("modeled hardware time"), std::string::npos) << err;
    EXPECT_NE(err.find("EP1 OUT"), std::string::npos) << err;
    EXPECT_EQ(out.find("pelkat-emu"), std::string::npos);  // standard output is the tool's alone
    auto pcap = read_file(folder.file("usb.pcap"));
    ASSERT_GT(pcap.size(), 24u);
    EXPECT_EQ(pcap[0] | pcap[1] << 8 | pcap[2] << 16 | uint32_t(pcap[3]) << 24, 0xA1B23C4Du);
    Bytes vcd_bytes = read_file(folder.file("bus.vcd"));
    std::string vcd(vcd_bytes.begin(), vcd_bytes.end());
    EXPECT_NE(vcd.find("$enddefinitions"), std::string::npos);
    EXPECT_GT(vcd.size(), 10000u);  // every bit of the 512-byte read is in it
}

TEST_F(Launcher, EraseChangesTheCartridgeFileAfterABackup) {
    auto original = emu_launcher::demo_save(emu::ChipKind::m95040);
    original[0x1FF] = 0x5A;
    write_file(folder.file("cart.bin"), original);
    EXPECT_EQ(run("--chip m95040 --cart cart.bin -- -e"), 0) << out << err;
    EXPECT_EQ(read_file(folder.file("backup.sav")), original);
    EXPECT_EQ(read_file(folder.file("cart.bin")), std::vector<uint8_t>(0x200, 0xFF));
    EXPECT_FALSE(std::ifstream(folder.file("cart.bin.tmp")).good());

    // A missing cartridge file is a blank chip, made at the start.
    EXPECT_EQ(run("--chip m95040 --cart new.bin"), 1) << out;
    EXPECT_EQ(read_file(folder.file("new.bin")), std::vector<uint8_t>(0x200, 0xFF));
}

TEST_F(Launcher, FaultsReachTheirTargets) {
    // A data-in line stuck low reads every bit as 0; the tool takes that for no memory.
    EXPECT_EQ(run("--chip m95040 --fault data-in=0"), 1);
    EXPECT_NE(out.find("ID=000000"), std::string::npos);
    EXPECT_FALSE(std::ifstream(folder.file("savedata.sav")).good());

    write_file(folder.file("cart.bin"), std::vector<uint8_t>(0x200, 0x00));
    // The erase is read back, which finds the bits that did not change.
    EXPECT_EQ(run("--chip m95040 --cart cart.bin --fault stuck-bits=0x10:0x0F -- -e"), 1) << out;
    EXPECT_NE(out.find("(adr=0010)"), std::string::npos) << out;
    auto cart = read_file(folder.file("cart.bin"));
    ASSERT_EQ(cart.size(), 0x200u);
    EXPECT_EQ(cart[0x10], 0xF0);
    cart[0x10] = 0xFF;
    EXPECT_EQ(cart, std::vector<uint8_t>(0x200, 0xFF));

    // No adapter on the bus: the tool's adapter-not-found end, and no file written.
    EXPECT_EQ(run("--fault unplug=0"), 0);
    EXPECT_FALSE(std::ifstream(folder.file("savedata.sav")).good());
}

}  // namespace

// An adapter that already runs a firmware with the tool's strings: the tool does not
// load its own, and the run's statistics start with the adapter running it. An image
// that is not 4096 bytes is refused before anything runs.
TEST_F(Launcher, AdapterFirmwareStartsTheAdapterRunningTheImage) {
    EmuResult fresh = folder.run("--chip m95040 --stats");
    EmuResult running = folder.run("--chip m95040 --stats " + previous_firmware_option());
    ASSERT_EQ(running.exit_code, 0) << running.err;
    EXPECT_EQ(running.out, fresh.out);
    EXPECT_EQ(read_file(folder.file("savedata.sav")),
              emu_launcher::demo_save(emu::ChipKind::m95040));
    EXPECT_EQ(running.control, 2u) << "string descriptors 1 and 2 only: no download";
    EXPECT_GT(fresh.control, 60u);
    EXPECT_LT(running.virtual_s, fresh.virtual_s - 1.0) << "no download, no re-enumeration";

    write_file(folder.file("short.bin"), std::vector<uint8_t>(4095, 0x00));
    EXPECT_EQ(run("--adapter-firmware short.bin"), 2);
    EXPECT_EQ(out, "");
    EXPECT_NE(err.find("short.bin holds 4095 bytes"), std::string::npos) << err;
}
