// emu51: runs an 8051 program image on the core alone (flat 64 KiB memory, no
// chip around it) and prints the machine state when it stops.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cpu8051.h"
#include "image_file.h"

namespace {

const char USAGE_TEXT[] =
    "usage: emu51 [options] IMAGE\n"
    "  Runs an 8051 program image (Intel HEX if named *.hex or *.ihx, else raw binary)\n"
    "  from address 0 and prints the registers, internal RAM and requested XDATA.\n"
    "options:\n"
    "  --hex | --bin        force the image format\n"
    "  --until-pc ADDR      stop when PC reaches ADDR (exit 1 if it never does)\n"
    "  --cycles N           cycle budget, default 100000000 (6000000 = 1 s)\n"
    "  --xdata ADDR:LEN     also print LEN bytes of XDATA from ADDR (repeatable)\n"
    "numbers may be decimal or 0x-prefixed hexadecimal.\n"
    "exit status: 0 stopped as asked (PC reached, budget used, or idle), 1 halted or\n"
    "load error or PC not reached, 2 bad arguments.\n";

int usage(const char* problem) {
    std::fprintf(stderr, "emu51: %s\n%s", problem, USAGE_TEXT);
    return 2;
}

bool parse_number(const char* text, unsigned long long max, unsigned long long& out) {
    if (!text || !*text || *text == '-') return false;
    char* end = nullptr;
    errno = 0;
    out = std::strtoull(text, &end, 0);
    return errno == 0 && *end == '\0' && out <= max;
}

struct XdataRange {
    unsigned long long start, length;
};

void print_bytes(const uint8_t* bytes, unsigned long long start, unsigned long long length) {
    for (unsigned long long i = 0; i < length; i += 16) {
        std::printf("%04llx:", start + i);
        for (unsigned long long j = i; j < length && j < i + 16; ++j)
            std::printf(" %02x", bytes[j]);
        std::printf("\n");
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::string image;
    bool format_forced = false;
    emu::ImageFormat format = emu::ImageFormat::binary;
    bool until_pc = false;
    unsigned long long stop_pc = 0, budget = 100000000ULL;
    std::vector<XdataRange> ranges;

    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (arg == "--hex" || arg == "--bin") {
            format_forced = true;
            format = arg == "--hex" ? emu::ImageFormat::intel_hex : emu::ImageFormat::binary;
        } else if (arg == "--until-pc") {
            if (!parse_number(value, 0xFFFF, stop_pc))
                return usage("--until-pc needs an address 0..0xffff");
            until_pc = true;
            ++i;
        } else if (arg == "--cycles") {
            if (!parse_number(value, ~0ULL >> 2, budget) || budget == 0)
                return usage("--cycles needs a positive number");
            ++i;
        } else if (arg == "--xdata") {
            std::string spec = value ? value : "";
            size_t colon = spec.find(':');
            XdataRange r{};
            if (colon == std::string::npos ||
                !parse_number(spec.substr(0, colon).c_str(), 0xFFFF, r.start) ||
                !parse_number(spec.substr(colon + 1).c_str(), 0x10000 - r.start, r.length) ||
                r.length == 0)
                return usage("--xdata needs ADDR:LEN inside 0..0xffff");
            ranges.push_back(r);
            ++i;
        } else if (arg == "-h" || arg == "--help") {
            std::fputs(USAGE_TEXT, stdout);
            return 0;
        } else if (!arg.empty() && arg[0] == '-') {
            return usage(("unknown option " + arg).c_str());
        } else if (image.empty()) {
            image = arg;
        } else {
            return usage("only one image may be given");
        }
    }
    if (image.empty()) return usage("no image given");
    if (!format_forced) format = emu::image_format_for(image);

    static uint8_t memory[emu::Cpu8051::MEMORY_SIZE];
    std::string error;
    if (!emu::load_image(image, format, memory, sizeof memory, error)) {
        std::fprintf(stderr, "emu51: %s\n", error.c_str());
        return 1;
    }

    emu::Cpu8051 cpu(memory, nullptr, emu::Cpu8051::MEMORY_SIZE);
    const char* stop = "cycle-budget";
    if (until_pc) {
        while (cpu.cycles() < budget) {
            if (cpu.pc() == stop_pc) break;
            if (cpu.step() == 0) break;
        }
        if (cpu.pc() == stop_pc && !cpu.halted()) stop = "until-pc";
    } else {
        cpu.run_until(budget);
    }
    if (cpu.halted())
        stop = "halted";
    else if (cpu.idle() && cpu.cycles() < budget && std::string(stop) != "until-pc")
        stop = "idle";

    std::printf("stop: %s\n", stop);
    std::printf("cycles: %llu\n", static_cast<unsigned long long>(cpu.cycles()));
    std::printf("instructions: %llu\n", static_cast<unsigned long long>(cpu.instructions()));
    std::printf("PC: 0x%04x\nA: 0x%02x\nB: 0x%02x\nPSW: 0x%02x\nSP: 0x%02x\nDPTR: 0x%04x\n",
                cpu.pc(), cpu.a(), cpu.b(), cpu.psw(), cpu.sp(), cpu.dptr());
    std::printf("R0-R7:");
    for (int r = 0; r < 8; ++r) std::printf(" %02x", cpu.r(r));
    std::printf("\nIRAM:\n");
    uint8_t iram[256];
    for (int i = 0; i < 256; ++i) iram[i] = cpu.iram(static_cast<uint8_t>(i));
    print_bytes(iram, 0, 256);
    for (const XdataRange& r : ranges) {
        std::printf("XDATA 0x%04llx+%llu:\n", r.start, r.length);
        print_bytes(memory + r.start, r.start, r.length);
    }

    if (cpu.halted()) {
        std::fprintf(stderr, "emu51: core halted at PC 0x%04x: %s\n", cpu.halt_pc(),
                     cpu.halt_reason());
        return 1;
    }
    if (until_pc && std::string(stop) != "until-pc") {
        std::fprintf(stderr, "emu51: PC 0x%04llx not reached (%s)\n", stop_pc, stop);
        return 1;
    }
    return 0;
}
