#include "rig.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "firmware_image.h"
#include "link/link.h"
#include "platform/console.h"
#include "platform/driver_emu.h"
#include "platform/driver_requests.h"
#include "run/run_state.h"
#include "savemem/batch.h"
#include "savemem/bus.h"

namespace {

std::string read_whole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::string temp_path(const char* what) {
    return std::string("savemem_") + what + "_" + std::to_string(getpid()) + ".bin";
}

// The console's output is compared as the Shift-JIS bytes it writes under the C locale.
const int C_LOCALE = setenv("LC_ALL", "C", 1);

}  // namespace

emu::Adapter& Rig::adapter() {
    static emu::Adapter* adapter = [] {
        auto* made = new emu::Adapter;  // lives for the whole test program
        made->plug();
        emu_driver::reset();
        emu_driver::register_adapter(made);
        if (connect_adapter(0, &adapter_handle, firmware_image, "ZEMA", "Z100") != 0)
            ADD_FAILURE() << "the emulated adapter did not come up with the firmware";
        adapter_connected = true;
        return made;
    }();
    return *adapter;
}

// A run that ends the process from inside a test would otherwise vanish without a word,
// its output still going to a capture file.
bool exit_expected;

void report_unexpected_exit() {
    if (exit_expected) return;
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    if (test == nullptr) return;
    std::string text = std::string("\n*** the process ended inside ") + test->test_suite_name() +
                       "." + test->name() + "\n";
    if (write(2, text.data(), text.size()) < 0) return;
}

void Rig::SetUp() {
    static bool reporting = (std::atexit(report_unexpected_exit), true);
    (void)reporting;
    adapter();
    link_take_failure();
    save_type = 0;
    save_size = 0;
}

void Rig::TearDown() {
    adapter().insert(nullptr);
    EXPECT_EQ(command_batch.count, 0) << "a bus operation left bytes in the batch";
}

emu::SaveChip& Rig::insert(emu::ChipKind kind) {
    chip_.reset(new emu::SaveChip(kind));
    adapter().insert(chip_.get());
    bus_open();
    clear_record();
    return *chip_;
}

emu::SaveChip& Rig::insert_pattern(emu::ChipKind kind) {
    emu::SaveChip& chip = insert(kind);
    std::vector<uint8_t> contents(chip.size());
    for (uint32_t a = 0; a < contents.size(); a++) contents[a] = pattern(a);
    chip.fill(contents);
    return chip;
}

void Rig::clear_record() { emu_driver::clear_record(); }

PipeTraffic Rig::traffic() {
    PipeTraffic seen;
    for (const emu_driver::Request& request : emu_driver::requests()) {
        if (request.code == EZUSB_PIPE_WRITE) {
            EXPECT_EQ(get_le32(request.input.data()), uint32_t{EP1_OUT_PIPE});
            seen.out.push_back(request.data);
            seen.order.push_back('o');
        } else if (request.code == EZUSB_PIPE_READ) {
            EXPECT_EQ(get_le32(request.input.data()), uint32_t{EP1_IN_PIPE});
            EXPECT_LE(request.output_length, 64u);
            seen.in.push_back(Bytes(request.output_length));
            if (!request.data.empty())
                std::copy(request.data.begin(), request.data.end(), seen.in.back().begin());
            seen.order.push_back('i');
        }
    }
    return seen;
}

// Replays the OUTB writes of the recorded packets: a bit is taken on each rising clock
// edge while select is low, as the memory takes it.
std::vector<Bytes> Rig::bus_commands() {
    std::vector<Bytes> commands;
    bool selected = false;
    bool clock = false;
    int bits = 0;
    int byte = 0;
    for (const Bytes& packet : traffic().out) {
        if (packet.empty() || (packet[0] != OP_WRITE_REG && packet[0] != OP_READ_REG))
            continue;  // stream traffic
        // Clocks of bit reads carry no data to the memory.
        bool reading = false;
        for (size_t i = 0; i + 1 < packet.size();
             i += packet[i] == OP_READ_REG ? OP_READ_REG_SIZE : OP_WRITE_REG_SIZE)
            reading |= packet[i] == OP_READ_REG;
        for (size_t i = 0; i < packet.size();) {
            if (packet[i] == OP_READ_REG) {
                i += OP_READ_REG_SIZE;
                continue;
            }
            if (packet[i] != OP_WRITE_REG || i + 2 >= packet.size()) break;
            uint8_t reg = packet[i + 1];
            uint8_t value = packet[i + 2];
            i += OP_WRITE_REG_SIZE;
            if (reg != REG_OUTB) continue;
            bool select_low = (value & 0x04) == 0;
            bool clock_high = (value & 0x02) != 0;
            if (select_low && !selected) {
                commands.emplace_back();
                bits = 0;
                byte = 0;
            }
            if (select_low && clock_high && !clock && !reading) {
                byte = (byte << 1) | (value & 0x01);
                if (++bits % 8 == 0) {
                    commands.back().push_back(static_cast<uint8_t>(byte));
                    byte = 0;
                }
            }
            selected = select_low;
            clock = clock_high;
        }
    }
    return commands;
}

Rig::Ending Rig::run_to_exit(const std::function<void()>& body) {
    std::string output_path = temp_path("stdout");
    std::string memory_path = temp_path("memory");
    std::fflush(nullptr);
    pid_t child = fork();
    if (child == 0) {
        exit_expected = true;
        int out = open(output_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int in = open("/dev/null", O_RDONLY);
        dup2(out, 1);
        dup2(in, 0);
        static emu::SaveChip* chip;
        static std::string* memory_file;
        chip = chip_.get();
        memory_file = new std::string(memory_path);
        std::atexit([] {
            if (chip == nullptr) return;
            chip->finish();
            const std::vector<uint8_t>& memory = chip->memory();
            std::ofstream file(*memory_file, std::ios::binary);
            file.write(reinterpret_cast<const char*>(memory.data()),
                       static_cast<std::streamsize>(memory.size()));
        });
        body();
        con_flush();
        std::exit(RETURNED_EXIT);
    }
    int status = 0;
    waitpid(child, &status, 0);
    Ending ending;
    ending.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    ending.output = read_whole(output_path);
    std::string memory = read_whole(memory_path);
    ending.memory.assign(memory.begin(), memory.end());
    std::remove(output_path.c_str());
    std::remove(memory_path.c_str());
    return ending;
}

Console::Console() : path_(temp_path("console")) {
    con_flush();
    std::fflush(stdout);
    saved_ = dup(1);
    int file = open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(file, 1);
    close(file);
}

Console::~Console() { text(); }

std::string Console::text() {
    if (saved_ < 0) return std::string();
    con_flush();
    std::fflush(stdout);
    dup2(saved_, 1);
    close(saved_);
    saved_ = -1;
    std::string bytes = read_whole(path_);
    std::remove(path_.c_str());
    return bytes;
}
