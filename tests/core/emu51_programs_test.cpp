// SDCC-compiled programs run through the emu51 runner as a separate process;
// results are read back from its printed XDATA and registers.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Emu51Run {
    int status = -1;
    std::string out;
    std::map<std::string, std::string> fields;  // "PC" -> "0x0123", "stop" -> "idle", ...
    std::map<unsigned, uint8_t> bytes;          // XDATA bytes printed
};

Emu51Run run_emu51(const std::string& args) {
    Emu51Run r;
    std::string command = std::string(EMU51_PATH) + " " + args + " 2>&1";
    FILE* p = popen(command.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    while (size_t n = fread(buf, 1, sizeof buf, p)) r.out.append(buf, n);
    int status = pclose(p);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;

    std::istringstream lines(r.out);
    std::string line;
    enum { fields, iram, xdata } section = fields;
    while (std::getline(lines, line)) {
        if (line == "IRAM:") {
            section = iram;
            continue;
        }
        if (line.rfind("XDATA", 0) == 0) {
            section = xdata;
            continue;
        }
        size_t colon = line.find(':');
        if (colon == std::string::npos || section == iram) continue;
        std::string key = line.substr(0, colon), rest = line.substr(colon + 1);
        if (section == xdata) {
            unsigned addr = static_cast<unsigned>(std::stoul(key, nullptr, 16)), value;
            std::istringstream vs(rest);
            while (vs >> std::hex >> value) r.bytes[addr++] = static_cast<uint8_t>(value);
        } else if (rest.find_first_not_of(' ') != std::string::npos) {
            r.fields[key] = rest.substr(rest.find_first_not_of(' '));
        }
    }
    return r;
}

uint32_t word32(const Emu51Run& r, unsigned addr) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | r.bytes.at(addr + static_cast<unsigned>(i));
    return v;
}

std::string program(const char* name) { return std::string(PROGRAM_DIR) + "/" + name + ".ihx"; }

TEST(Programs, Arithmetic32Bit) {
    Emu51Run r = run_emu51("--xdata 0x3000:40 " + program("arith32"));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.fields["stop"], "idle");
    const uint32_t a = 0x89ABCDEFu, b = 0x00012345u;
    const int32_t c = -1234567, d = 321;
    const uint32_t want[] = {a * b,
                             a / b,
                             a % b,
                             static_cast<uint32_t>(c * d),
                             static_cast<uint32_t>(c / d),
                             static_cast<uint32_t>(c % d),
                             static_cast<uint32_t>(c / -7),
                             0xFFFFFFFFu / static_cast<uint32_t>(d),
                             a >> 13,
                             static_cast<uint32_t>(c >> 5)};
    for (unsigned i = 0; i < 10; ++i)
        EXPECT_EQ(word32(r, 0x3000 + 4 * i), want[i]) << "result " << i;
}

TEST(Programs, GenericPointers) {
    Emu51Run r = run_emu51("--xdata 0x3000:8 " + program("pointers"));
    ASSERT_EQ(r.status, 0) << r.out;
    const char message[] = "generic pointers";
    unsigned sum = 0;
    for (const char* p = message; *p; ++p) sum += static_cast<uint8_t>(*p);
    EXPECT_EQ(r.bytes.at(0x3000), std::strlen(message));
    EXPECT_EQ(r.bytes.at(0x3001) | r.bytes.at(0x3002) << 8, static_cast<int>(sum));
    EXPECT_EQ(r.bytes.at(0x3003), 0x10 + 0x11 + 0x12 + 0x13);
    EXPECT_EQ(r.bytes.at(0x3004), 0x20 + 0x21 + 0x22 + 0x23);
    EXPECT_EQ(r.bytes.at(0x3005), 0x30 + 0x31 + 0x32 + 0x33);
    EXPECT_EQ(r.bytes.at(0x3006), static_cast<uint8_t>(message[8]));
    EXPECT_EQ(r.bytes.at(0x3007), 0x33);
}

TEST(Programs, BitOperations) {
    Emu51Run r = run_emu51("--xdata 0x3000:11 " + program("bits"));
    ASSERT_EQ(r.status, 0) << r.out;
    const uint8_t v = 0xB6;
    const uint8_t want[] = {1,
                            0,
                            1,
                            static_cast<uint8_t>((v | 0x08) & 0x7F),
                            static_cast<uint8_t>(__builtin_popcount(v)),
                            static_cast<uint8_t>(v << 3 | v >> 5),
                            static_cast<uint8_t>((v + 5) & 7),
                            static_cast<uint8_t>((v >> 3) & 15),
                            1,
                            static_cast<uint8_t>((v << 4) >> 8),
                            static_cast<uint8_t>(static_cast<int8_t>(v) >> 2)};
    for (unsigned i = 0; i < sizeof want; ++i)
        EXPECT_EQ(r.bytes.at(0x3000 + i), want[i]) << "result " << i;
}

TEST(Programs, InterruptHandlerTriggeredByTheProgram) {
    Emu51Run r = run_emu51("--xdata 0x3000:9 " + program("interrupt"));
    ASSERT_EQ(r.status, 0) << r.out;
    for (unsigned i = 0; i < 5; ++i) EXPECT_EQ(r.bytes.at(0x3000 + i), i + 1) << "entry " << i;
    EXPECT_EQ(r.bytes.at(0x3005), 5) << "a masked request was taken";
    EXPECT_EQ(r.bytes.at(0x3006), 3 * (1 + 2 + 3 + 4 + 5));
    EXPECT_EQ(r.bytes.at(0x3007) | r.bytes.at(0x3008) << 8, 10000);
}

// Raw images written by the test: stop PC, halt, budget and argument errors.
class Emu51Runner : public ::testing::Test {
protected:
    std::string write_image(const std::string& name, const std::vector<uint8_t>& bytes) {
        std::string path = ::testing::TempDir() + "emu51_" + name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return path;
    }
    // MOV R7,#5; loop: DJNZ R7,loop; MOV A,#42h; MOVX @DPTR,A at 1000h; A5
    const std::vector<uint8_t> counting = {0x7F, 0x05, 0xDF, 0xFE, 0x74, 0x42,
                                           0x90, 0x10, 0x00, 0xF0, 0xA5};
};

TEST_F(Emu51Runner, StopsAtThePcOnA5OrWhenTheBudgetIsUsed) {
    std::string image = write_image("count.bin", counting);
    Emu51Run r = run_emu51("--until-pc 0x0006 --xdata 0x1000:1 " + image);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.fields["stop"], "until-pc");
    EXPECT_EQ(r.fields["A"], "0x42");
    EXPECT_EQ(r.fields["cycles"], std::to_string(2 + 5 * 3 + 2));
    EXPECT_EQ(r.bytes.at(0x1000), 0x00);
    EXPECT_NE(r.out.find("00f0: 00"), std::string::npos) << "all 256 bytes of IRAM are printed";

    r = run_emu51("--xdata 0x1000:1 " + image);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.fields["stop"], "halted");
    EXPECT_EQ(r.fields["PC"], "0x000a");
    EXPECT_EQ(r.bytes.at(0x1000), 0x42);
    EXPECT_NE(r.out.find("undefined opcode 0xA5"), std::string::npos) << r.out;

    std::string spin = write_image("spin.bin", {0x80, 0xFE});
    r = run_emu51("--cycles 3000 --until-pc 0x1234 " + spin);
    EXPECT_EQ(r.status, 1) << "a PC never reached is a failure";
    EXPECT_EQ(r.fields["cycles"], "3000");
    EXPECT_EQ(run_emu51("--cycles 3000 " + spin).status, 0);
}

TEST_F(Emu51Runner, RejectsBadArgumentsAndBrokenImages) {
    for (const char* args : {"", "--cycles -5 x", "--until-pc 0x10000 x", "--xdata 0xFFFF:2 x",
                             "--frobnicate x", "a b"}) {
        Emu51Run r = run_emu51(args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_NE(r.out.find("usage: emu51"), std::string::npos) << args;
    }
    EXPECT_EQ(run_emu51(::testing::TempDir() + "no_such_image.bin").status, 1);
    std::string bad_sum = write_image("bad.hex", {});
    std::ofstream(bad_sum) << ":0300000002000600\n:00000001FF\n";
    Emu51Run r = run_emu51(bad_sum);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("checksum"), std::string::npos) << r.out;
    std::string no_end = write_image("noend.hex", {});
    std::ofstream(no_end) << ":03000000020006F5\n";
    EXPECT_EQ(run_emu51(no_end).status, 1);
    std::string good = write_image("good.hex", {});
    std::ofstream(good) << ":0200000080FE80\r\n:00000001FF\r\n";
    r = run_emu51("--cycles 30 " + good);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.fields["PC"], "0x0000");
}

}  // namespace
