// pelkat-emu: the pelkat tool, built from the same sources, running against an emulated
// adapter through the emulated driver. The tool owns standard output and the exit code;
// the launcher speaks only on standard error.
#include "frontend/run_sequence.h"
#include "launcher/session.h"
#include "platform/driver_emu.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Everything the run needs lives until the process ends: the tool leaves through exit(),
// and the cartridge file, traces and statistics are finished by an exit handler.
emu_launcher::Session* session = nullptr;

void finish_session() { emu_launcher::finish(*session); }

}  // namespace

int main(int argc, char** argv) {
    session = new emu_launcher::Session;
    session->program = "pelkat-emu";
    std::string error;
    if (!emu_launcher::parse_options(argc, argv, session->options, error)) {
        std::fprintf(stderr, "pelkat-emu: %s\n", error.c_str());
        return emu_launcher::LAUNCHER_ERROR;
    }
    if (session->options.help) {
        std::fputs(emu_launcher::usage_text().c_str(), stdout);
        return 0;
    }
    emu_launcher::set_up(*session);
    emu_driver::set_recording(false);
    emu_driver::register_adapter(&session->adapter);
    std::atexit(finish_session);

    std::vector<char*> tool_argv;
    static char tool_name[] = "pelkat";
    tool_argv.push_back(tool_name);
    for (std::string& a : session->options.tool_args) tool_argv.push_back(&a[0]);
    tool_argv.push_back(nullptr);
    return pelkat_main(static_cast<int>(tool_argv.size() - 1), tool_argv.data());
}
