// Times whole runs of the tool against the emulated adapter: reads, and writes with
// verification, of the EEPROMs and of FLASH parts from 256 KiB to 8 MiB. Each run is made
// twice, with the chips' typical and with their maximum cycle times, and its wall time is
// set against the hardware time the emulator modeled (from --stats). The goals are on the
// modeled hardware time of the typical run: what a user waits for on a real adapter.
//
// Usage: bench_runs [--emu PATH] [folder]
//   --emu     another pelkat-emu, e.g. an older build to compare with
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
    unsigned used;  // bytes of the cartridge and of the file that hold a save (the rest
                    // 0xFF); 0: all of them
    double goal_s;  // goal for the modeled hardware time (typical timing), 0: none
};

struct Outcome {
    bool ok;
    double wall_s;
    double modeled_s;
};

std::string folder;
std::string emu = PELKAT_EMU;

void put(const std::string& name, unsigned size, unsigned used, unsigned seed) {
    std::vector<char> bytes(size, static_cast<char>(0xFF));
    for (unsigned a = 0; a < (used ? used : size); a++)
        bytes[a] = static_cast<char>(a * 7 + (a >> 8) + seed);
    std::ofstream(folder + "/" + name, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(size));
}

double modeled_seconds(const std::string& stats) {
    const char* key = "modeled hardware time ";
    size_t at = stats.find(key);
    return at == std::string::npos ? -1 : std::atof(stats.c_str() + at + std::strlen(key));
}

Outcome run_once(const Run& run, const char* timing) {
    put("cart.bin", run.size, run.used, 1);
    if (run.write) put("game.sav", run.size, run.used, 9);
    std::string command = "cd '" + folder + "' && '" + emu + "' --stats --timing " + timing +
                          " --chip " + run.chip + " --cart cart.bin -- " +
                          (run.write ? "game.sav" : "") + " > stdout.bin 2> stats.txt < /dev/null";
    auto start = std::chrono::steady_clock::now();
    int status = std::system(command.c_str());
    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::ifstream in(folder + "/stats.txt");
    std::string stats((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return {WIFEXITED(status) && WEXITSTATUS(status) == 0, wall, modeled_seconds(stats)};
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        if (arg == "--emu" && i + 1 < argc) {
            emu = argv[++i];
        } else if (arg.rfind("--", 0) == 0) {
            std::fprintf(stderr, "usage: bench_runs [--emu PATH] [folder]\n");
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
    const unsigned KiB = 1024, MiB = 1024 * KiB;
    const Run runs[] = {
        {"read M95040 (512 B)", "m95040", 512, false, 0, 3},
        {"read M95640 (8 KiB)", "m95640", 8 * KiB, false, 0, 3.5},
        {"read M95512 (64 KiB)", "m95512", 64 * KiB, false, 0, 4.5},
        {"read M95M01 (128 KiB)", "m95m01", 128 * KiB, false, 0, 0},
        {"write+verify M95040 (512 B)", "m95040", 512, true, 0, 7},
        {"write+verify M95640 (8 KiB)", "m95640", 8 * KiB, true, 0, 9},
        {"write+verify M95512 (64 KiB)", "m95512", 64 * KiB, true, 0, 15},
        {"write+verify M95M01 (128 KiB)", "m95m01", 128 * KiB, true, 0, 0},
        {"read LE25FW203 (256 KiB)", "le25fw203", 256 * KiB, false, 0, 7},
        {"read M45PE20 (256 KiB)", "m45pe20", 256 * KiB, false, 0, 0},
        {"read M45PE80 (1 MiB)", "m45pe80", MiB, false, 0, 0},
        {"read M45PE80 infrared (1 MiB)", "ir-m45pe80", MiB, false, 0, 0},
        {"read MX25L6445E (8 MiB)", "mx25l6445e", 8 * MiB, false, 0, 150},
        {"write+verify LE25FW203 (256 KiB)", "le25fw203", 256 * KiB, true, 0, 0},
        {"write+verify M45PE20 (256 KiB)", "m45pe20", 256 * KiB, true, 0, 0},
        {"write+verify M45PE80 (1 MiB)", "m45pe80", MiB, true, 0, 0},
        {"write+verify M45PE80 infrared (1 MiB)", "ir-m45pe80", MiB, true, 0, 0},
        {"write+verify MX25L6445E (8 MiB)", "mx25l6445e", 8 * MiB, true, 0, 650},
        {"write+verify MX25L6445E, 512 KiB save", "mx25l6445e", 8 * MiB, true, 512 * KiB, 300},
    };
    int missed = 0;
    std::printf("%-40s %9s %10s %9s %10s  %s\n", "run", "typ wall", "typ model", "max wall",
                "max model", "goal (typ model)");
    for (const Run& run : runs) {
        Outcome typ = run_once(run, "typ");
        Outcome max = run_once(run, "max");
        std::string goal = "-";
        if (run.goal_s > 0) {
            bool met = typ.ok && typ.modeled_s >= 0 && typ.modeled_s <= run.goal_s;
            missed += !met;
            char text[32];
            std::snprintf(text, sizeof text, "<= %g s %s", run.goal_s, met ? "met" : "MISSED");
            goal = text;
        }
        std::printf("%-40s %9.2f %10.3f %9.2f %10.3f  %s%s\n", run.name, typ.wall_s, typ.modeled_s,
                    max.wall_s, max.modeled_s, goal.c_str(),
                    typ.ok && max.ok ? "" : "  (run failed)");
        std::fflush(stdout);
    }
    return missed == 0 ? 0 : 1;
}
