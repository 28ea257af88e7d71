// Interrupts of a run: Ctrl-C, and the requests to end that the system sends (SIGTERM and
// SIGHUP; on Windows the console's Ctrl-Break, close, logoff and shutdown events).
//
// An interrupt ends the process at once, with exit code 1, unless the run is changing the
// memory: the handler removes the temporary files of the files being written (nothing
// else) and ends the process there, with no exit handlers and nothing flushed. No state
// of the process is worth keeping then: the memory is only being read (the adapter is
// left as a kill leaves it), and a file either is complete and in place or only a
// temporary one. Waiting for a safe point instead would mean checks deep inside every
// read loop, and a read of a large memory takes minutes. While the memory is being changed the
// handler only records the interrupt, and the run stops after the byte, page or sector
// under way (interrupt_pending); a further interrupt ends the process at once.
#pragma once

// Installs the handlers, at the start of a run.
void catch_interrupts();

// While true, an interrupt is only recorded: the memory is being written or erased.
void defer_interrupts(bool defer);

// True once an interrupt has been recorded.
bool interrupt_pending();

// The run is over: an interrupt takes its usual course again (during the key wait).
void release_interrupts();

// Between these two calls an interrupt waits: a temporary file is being created, written
// or renamed. hold_interrupts may be called when they are held already; let_interrupts
// lets them come whether held or not.
void hold_interrupts();
void let_interrupts();

// The temporary files that an interrupt removes before it ends the process: the name is
// copied, at most four of them at a time, and all forgotten at once when they are in
// place or removed. Called while interrupts are held.
void track_temporary(const char* name);
void forget_temporaries();
