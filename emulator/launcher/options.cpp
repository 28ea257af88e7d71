#include "launcher/options.h"

#include <algorithm>
#include <cstring>

namespace emu_launcher {

namespace {

constexpr char INFRARED[] = "ir-";

std::string help_line(const std::string& name, const std::string& text) {
    std::string line = "                    " + name;
    line.resize(std::max<size_t>(line.size() + 1, 32), ' ');
    return line + text + "\n";
}

std::string chip_help() {
    std::string text = std::string("  --chip NAME       the cartridge's save chip (default ") +
                       emu::chip_kind_name(Options().chip) + "):\n";
    for (const emu::ChipInfo& chip : emu::chip_table())
        text += help_line(chip.name, std::string(chip.vendor) + " " + chip.part +
                                         (chip.flash ? ", FLASH, " : ", EEPROM, ") +
                                         emu::size_text(chip.size));
    for (const emu::ChipInfo& chip : emu::chip_table())
        if (chip.infrared)
            text += help_line(INFRARED + std::string(chip.name),
                              std::string(chip.part) + " behind an infrared transceiver, " +
                                  emu::size_text(chip.size));
    return text + help_line("none", "a cartridge without a save chip");
}

// "le25fw203, ..., ir-m45pe80 or none"
std::string chip_names() {
    std::string names;
    for (const emu::ChipInfo& chip : emu::chip_table()) names += std::string(chip.name) + ", ";
    for (const emu::ChipInfo& chip : emu::chip_table())
        if (chip.infrared) names += INFRARED + std::string(chip.name) + ", ";
    names.resize(names.size() - 2);
    return names + " or none";
}

// A chip name, or an infrared one: "ir-" and the name of a chip that sits behind an
// infrared transceiver.
bool parse_chip(const std::string& value, Options& options) {
    bool infrared = value.rfind(INFRARED, 0) == 0;
    emu::ChipKind kind;
    if (!emu::parse_chip_kind(infrared ? value.substr(std::strlen(INFRARED)) : value, kind))
        return false;
    if (infrared && (kind == emu::ChipKind::none || !emu::chip_info(kind).infrared)) return false;
    options.chip = kind;
    options.infrared = infrared;
    return true;
}

}  // namespace

std::string option_help() {
    return chip_help() +
           std::string(
               "  --cart FILE       the cartridge memory as a raw image of the chip's size "
               "(missing:\n"
               "                    created as a blank chip, all 0xFF); it holds what the chip "
               "holds\n"
               "                    at every moment, also when the run is killed.\n"
               "                    Without it the cartridge holds a demonstration save.\n"
               "  --adapter-firmware FILE\n"
               "                    the adapter starts running this 4096-byte firmware image,\n"
               "                    as after an earlier run loaded it (the tool loads its own\n"
               "                    only when the image's strings are not its own); --stats,\n"
               "                    --trace-usb and the faults count from then on\n"
               "  --timing typ|max  the chip's write, program and erase cycles take their "
               "data-sheet\n"
               "                    typical time (default) or their guaranteed maximum\n"
               "  --trace-bus FILE  VCD trace of the four bus lines\n"
               "  --trace-usb FILE  pcap trace (Linux usbmon) of all USB traffic\n"
               "  --stats           on standard error at exit: transfers per pipe, bytes,\n"
               "                    modeled hardware time\n"
               "  --realtime        pace virtual time to the wall clock\n"
               "  --fault SPEC      inject a fault; may be repeated. SPEC is one of:\n") +
           fault_help() +
           "  --seed N          which bits the flaky fault inverts (default 1): runs of\n"
           "                    the same seed invert the same bits\n"
           "  --help            this text\n";
}

std::string usage_text() {
    return "usage: pelkat-emu [options] [-- tool arguments]\n"
           "Runs pelkat against an emulated EZ-USB adapter holding a virtual cartridge.\n"
           "The adapter starts without firmware, as a freshly plugged one, or running the\n"
           "image of --adapter-firmware.\n"
           "\n" +
           option_help() +
           "\n"
           "Everything after -- is the tool's command line: no argument reads the cartridge,\n"
           "a file name writes it, -e erases it. Examples:\n"
           "  pelkat-emu\n"
           "  pelkat-emu --chip m95640 --cart cart.bin -- game.sav\n"
           "  pelkat-emu --fault stuck-bits=0x100:0x01 -- -e\n"
           "\n"
           "Standard output is the tool's own; exit code the tool's (0 or 1), or 2 when\n"
           "pelkat-emu itself cannot run (bad options, unusable files).\n";
}

bool parse_options(int argc, char** argv, Options& options, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--") {
            for (++i; i < argc; ++i) options.tool_args.push_back(argv[i]);
            break;
        }
        if (arg == "--help" || arg == "-h") {
            options.help = true;
            continue;
        }
        if (arg == "--stats") {
            options.stats = true;
            continue;
        }
        if (arg == "--realtime") {
            options.realtime = true;
            continue;
        }
        // Options with a value: "--name value" or "--name=value".
        std::string name = arg, value;
        bool inline_value = false;
        size_t eq = arg.find('=');
        if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
            inline_value = true;
        }
        if (name != "--chip" && name != "--cart" && name != "--timing" && name != "--trace-bus" &&
            name != "--trace-usb" && name != "--fault" && name != "--seed" &&
            name != "--adapter-firmware") {
            if (arg.rfind("-", 0) == 0)
                error = "unknown option '" + arg + "' (see --help)";
            else
                error = "unexpected argument '" + arg + "' (the tool's arguments go after --)";
            return false;
        }
        if (!inline_value) {
            if (i + 1 >= argc) {
                error = "option " + name + " needs a value";
                return false;
            }
            value = argv[++i];
        }
        if (value.empty()) {
            error = "option " + name + " needs a non-empty value";
            return false;
        }
        if (name == "--chip") {
            if (!parse_chip(value, options)) {
                error = "unknown chip '" + value + "' (" + chip_names() + ")";
                return false;
            }
        } else if (name == "--timing") {
            if (value != "typ" && value != "max") {
                error = "unknown timing '" + value + "' (typ or max)";
                return false;
            }
            options.timing = value == "max" ? emu::ChipTiming::maximum : emu::ChipTiming::typical;
        } else if (name == "--cart") {
            options.cart = value;
        } else if (name == "--adapter-firmware") {
            options.adapter_firmware = value;
        } else if (name == "--trace-bus") {
            options.trace_bus = value;
        } else if (name == "--trace-usb") {
            options.trace_usb = value;
        } else if (name == "--seed") {
            if (!parse_number(value, UINT64_MAX, options.faults.seed)) {
                error = "bad seed '" + value + "' (a whole number)";
                return false;
            }
        } else if (!parse_fault(value, options.faults, error)) {
            return false;
        }
    }
    if (options.chip == emu::ChipKind::none) {
        if (!options.cart.empty()) {
            error = "--cart needs a save chip (--chip none has no memory)";
            return false;
        }
        if (options.faults.needs_save_chip()) {
            error =
                "faults pull, stuck-bits, erase-hang, slow-program, drop-writes and reinsert "
                "need a save chip";
            return false;
        }
    }
    for (const auto& stuck : options.faults.stuck_bits) {
        if (stuck.first >= emu::chip_size(options.chip)) {
            error = "stuck-bits address beyond the " +
                    std::to_string(emu::chip_size(options.chip)) + "-byte memory of the " +
                    emu::chip_kind_name(options.chip);
            return false;
        }
    }
    return true;
}

}  // namespace emu_launcher
