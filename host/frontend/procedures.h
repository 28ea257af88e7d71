// The read, write and erase procedures of a run, once the memory is identified.
#pragma once

// Reads the whole memory (save_size bytes) into cart_buffer.
void read_save_memory();
// Reads the memory and writes it to backup_prefix + "backup.txt" / "backup.sav",
// keeping an older pair that differs from it under a name of its own.
void take_backup();
void read_run();
void write_run();
void erase_run();  // reads the memory back: every byte 0xFF
