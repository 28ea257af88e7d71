// The temporary files that an interrupt handler removes (platform/interrupts.h), shared by
// the POSIX and the Windows handlers: filled by track_temporary while interrupts are held,
// read by the handler.
#pragma once
#include <csignal>

// A run writes two files at a time, a text dump and a binary file; room for twice that.
enum { TEMPORARIES_MAX = 4, TEMPORARY_NAME_SIZE = 640 };

extern char temporaries[TEMPORARIES_MAX][TEMPORARY_NAME_SIZE];
extern volatile std::sig_atomic_t temporary_count;
