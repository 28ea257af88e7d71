// Instruction rate of the 8051 core against the SDCC simulator s51 (ucsim) on the
// same SDCC-compiled program, side by side. Both runs must leave the same results.
//
// usage: bench_core [IMAGE.ihx MAP_FILE [S51]]   (defaults are the build's own files)
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cpu8051.h"
#include "image_file.h"

namespace {

constexpr uint16_t RESULTS_ADDR = 0x3000;
constexpr int RESULTS_LEN = 16;

double cpu_seconds(int who) {
    rusage u{};
    getrusage(who, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Address of the symbol in the linker map, or -1.
long symbol_address(const std::string& map_path, const std::string& symbol) {
    std::ifstream in(map_path);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string area, addr, name;
        if (words >> area >> addr >> name && name == symbol)
            return std::strtol(addr.c_str(), nullptr, 16);
    }
    return -1;
}

struct CoreRun {
    uint64_t instructions = 0;
    double seconds = 0;
    std::vector<uint8_t> results;
};

CoreRun run_core(const std::vector<uint8_t>& image, int repeats) {
    CoreRun best;
    static uint8_t memory[emu::Cpu8051::MEMORY_SIZE];
    for (int i = 0; i < repeats; ++i) {
        std::copy(image.begin(), image.end(), memory);
        emu::Cpu8051 cpu(memory, nullptr, emu::Cpu8051::MEMORY_SIZE);
        double start = cpu_seconds(RUSAGE_SELF);
        cpu.run_until(~0ULL >> 1);  // the program ends by going idle
        double used = cpu_seconds(RUSAGE_SELF) - start;
        if (i == 0 || used < best.seconds) best.seconds = used;
        best.instructions = cpu.instructions();
        best.results.assign(memory + RESULTS_ADDR, memory + RESULTS_ADDR + RESULTS_LEN);
    }
    return best;
}

struct S51Run {
    bool ok = false;
    double seconds = 0;
    std::vector<uint8_t> results;
    std::string output;
};

S51Run run_s51(const std::string& s51, const std::string& image, long stop_pc) {
    S51Run r;
    std::string commands = "/tmp/bench_core_s51_" + std::to_string(getpid()) + ".cmd";
    {
        std::ofstream cmd(commands);
        cmd << "file \"" << image << "\"\nbreak 0x" << std::hex << stop_pc << "\nrun\ndump xram 0x"
            << RESULTS_ADDR << " 0x" << RESULTS_ADDR + RESULTS_LEN - 1 << "\nquit\n";
    }
    std::string command = s51 + " -t 8052 -C " + commands + " </dev/null 2>&1";
    double start = cpu_seconds(RUSAGE_CHILDREN);
    FILE* p = popen(command.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    while (size_t n = fread(buf, 1, sizeof buf, p)) r.output.append(buf, n);
    int status = pclose(p);
    r.seconds = cpu_seconds(RUSAGE_CHILDREN) - start;
    std::remove(commands.c_str());

    std::istringstream lines(r.output);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("0x30", 0) != 0) continue;
        std::istringstream words(line);
        std::string addr, byte;
        words >> addr;
        for (int i = 0; i < 8 && words >> byte; ++i)
            r.results.push_back(static_cast<uint8_t>(std::strtoul(byte.c_str(), nullptr, 16)));
    }
    r.ok = status == 0 && r.results.size() == static_cast<size_t>(RESULTS_LEN);
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    std::string image_path = argc > 2 ? argv[1] : BENCH_IMAGE;
    std::string map_path = argc > 2 ? argv[2] : BENCH_MAP;
    std::string s51 = argc > 3 ? argv[3] : S51_PATH;

    std::vector<uint8_t> image(emu::Cpu8051::MEMORY_SIZE);
    std::string error;
    if (!emu::load_image(image_path, emu::ImageFormat::intel_hex, image.data(), image.size(),
                         error)) {
        std::fprintf(stderr, "bench_core: %s\n", error.c_str());
        return 1;
    }
    long done = symbol_address(map_path, "_bench_done");
    if (done < 0) {
        std::fprintf(stderr, "bench_core: no _bench_done in %s\n", map_path.c_str());
        return 1;
    }

    CoreRun core = run_core(image, 10);
    S51Run sim = run_s51(s51, image_path, done);
    if (!sim.ok) {
        std::fprintf(stderr, "bench_core: s51 run failed:\n%s\n", sim.output.c_str());
        return 1;
    }
    if (sim.results != core.results) {
        std::fprintf(stderr, "bench_core: s51 and the core disagree on the program's results\n");
        return 1;
    }
    double core_rate = static_cast<double>(core.instructions) / core.seconds;
    double s51_rate = static_cast<double>(core.instructions) / sim.seconds;
    std::printf("program: %s (%llu instructions, results agree)\n", image_path.c_str(),
                static_cast<unsigned long long>(core.instructions));
    std::printf("%-10s %12s %16s\n", "simulator", "CPU seconds", "instructions/s");
    std::printf("%-10s %12.3f %16.0f\n", "core", core.seconds, core_rate);
    std::printf("%-10s %12.3f %16.0f\n", "s51", sim.seconds, s51_rate);
    std::printf("ratio: %.1fx\n", core_rate / s51_rate);
    return 0;
}
