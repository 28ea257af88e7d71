// Windows interrupts: the console's control events, which the system delivers to a
// thread of their own. Ctrl-C and Ctrl-Break end the process unless the memory is being
// changed; the close, logoff and shutdown events end it when the handler returns, so the
// handler of a deferred one waits for the run to stop by itself (the system allows a few
// seconds; the byte or page under way takes milliseconds). Files being written are
// guarded by a lock that the handler takes before it removes the temporary ones.
#include <windows.h>

#include "platform/interrupt_temporaries.h"
#include "platform/interrupts.h"

namespace {

// A slim lock needs no initialisation: the files are guarded even where no handler was
// installed (the front end's tests write files without one).
SRWLOCK file_lock = SRWLOCK_INIT;
bool held;
volatile LONG deferring;
volatile LONG pending;

BOOL WINAPI on_control(DWORD event) {
    if (deferring && InterlockedExchange(&pending, 1) == 0) {
        if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) return TRUE;
        Sleep(INFINITE);
    }
    AcquireSRWLockExclusive(&file_lock);
    for (int i = 0; i < temporary_count; ++i) DeleteFileA(temporaries[i]);
    TerminateProcess(GetCurrentProcess(), 1);  // no clean-up that could wait on the run
    return TRUE;
}

}  // namespace

void catch_interrupts() { SetConsoleCtrlHandler(on_control, TRUE); }

void defer_interrupts(bool defer) { InterlockedExchange(&deferring, defer ? 1 : 0); }

bool interrupt_pending() { return pending != 0; }

void release_interrupts() { SetConsoleCtrlHandler(on_control, FALSE); }

void hold_interrupts() {
    if (held) return;
    AcquireSRWLockExclusive(&file_lock);
    held = true;
}

void let_interrupts() {
    if (!held) return;
    held = false;
    ReleaseSRWLockExclusive(&file_lock);
}
