// The test rig of the save-memory tests: one emulated adapter running the real firmware
// behind the emulated driver, a save chip in its slot, and readers of the driver's
// record (packets sent, replies received, the commands they framed on the bus).
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "chips/save_chip.h"
#include "ezusb/adapter.h"

using Bytes = std::vector<uint8_t>;

// What the driver record shows of the pipes since the last clear.
struct PipeTraffic {
    std::vector<Bytes> out;   // every EP1 OUT packet, in order
    std::vector<Bytes> in;    // every EP1 IN reply, in order
    std::vector<char> order;  // 'o' or 'i' per transfer
};

class Rig : public ::testing::Test {
protected:
    static emu::Adapter& adapter();  // connected and running the firmware for the whole program

    void SetUp() override;
    void TearDown() override;

    // A blank chip of that kind in the slot; the bus opened and the record cleared.
    emu::SaveChip& insert(emu::ChipKind kind);
    // The chip's memory filled with pattern(address) first.
    emu::SaveChip& insert_pattern(emu::ChipKind kind);
    static uint8_t pattern(uint32_t address) {
        return static_cast<uint8_t>(address * 7 + (address >> 8) + 1);
    }

    // The memory as the chip holds it now (running cycles finished).
    const std::vector<uint8_t>& memory() {
        chip_->finish();
        return chip_->memory();
    }

    static PipeTraffic traffic();
    static void clear_record();
    // The bytes the host clocked to the memory by register-level signalling, one entry per
    // selected stretch of the bus (select low to select high).
    static std::vector<Bytes> bus_commands();

    // How a run that ends the process ended: its exit code, its output, and the chip's
    // memory as the process left it.
    struct Ending {
        int code;
        std::string output;
        Bytes memory;
    };
    // Runs body in a child process with an empty standard input; a body that returns
    // ends it with RETURNED_EXIT.
    static constexpr int RETURNED_EXIT = 99;
    Ending run_to_exit(const std::function<void()>& body);

    std::unique_ptr<emu::SaveChip> chip_;
    std::unique_ptr<emu::Cartridge> wrapper_;  // a board fault around the chip, if any
};

// Output of the host on standard output while it lives.
class Console {
public:
    Console();
    ~Console();
    std::string text();  // ends the capture

private:
    std::string path_;
    int saved_ = -1;
};
