// The command line: which kind of run it asks for, and the rules for a write run's
// file name.
#pragma once

// Besides the runs: the usage (a wrong argument count), the help and the version line.
enum { ARGS_USAGE = -1, ARGS_HELP = -2, ARGS_VERSION = -3 };

// RUN_READ with no argument, RUN_ERASE with exactly "-e" or "-E", ARGS_HELP with exactly
// "--help" or "-h", ARGS_VERSION with exactly "--version", RUN_WRITE with any other
// single argument (the file to write; ./--help names a file --help); ARGS_USAGE for any
// other argument count.
int classify_arguments(int argc, char** argv);

typedef int NameCheck;  // the verdict on a write run's file name
enum { NAME_OK = 0, NAME_TOO_LONG, NAME_BACKUP_TXT, NAME_BACKUP_SAV };

// Copies the argument into input_path and its directory part into backup_prefix.
// A name that would be overwritten by its own backup ("backup.txt" or "backup.sav"
// after the last directory separator, or any name of the very file that the backup
// will replace) is refused, and so is a name that does not fit
// input_path or whose directory part leaves no room for the backup file's name.
NameCheck apply_file_name_rules(const char* argument);
