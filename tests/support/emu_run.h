// Runs of pelkat-emu as a process in a scratch folder of their own, and what a test needs
// to judge them: the tool's messages, the exit code, the launcher's statistics (with
// --stats) and the files left behind.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

struct EmuResult {
    int exit_code = -1;
    std::string out;  // standard output, exactly as written (CP932 under LC_ALL=C)
    std::string err;  // the launcher's diagnostics
    std::vector<std::string> messages;  // out split at "\n" and "\r", empty pieces dropped
    double virtual_s = -1;              // modeled hardware time, from --stats
    uint64_t control = 0, bulk_out = 0, bulk_in = 0;  // transfers, from --stats

    // The message before the key-wait prompt; "" when the output does not end with it.
    std::string last_message() const;
    bool printed(const std::string& message) const;
    uint64_t transfers() const { return control + bulk_out + bulk_in; }
};

class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    // Names of the entries in the folder, sorted.
    std::vector<std::string> entries() const;
    // Runs pelkat-emu with the given arguments in the folder, standard input empty (the
    // key wait returns at once), under the C locale (the tool writes Shift-JIS). Shell
    // words may go before the program (such as "ulimit -f 2;", "timeout 10" or another
    // locale's "env LANG=..."), and standard output elsewhere than into EmuResult::out
    // (such as ">&-" to close it).
    EmuResult run(const std::string& arguments, const std::string& before = "",
                  const std::string& output = "") const;
#ifndef _WIN32
    // The same for another program, under the C locale too (its arguments go through
    // the shell).
    EmuResult run_other(const std::string& program, const std::string& arguments) const;
#endif
    // Leaves the folder in place at the end, for a look after a failure.
    void keep() { keep_ = true; }

private:
    std::string path_;
    bool keep_ = false;
};

// The pelkat-emu option that starts the adapter running the firmware of the previous
// release (tests/data/firmware_fde700b.bin), as an adapter is that such a release
// loaded: for runs that must pass by the paths for an older firmware.
std::string previous_firmware_option();

Bytes read_file(const std::string& path);  // empty when missing or a folder
bool is_folder(const std::string& path);
bool exists(const std::string& path);  // a file or a folder
void write_file(const std::string& path, const Bytes& bytes);
Bytes pattern(size_t length, uint32_t seed);
// The text dump of the bytes, formatted here independently of the tool's writer.
Bytes text_dump(const Bytes& bytes);
// Whether a backup pair in the folder, "backup.txt" and "backup.sav" or an older pair
// kept beside them ("backup-....txt" and the ".sav" of the same stem), holds exactly
// these contents.
bool holds_backup(const ScratchFolder& folder, const Bytes& text, const Bytes& binary);
// Whether the entry is an older backup file kept by a run ("backup-" and more).
bool is_kept_backup(const std::string& name);
