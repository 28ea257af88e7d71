// The read, write and erase procedures of a run, once the memory is identified.
#pragma once

// Reads the whole memory (save_size bytes) into cart_buffer.
void read_save_memory();
// Reads the memory and writes it to backup_prefix + "backup.txt" / "backup.sav".
void take_backup();
void read_run();
void write_run();
void erase_run();
