// Times whole runs of the tool against the emulated adapter: a read, and a write with
// verification, of each chip of 256 KiB or less and of the 1 MiB and 8 MiB parts. Each run's wall
// time is set against the hardware time the emulator modeled (from --stats).
//
// Usage: bench_runs [--emu PATH] [--timing typ|max] [folder]
//   --emu     another pelkat-emu, e.g. an older build to compare with
//   --timing  passed on to pelkat-emu (the chips' typical or maximum cycle times)
//   folder    default: a fresh folder under /tmp
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct Run {
    const char* name;
    const char* chip;
    unsigned size;
    bool write;
    double goal_s;  // wall-time goal, 0: none
};

std::string folder;
std::string emu = PELKAT_EMU;
std::string emu_options;

void put(const std::string& name, unsigned size, unsigned seed) {
    std::vector<char> bytes(size);
    for (unsigned a = 0; a < size; a++) bytes[a] = static_cast<char>(a * 7 + (a >> 8) + seed);
    std::ofstream(folder + "/" + name, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(size));
}

double modeled_seconds(const std::string& stats) {
    const char* key = "modeled hardware time ";
    size_t at = stats.find(key);
    return at == std::string::npos ? -1 : std::atof(stats.c_str() + at + std::strlen(key));
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        if ((arg == "--emu" || arg == "--timing") && i + 1 < argc) {
            if (arg == "--emu")
                emu = argv[++i];
            else
                emu_options = std::string(" --timing ") + argv[++i];
        } else if (arg.rfind("--", 0) == 0) {
            std::fprintf(stderr, "usage: bench_runs [--emu PATH] [--timing typ|max] [folder]\n");
            return 2;
        } else {
            folder = arg;
        }
    }
    if (folder.empty()) {
        char name[] = "/tmp/pelkat_bench_XXXXXX";
        if (mkdtemp(name) == nullptr) return 1;
        folder = name;
    }
    const Run runs[] = {
        {"read LE25FW203 (256 KiB)", "le25fw203", 0x40000, false, 0},
        {"read M45PE20 (256 KiB)", "m45pe20", 0x40000, false, 0},
        {"read M95040 (512 B)", "m95040", 0x200, false, 0},
        {"read M95640 (8 KiB)", "m95640", 0x2000, false, 0},
        {"read M95512 (64 KiB)", "m95512", 0x10000, false, 0},
        {"read M95M01 (128 KiB)", "m95m01", 0x20000, false, 0},
        {"read M45PE80 (1 MiB)", "m45pe80", 0x100000, false, 0},
        {"read M45PE80 infrared (1 MiB)", "ir-m45pe80", 0x100000, false, 0},
        {"read MX25L6445E (8 MiB)", "mx25l6445e", 0x800000, false, 0},
        {"write+verify LE25FW203 (256 KiB)", "le25fw203", 0x40000, true, 2.0},
        {"write+verify M45PE20 (256 KiB)", "m45pe20", 0x40000, true, 0},
        {"write+verify M95040 (512 B)", "m95040", 0x200, true, 0},
        {"write+verify M95640 (8 KiB)", "m95640", 0x2000, true, 0},
        {"write+verify M95512 (64 KiB)", "m95512", 0x10000, true, 30.0},
        {"write+verify M95M01 (128 KiB)", "m95m01", 0x20000, true, 0},
        {"write+verify M45PE80 (1 MiB)", "m45pe80", 0x100000, true, 0},
        {"write+verify M45PE80 infrared (1 MiB)", "ir-m45pe80", 0x100000, true, 0},
        {"write+verify MX25L6445E (8 MiB)", "mx25l6445e", 0x800000, true, 10.0},
    };
    int missed = 0;
    std::printf("%-40s %10s %12s  %s\n", "run", "wall s", "modeled s", "goal");
    for (const Run& run : runs) {
        put("cart.bin", run.size, 1);
        if (run.write) put("game.sav", run.size, 9);
        std::string command = "cd '" + folder + "' && '" + emu + "' --stats" + emu_options +
                              " --chip " + run.chip + " --cart cart.bin -- " +
                              (run.write ? "game.sav" : "") +
                              " > stdout.bin 2> stats.txt < /dev/null";
        auto start = std::chrono::steady_clock::now();
        int status = std::system(command.c_str());
        double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::ifstream in(folder + "/stats.txt");
        std::string stats((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        bool ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        std::string goal = "-";
        if (run.goal_s > 0) {
            bool met = ok && wall < run.goal_s;
            missed += !met;
            char text[32];
            std::snprintf(text, sizeof text, "< %.0f s %s", run.goal_s, met ? "met" : "MISSED");
            goal = text;
        }
        std::printf("%-40s %10.2f %12.3f  %s%s\n", run.name, wall, modeled_seconds(stats),
                    goal.c_str(), ok ? "" : "  (run failed)");
    }
    return missed == 0 ? 0 : 1;
}
