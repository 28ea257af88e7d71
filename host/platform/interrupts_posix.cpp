// POSIX interrupts: SIGINT, SIGTERM and SIGHUP. A signal that the run was started with
// ignored (nohup, a background job) stays ignored. The handler is async-signal-safe: it
// reads sig_atomic_t flags and names that are added only while these signals are
// blocked, and calls only unlink and _exit.
#include <signal.h>
#include <unistd.h>

#include <cstring>

#include "platform/interrupt_temporaries.h"
#include "platform/interrupts.h"

namespace {

enum { SIGNALS = 3 };

const int caught_signals[SIGNALS] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction previous[SIGNALS];
bool installed[SIGNALS];
sigset_t caught_set;
bool held;

volatile sig_atomic_t deferring;
volatile sig_atomic_t pending;

void on_interrupt(int) {
    if (deferring && !pending) {
        pending = 1;
        return;
    }
    for (int i = 0; i < temporary_count; ++i) unlink(temporaries[i]);
    _exit(1);
}

}  // namespace

void catch_interrupts() {
    sigemptyset(&caught_set);
    for (int signal_number : caught_signals) sigaddset(&caught_set, signal_number);
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = on_interrupt;
    action.sa_mask = caught_set;  // one handler at a time
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < SIGNALS; ++i) {
        sigaction(caught_signals[i], nullptr, &previous[i]);
        installed[i] = previous[i].sa_handler != SIG_IGN;
        if (installed[i]) sigaction(caught_signals[i], &action, nullptr);
    }
}

void defer_interrupts(bool defer) { deferring = defer ? 1 : 0; }

bool interrupt_pending() { return pending != 0; }

void release_interrupts() {
    for (int i = 0; i < SIGNALS; ++i) {
        if (installed[i]) sigaction(caught_signals[i], &previous[i], nullptr);
        installed[i] = false;
    }
}

void hold_interrupts() {
    if (held) return;
    sigprocmask(SIG_BLOCK, &caught_set, nullptr);
    held = true;
}

void let_interrupts() {
    held = false;
    sigprocmask(SIG_UNBLOCK, &caught_set, nullptr);
}
