// Console services shared by every stage of a run.
#pragma once

// "(%4.1f%%)\r" for totals of 256 or more, at every 128th index.
void show_progress(int index, int total);

// Prints the key-wait prompt and waits for one key press.
void wait_key();

// Ends the process with the given exit code (1 when console output has failed), after
// pushing out all console output.
[[noreturn]] void end_run(int code);

// Ends the run after a fatal error whose message has been printed: closes the adapter
// when the run is connected to it, waits for a key, exit code 1.
[[noreturn]] void fail_run();

// Ends the run like fail_run, with "Error: アダプタとの通信に失敗しました\n", when a transfer
// to or from the adapter failed since the previous check: what was read since then may
// be garbage, and what was written may not have arrived. A run whose console output has
// failed (a closed pipe) ends there too, quietly. Called at fixed points of a run,
// before anything is based on the data moved since the previous one.
void check_link();

// The memory is being written or erased from now on (true), or no longer (false). While
// it is, an interrupt (Ctrl-C and the like) waits for check_interrupt; otherwise it ends
// the run at once.
void changing_memory(bool changing);

// Ends the run like fail_run when an interrupt came while the memory was being changed,
// saying that the cartridge is only partly written (or erased) and where its backup is.
// Called between the bytes, pages and sectors of a write or erase.
void check_interrupt();
