// The command line of pelkat-emu: its own options, then after "--" the tool's.
#pragma once

#include "chips/cartridge.h"
#include "chips/save_chip.h"
#include "launcher/faults.h"

#include <string>
#include <vector>

namespace emu_launcher {

struct Options {
    emu::ChipKind chip = emu::ChipKind::le25fw203;
    bool infrared = false;  // the chip sits behind an infrared transceiver (--chip ir-NAME)
    emu::ChipTiming timing = emu::ChipTiming::typical;
    std::string cart;              // empty: the built-in demonstration save
    std::string adapter_firmware;  // empty: the adapter starts without firmware
    std::string trace_bus;
    std::string trace_usb;
    bool stats = false;
    bool realtime = false;
    bool help = false;
    FaultSet faults;
    std::vector<std::string> tool_args;  // after "--"
};

// False with a message when the command line is not usable.
bool parse_options(int argc, char** argv, Options& options, std::string& error);

// The --help text.
std::string usage_text();
// Its lines of the options above, for other programs that take them.
std::string option_help();

}  // namespace emu_launcher
