// The state of the one run a process makes: written by the stage that determines it,
// read by the later ones.
#pragma once
#include "platform/winapi.h"

typedef int RunMode;  // the kind of run
enum { RUN_READ = 0, RUN_WRITE = 1, RUN_ERASE = 2 };

typedef int SaveType;  // the kind of save memory; 0 until it is identified
enum { SAVE_EEPROM_9BIT = 1, SAVE_EEPROM_16BIT = 2, SAVE_FLASH = 3, SAVE_EEPROM_24BIT = 4 };

// The buffers hold the largest save memory the tool handles: 8 MiB, the largest serial
// FLASH of DS cartridges (and as much as the 24-bit fields of a streamed transfer carry).
enum { BUFFER_SIZE = 0x800000, PATH_SIZE = 512 };

extern unsigned char cart_buffer[BUFFER_SIZE];   // every read of the memory; address = offset
extern unsigned char image_buffer[BUFFER_SIZE];  // the file image to write
extern unsigned char first_read[BUFFER_SIZE];    // the first of the two reads of a backup
extern int data_length;                          // bytes of image_buffer the loaded file covers
extern char input_path[PATH_SIZE];
extern char backup_prefix[PATH_SIZE];  // directory part of input_path, or ""
extern RunMode run_mode;
extern SaveType save_type;
extern int save_size;
extern HANDLE adapter_handle;
extern bool adapter_connected;  // adapter_handle is open and must be closed
