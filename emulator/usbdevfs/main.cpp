// pelkat-testbed: any program (the Linux pelkat, lsusb, a libusb or usbdevfs program)
// against the emulated adapter, unchanged: the program runs with umockdev's preload
// library, which shows it a mocked Linux USB bus with the adapter on it. The program owns
// standard output and its exit code; the test bed speaks only on standard error.
#include "launcher/session.h"
#include "usbdevfs/bus.h"

#include <glib-unix.h>
#include <glib.h>

#include <link.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr unsigned TICK_MS = 5;  // how often the bus follows the adapter and the wall clock
const char PRELOAD[] = "libumockdev-preload.so.0";

const char USAGE[] =
    "usage: pelkat-testbed [options] -- PROGRAM [ARGUMENTS]\n"
    "Runs PROGRAM under umockdev with an emulated EZ-USB adapter on a mocked Linux USB\n"
    "bus (sysfs, udev, /dev/bus/usb, usbdevfs): the Linux pelkat, lsusb or any other\n"
    "libusb or usbdevfs program, unchanged. The adapter starts as a freshly plugged bare\n"
    "chip; the firmware a program loads re-enumerates it as on a real bus. Exit code:\n"
    "the program's (128 + N when signal N ended it), or 2 when the test bed cannot run.\n"
    "\n"
    "  --kernel-driver NAME  a kernel driver of that name holds the bare chip's interface 0\n"
    "                    (a program detaches it and may give it back)\n"
    "  --busy            another program has claimed interface 0 (claims fail with EBUSY)\n"
    "  --log FILE        every usbdevfs request with its result, one line each\n";

struct Run {
    emu_launcher::Session session;
    usbdevfs::BusOptions bus;
    std::string log_path;
    GMainLoop* loop = nullptr;
    int status = 0;
};

// The test bed's own options come out of the command line; the rest are the launcher's.
bool take_own_options(int argc, char** argv, Run& run, std::vector<char*>& rest,
                      std::string& error) {
    rest.push_back(argv[0]);
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--") {
            rest.insert(rest.end(), argv + i, argv + argc);
            break;
        }
        if (arg == "--busy") {
            run.bus.busy = true;
        } else if (arg == "--kernel-driver" || arg == "--log") {
            if (i + 1 >= argc || argv[i + 1][0] == '\0') {
                error = "option " + arg + " needs a value";
                return false;
            }
            (arg == "--log" ? run.log_path : run.bus.kernel_driver) = argv[++i];
        } else {
            rest.push_back(argv[i]);
        }
    }
    return true;
}

[[noreturn]] void usage_error(const std::string& message) {
    std::fprintf(stderr, "pelkat-testbed: %s\n", message.c_str());
    std::exit(emu_launcher::LAUNCHER_ERROR);
}

bool preload_loaded() {
    return dl_iterate_phdr(
               [](dl_phdr_info* info, size_t, void*) {
                   return std::strstr(info->dlpi_name, PRELOAD) != nullptr ? 1 : 0;
               },
               nullptr) != 0;
}

// umockdev's preload library must be in this process too, not only in the program's:
// the uevents are built from the mocked sysfs. The test bed starts itself again with it,
// as umockdev-wrapper starts a program; the program inherits it.
void run_under_preload(char** argv) {
    if (preload_loaded()) return;
    if (std::getenv("PELKAT_TESTBED_PRELOAD") != nullptr)
        usage_error("umockdev's preload library (" + std::string(PRELOAD) + ") did not load");
    const char* preload = std::getenv("LD_PRELOAD");
    std::string preloads =
        std::string(PRELOAD) + (preload != nullptr ? std::string(":") + preload : "");
    setenv("LD_PRELOAD", preloads.c_str(), 1);
    setenv("PELKAT_TESTBED_PRELOAD", "1", 1);
#ifdef __SANITIZE_ADDRESS__
    // A sanitized build finds the preload library ahead of its runtime; that is harmless.
    const char* asan = std::getenv("ASAN_OPTIONS");
    std::string options = std::string(asan != nullptr ? asan : "") + ":verify_asan_link_order=0";
    setenv("ASAN_OPTIONS", options.c_str(), 1);
#endif
    char self[4096] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) > 0) execv(self, argv);
    usage_error(std::string("cannot start again under umockdev: ") + std::strerror(errno));
}

pid_t start(std::vector<std::string>& command) {
    std::vector<char*> argv;
    for (std::string& a : command) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        execvp(argv[0], argv.data());
        static const char message[] = "pelkat-testbed: cannot run the program\n";
        ssize_t ignored = write(STDERR_FILENO, message, sizeof message - 1);
        (void)ignored;
        _exit(127);
    }
    return pid;
}

}  // namespace

int main(int argc, char** argv) {
    run_under_preload(argv);
    // Every request of the program is a few round trips to this process, and the
    // preloaded library yields after each one: with the default timer slack of 50 us
    // each yield would cost that much. Threads and children take the setting over.
    prctl(PR_SET_TIMERSLACK, 1UL);

    static Run run;
    run.session.program = "pelkat-testbed";
    std::vector<char*> rest;
    std::string error;
    if (!take_own_options(argc, argv, run, rest, error) ||
        !emu_launcher::parse_options(int(rest.size()), rest.data(), run.session.options, error)) {
        usage_error(error);
    }
    if (run.session.options.help) {
        std::printf("%s%s", USAGE, emu_launcher::option_help().c_str());
        return 0;
    }
    if (run.session.options.tool_args.empty()) usage_error("no program to run (give it after --)");
    if (!run.log_path.empty()) {
        run.bus.log = std::fopen(run.log_path.c_str(), "w");
        if (run.bus.log == nullptr)
            usage_error("cannot write the log " + run.log_path + " (" + std::strerror(errno) + ")");
    }
    emu_launcher::set_up(run.session);

    int exit_code;
    try {
        usbdevfs::Bus bus(run.session.adapter, run.bus);
        static pid_t program = start(run.session.options.tool_args);
        if (program < 0)
            throw std::runtime_error(std::string("cannot start the program: ") +
                                     std::strerror(errno));
        run.loop = g_main_loop_new(nullptr, FALSE);
        g_timeout_add(
            TICK_MS,
            [](gpointer bus) -> gboolean {
                try {
                    static_cast<usbdevfs::Bus*>(bus)->tick();
                } catch (const std::exception& e) {
                    kill(program, SIGKILL);
                    emu_launcher::fail(run.session, e.what());
                }
                return G_SOURCE_CONTINUE;
            },
            &bus);
        g_child_watch_add(
            program,
            [](GPid, gint status, gpointer) {
                run.status = status;
                g_main_loop_quit(run.loop);
            },
            nullptr);
        // An interrupt from the terminal reaches the program too; the test bed stays
        // until the program has ended. A termination request is passed on.
        g_unix_signal_add(
            SIGINT, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
        g_unix_signal_add(
            SIGTERM,
            [](gpointer) -> gboolean {
                kill(program, SIGTERM);
                return G_SOURCE_CONTINUE;
            },
            nullptr);
        g_main_loop_run(run.loop);
        exit_code = WIFEXITED(run.status) ? WEXITSTATUS(run.status) : 128 + WTERMSIG(run.status);
    } catch (const std::exception& e) {
        emu_launcher::fail(run.session, e.what());
    }
    emu_launcher::finish(run.session);
    if (run.bus.log != nullptr) std::fclose(run.bus.log);
    return exit_code;
}
