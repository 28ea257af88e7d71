// The fault matrix: read, write and erase runs of pelkat-emu on each chip type under each
// injected fault, at several points of a run. Every cell is judged by the same rules:
// - the run ends with exit code 0 or 1 and a message that such an end prints;
// - a success is a success: the files or the cartridge hold what the run promised;
// - each of the four result files is either the older file that was there before or
//   complete and equal to the cartridge's contents before the run; an older backup that
//   a new one replaced is kept beside it; no temporary file stays;
// - the cartridge is unchanged unless writing or erasing began, and it is never changed
//   without a complete backup on disk;
// - the run ends within a bounded stretch of virtual time.
// - a run that read garbage never ends as a success: flaky contacts, a reinserted
//   cartridge and dropped writes end with an error or with what the run promised;
// - an interrupt ends a run at once (no key wait) while the memory is only read, and
//   while it is changed after the byte, page or sector under way, naming the backup.
// The points of a run (identification, backup read, erase, programming, verify) are
// found from healthy runs of the same chip, by their transfer counts and virtual times.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "emu_run.h"

namespace {

const std::string FINISHED = "終了しました。";
const std::string NOT_FOUND = "Error: EZ-USBが見つかりませんでした";
const std::string LINK_FAILED = "Error: アダプタとの通信に失敗しました";
const std::string UNKNOWN = "未知の方式なので、処理できませんでした";
const std::string TRY_AGAIN = "(もう一度、書き込みを試みて下さい)";
const std::string TRY_ERASING_AGAIN = "(もう一度、消去を試みて下さい)";
const std::string ERASE_HANGS = "Error: フラッシュメモリの消去が終わりませんでした";
const std::string WRITE_HANGS = "Error: 書き込みが終わりませんでした(adr=";
const std::string ERASING = "カートリッジデータ消去中です...";
const std::string WRITING = "カートリッジデータ書き込み中です...";
const std::string BACKED_UP = "バックアップしました(backup.txt, backup.sav)";
const std::string UNSTABLE = "Error: カートリッジの読み込みが安定しません(adr=";
const std::string CLEAN_CONTACTS = "(カートリッジの端子を掃除して、挿し直して下さい)";
const std::string INTERRUPTED = "Error: 中断しました。カートリッジは途中まで書き込まれています";
const std::string BACKUP_NAMED = "(バックアップ: backup.txt, backup.sav)";
const std::string OLDER_TEXT = "an older file\r\n";
const Bytes OLDER(OLDER_TEXT.begin(), OLDER_TEXT.end());
const char* const RESULT_FILES[] = {"backup.txt", "backup.sav", "savedata.txt", "savedata.sav"};

enum class RunKind { read, write, erase };

struct Chip {
    const char* name;
    size_t size;
    bool flash;
    bool contact_cells = false;      // flaky contacts, dropped writes, a reinsertion
    bool interrupt_cells = false;    // signals at each stage of a run (only those)
    bool previous_firmware = false;  // the adapter runs the previous release's firmware
};

// What a cell's fault must lead to, beyond the rules every cell obeys.
enum class Expect {
    finished,      // the run completes as if nothing happened
    not_found,     // the adapter is never reached: exit 0, nothing changes
    unknown,       // identification recognises nothing and ends the run
    link_failed,   // a failed transfer after the connection: the run stops with its message
    verify_fails,  // the write or erase does not take: the read-back reports it
    erase_hangs,   // the erase never finishes: the run gives up with its message
    write_hangs,   // an EEPROM write never finishes: the run gives up with its message
    stops,         // an error end: the verification finds the cartridge gone
    any_end,       // any documented end: a pulled cartridge reads like erased memory,
                   // so one pulled during an erase can pass its read-back
    unstable,      // the two reads differ: the run stops before it changes anything
    sound,         // garbled bits somewhere: an error end, or a success that is one
    at_once,       // an interrupt ends the process on the spot, without the key wait
    interrupted,   // an interrupt while writing: the run stops, naming the backup
};

bool starts_with(const std::string& text, const std::string& start) {
    return text.rfind(start, 0) == 0;
}

struct Cell {
    std::string fault;  // --fault SPEC
    Expect expect;
    std::string point;         // where in the run the fault strikes, for the failure report
    std::string printed = "";  // a message the run must print besides its last one
};

std::string run_arguments(RunKind run) {
    return run == RunKind::read ? "" : run == RunKind::write ? " -- game.sav" : " -- -e";
}

class FaultMatrix : public testing::TestWithParam<std::tuple<Chip, RunKind>> {
protected:
    Chip chip = std::get<0>(GetParam());
    RunKind run = std::get<1>(GetParam());
    Bytes cart = pattern(chip.size, 0x5eed + static_cast<uint32_t>(chip.size));
    Bytes image = pattern(chip.size, 0x1234);

    std::string chip_options() const {
        return std::string("--stats --chip ") + chip.name + " --cart cart.bin" +
               (chip.previous_firmware ? " " + previous_firmware_option() : "");
    }

    EmuResult run_cell(ScratchFolder& folder, const std::string& fault) {
        write_file(folder.file("cart.bin"), cart);
        write_file(folder.file("game.sav"), image);
        for (const char* name : RESULT_FILES) write_file(folder.file(name), OLDER);
        std::string options = chip_options();
        if (!fault.empty()) options += " --fault " + fault;
        return folder.run(options + run_arguments(run));
    }

    // A healthy run of this chip and kind, for the points of the cells.
    EmuResult baseline(RunKind kind, const Bytes& file) {
        ScratchFolder folder;
        write_file(folder.file("cart.bin"), cart);
        write_file(folder.file("game.sav"), file);
        EmuResult result = folder.run(chip_options() + run_arguments(kind));
        EXPECT_EQ(result.exit_code, kind == RunKind::write && file.size() != chip.size ? 1 : 0)
            << result.out;
        return result;
    }

    void check_cell(const Cell& cell, const EmuResult& r, const ScratchFolder& folder,
                    double time_bound) {
        SCOPED_TRACE("fault " + cell.fault + " " + cell.point + "\n" + r.out + r.err);
        const std::string last = r.last_message();
        if (cell.expect == Expect::at_once) {
            EXPECT_EQ(r.exit_code, 1);
            EXPECT_EQ(last, "") << "ended on the spot, without the key wait";
        } else {
            ASSERT_NE(last, "") << "the output ends with the key-wait prompt";
        }
        if (r.exit_code == 0) {
            EXPECT_TRUE(last == FINISHED || last == NOT_FOUND) << last;
        } else if (cell.expect != Expect::at_once) {
            EXPECT_EQ(r.exit_code, 1);
            EXPECT_TRUE(starts_with(last, "Error: ") || last == UNKNOWN || last == TRY_AGAIN ||
                        last == TRY_ERASING_AGAIN || last == CLEAN_CONTACTS || last == BACKUP_NAMED)
                << last;
        }
        bool unstable = false;
        for (const std::string& m : r.messages) unstable = unstable || starts_with(m, UNSTABLE);
        EXPECT_EQ(unstable, last == CLEAN_CONTACTS) << "the advice follows the error";
        switch (cell.expect) {
        case Expect::finished: EXPECT_EQ(last, FINISHED); break;
        case Expect::not_found: EXPECT_EQ(last, NOT_FOUND); break;
        case Expect::unknown: EXPECT_EQ(last, UNKNOWN); break;
        case Expect::link_failed: EXPECT_EQ(last, LINK_FAILED); break;
        case Expect::verify_fails:
            EXPECT_EQ(last, run == RunKind::erase ? TRY_ERASING_AGAIN : TRY_AGAIN);
            break;
        case Expect::erase_hangs: EXPECT_EQ(last, ERASE_HANGS); break;
        case Expect::write_hangs: EXPECT_EQ(last.rfind(WRITE_HANGS, 0), 0u) << last; break;
        case Expect::stops: EXPECT_EQ(r.exit_code, 1); break;
        case Expect::any_end:
        case Expect::sound:
        case Expect::at_once: break;
        case Expect::unstable: EXPECT_EQ(last, CLEAN_CONTACTS); break;
        case Expect::interrupted:
            EXPECT_EQ(last, BACKUP_NAMED);
            EXPECT_TRUE(r.printed(INTERRUPTED));
            break;
        }
        if (!cell.printed.empty()) {
            EXPECT_TRUE(r.printed(cell.printed)) << cell.printed;
        }
        if (cell.expect != Expect::at_once) {  // the statistics went with the process
            EXPECT_GE(r.virtual_s, 0.0);
            EXPECT_LE(r.virtual_s, time_bound) << "the run ends in bounded virtual time";
        }

        const Bytes cart_after = read_file(folder.file("cart.bin"));
        const Bytes dump = text_dump(cart);
        for (const char* name : RESULT_FILES) {
            Bytes content = read_file(folder.file(name));
            bool text = std::string(name).find(".txt") != std::string::npos;
            // A run that found its reads unstable saved the first of them, garbled.
            EXPECT_TRUE(content == OLDER || content == (text ? dump : cart) || unstable)
                << name << " is the older file or a complete copy of the cartridge";
        }
        const std::vector<std::string> expected_entries = {
            "backup.sav", "backup.txt", "cart.bin", "game.sav", "savedata.sav", "savedata.txt"};
        std::vector<std::string> entries;
        for (const std::string& name : folder.entries()) {
            // Reads that differ keep the older savedata beside the new, as backups do.
            if (is_kept_backup(name) || (unstable && name.rfind("savedata-", 0) == 0)) {
                EXPECT_EQ(read_file(folder.file(name)), OLDER) << name << " is the older file, kept";
            } else {
                entries.push_back(name);
            }
        }
        EXPECT_EQ(entries, expected_entries) << "no temporary file stays";
        EXPECT_TRUE(holds_backup(folder, OLDER, OLDER)) << "the older backup is never lost";

        if (!r.printed(ERASING) && !r.printed(WRITING)) {
            EXPECT_EQ(cart_after, cart) << "cartridge unchanged";
        }
        if (cart_after != cart) {
            EXPECT_EQ(read_file(folder.file("backup.sav")), cart)
                << "changed only with a backup on disk";
            EXPECT_EQ(read_file(folder.file("backup.txt")), dump)
                << "changed only with a backup on disk";
        }
        if (last == FINISHED && cell.expect != Expect::any_end) {
            const Bytes promised = run == RunKind::read    ? cart
                                   : run == RunKind::write ? image
                                                           : Bytes(chip.size, 0xFF);
            EXPECT_EQ(run == RunKind::read ? read_file(folder.file("savedata.sav")) : cart_after,
                      promised);
            EXPECT_EQ(r.printed(BACKED_UP), run != RunKind::read);
        }
        if (last == NOT_FOUND) {
            EXPECT_EQ(cart_after, cart);
            for (const char* name : RESULT_FILES)
                EXPECT_EQ(read_file(folder.file(name)), OLDER) << name;
        }
    }

    // Signals at each stage of a write run, from the virtual times of healthy runs: a
    // read run (identification and two reads) and the whole write run (its verification
    // as long as one read).
    std::vector<Cell> interrupt_cells(const EmuResult& identify, double* time_bound) {
        const EmuResult read = baseline(RunKind::read, image);
        const EmuResult whole = baseline(RunKind::write, image);
        *time_bound = whole.virtual_s + 90.0;
        const double one_read = (read.virtual_s - identify.virtual_s) / 2;
        const double writing_end = whole.virtual_s - one_read - 3.0;  // the 3 s settle wait
        auto at = [](double seconds) {
            return std::to_string(static_cast<uint64_t>(1000 * seconds));
        };
        std::vector<Cell> result = {
            {"sigint=" + at(identify.virtual_s / 2), Expect::at_once, "identification"},
            {"sigint=" + at(identify.virtual_s + one_read / 2), Expect::at_once, "first read"},
            {"sigint=" + at(identify.virtual_s + 1.5 * one_read), Expect::at_once, "second read"},
            {"sigint=" + at(writing_end - 1.0), Expect::interrupted, "programming"},
            {"sigint=" + at(whole.virtual_s - one_read / 2), Expect::at_once, "verify"},
        };
        if (chip.flash) {
            // A sector erase takes most of a second: the second Ctrl-C comes during it.
            const double erasing = read.virtual_s + 1.0;
            result.push_back({"sigint=" + at(erasing), Expect::interrupted, "erase"});
            result.push_back({"sigint=" + at(erasing) + " --fault sigint=" + at(erasing + 0.05),
                              Expect::at_once, "erase, twice"});
        } else {
            result.push_back(
                {"sigterm=" + at(writing_end - 1.0), Expect::interrupted, "programming"});
            result.push_back(
                {"sighup=" + at(writing_end - 1.0), Expect::interrupted, "programming"});
        }
        return result;
    }

    // Contacts that garble bits at several rates and seeds, writes that do not take, and
    // a cartridge pulled and put back while it is read and while it is changed.
    std::vector<Cell> contact_cells(double reading_s, double changing_s) {
        std::vector<Cell> result;
        const int seeds = chip.flash ? 2 : 3;  // a FLASH read is 512 times as long
        for (int ppm : {1, 10, 100, 1000})
            for (int seed = 1; seed <= seeds; ++seed)
                result.push_back(
                    {"flaky=" + std::to_string(ppm) + " --seed " + std::to_string(seed),
                     Expect::sound, "every read"});
        result.push_back({"drop-writes",
                          run == RunKind::read ? Expect::finished : Expect::verify_fails,
                          "programming", run == RunKind::read ? "" : BACKED_UP});
        result.push_back({"reinsert=" + std::to_string(static_cast<uint64_t>(1000 * reading_s)),
                          Expect::unstable, run == RunKind::read ? "reading" : "backup read"});
        // The write or erase under way is lost: the read-back finds it, or (a FLASH erase,
        // whose status poll was cut off and reads undriven, busy) the erase limit stops it.
        if (run != RunKind::read)
            result.push_back(
                {"reinsert=" + std::to_string(static_cast<uint64_t>(1000 * changing_s)),
                 run == RunKind::write ? Expect::verify_fails : Expect::stops,
                 run == RunKind::write ? "programming" : "erase"});
        return result;
    }

    // The cells of this chip and kind of run, with their points found from healthy runs.
    std::vector<Cell> cells(double* time_bound) {
        const EmuResult identify =
            baseline(RunKind::write, Bytes(16, 0));  // stops after identification
        if (chip.interrupt_cells) return interrupt_cells(identify, time_bound);
        if (chip.size == 0x10000) {
            // The 64 KiB EEPROM takes the 8 KiB one's paths but for its size test.
            const std::string n =
                std::to_string(identify.control + (identify.bulk_out + identify.bulk_in) / 2);
            *time_bound = identify.virtual_s + 90.0;
            return {{"usb-fail=" + n, Expect::link_failed, "identification"},
                    {"usb-fail-once=" + n, Expect::link_failed, "identification"}};
        }
        const EmuResult read = baseline(RunKind::read, image);
        const EmuResult whole = run == RunKind::read ? read : baseline(run, image);
        // --stats counts the host controller's own requests of the adapter's two
        // enumerations (plugged in, and again after the firmware download; six each: the
        // first device descriptor read, SET_ADDRESS, the device descriptor, the
        // configuration descriptor's head and whole, SET_CONFIGURATION) among the control
        // transfers; the fault counter counts only the tool's. A phase of a dozen
        // transfers (the streamed read of an EEPROM) is found only without them. An adapter
        // already running a firmware is not enumerated in the tool's run.
        const uint64_t enumeration_requests = chip.previous_firmware ? 0 : 2 * 6;
        const uint64_t connect = whole.control - enumeration_requests;
        const uint64_t ident_end = connect + identify.bulk_out + identify.bulk_in;
        const uint64_t read_end = connect + read.bulk_out + read.bulk_in;
        const uint64_t total = whole.transfers() - enumeration_requests;
        // Fractions of a run: the read run is identification then reading; the write run
        // adds erasing and programming, then a verification as long as the backup read.
        std::vector<std::pair<std::string, uint64_t>> points = {
            {"identification", (connect + ident_end) / 2}};
        points.push_back(
            {run == RunKind::read ? "reading" : "backup read", (ident_end + read_end) / 2});
        if (run == RunKind::erase) points.push_back({"erase", (read_end + total) / 2});
        if (run == RunKind::write) {
            const uint64_t verify_start = total - (read_end - ident_end);
            points.push_back({chip.flash ? "erase" : "programming", read_end + 4});
            points.push_back({"programming", (read_end + verify_start) / 2});
            points.push_back({"verify", (verify_start + total) / 2});
        }
        *time_bound =
            whole.virtual_s + 90.0;  // the longest built-in wait: 60 s for one sector erase

        std::vector<Cell> result = {{"", Expect::finished, "healthy"},
                                    {"unplug=0", Expect::not_found, "start"}};
        if (!chip.previous_firmware)  // it is running: nothing is downloaded
            result.push_back({"no-return", Expect::not_found, "download"});
        // Every point gets a link that fails for good; the one-off failure and the vanishing
        // adapter strike in the middle of the run.
        for (const auto& p : points) {
            result.push_back(
                {"usb-fail=" + std::to_string(p.second), Expect::link_failed, p.first});
        }
        const auto& middle = points[points.size() / 2];
        result.push_back(
            {"usb-fail-once=" + std::to_string(middle.second), Expect::link_failed, middle.first});
        result.push_back(
            {"unplug=" + std::to_string(middle.second), Expect::link_failed, middle.first});
        // A pulled cartridge, after identification: from the virtual times of the phases.
        if (run != RunKind::read) {
            const double stop_ms = 1000 * (read.virtual_s + whole.virtual_s) / 2;
            result.push_back({"pull=" + std::to_string(static_cast<uint64_t>(stop_ms)),
                              run == RunKind::write ? Expect::stops : Expect::any_end,
                              run == RunKind::write ? "programming" : "erase"});
        }
        if (run != RunKind::read) {
            // A bit that does not take where the new file (or the erase) needs it changed.
            size_t at = 0x10;
            const uint8_t wanted = 0xFF;
            while (at < chip.size &&
                   ((cart[at] ^ (run == RunKind::write ? image[at] : wanted)) & 0x01) == 0)
                ++at;
            char verify_line[64];
            std::snprintf(verify_line, sizeof verify_line,
                          run == RunKind::write ? "Error: 正しく書き込まれていません(adr=%04X)"
                                                : "Error: 正しく消去されていません(adr=%04X)",
                          static_cast<unsigned>(at));
            result.push_back({"stuck-bits=" + std::to_string(at) + ":1", Expect::verify_fails,
                              run == RunKind::write ? "programming" : "erase", verify_line});
        }
        if (run == RunKind::write) {
            // Twice the longest write cycle the data sheets allow is waited for; an EEPROM
            // that stays busy for seconds stops the run before its next write.
            result.push_back({"slow-program=10000", Expect::finished, "programming"});
            if (!chip.flash)
                result.push_back({"slow-program=3000000", Expect::write_hangs, "programming"});
        }
        // A data-in line stuck low is no memory. Stuck high it reads as a blank one, which
        // nothing can tell from a real blank memory: a write run then guesses the type from
        // the file and overwrites whatever the cartridge held.
        result.push_back({"data-in=0", Expect::unknown, "identification"});
        if (run != RunKind::write)
            result.push_back({"data-in=1", Expect::unknown, "identification"});
        if (chip.flash && run != RunKind::read)
            result.push_back({"erase-hang", Expect::erase_hangs, "erase"});
        if (!chip.flash)
            result.push_back({"erase-hang", Expect::finished, "no erase instruction used"});
        if (chip.contact_cells) {
            const double first_read =
                identify.virtual_s + (read.virtual_s - identify.virtual_s) / 4;
            // Halfway through the writing or erasing, which ends before the settle wait and
            // the verification's read. A FLASH erase comes right after the backup and takes
            // a fraction of a second.
            const double one_read = (read.virtual_s - identify.virtual_s) / 2;
            const double settle_s = run == RunKind::write ? 3.0 : chip.flash ? 0.0 : 1.0;
            const double changing_end = whole.virtual_s - one_read - settle_s;
            const double changing = chip.flash && run == RunKind::erase
                                        ? read.virtual_s + 0.01
                                        : (read.virtual_s + changing_end) / 2;
            for (const Cell& cell : contact_cells(first_read, changing)) result.push_back(cell);
        }
        return result;
    }
};

TEST_P(FaultMatrix, EveryCellEndsSafely) {
    double time_bound = 0;
    int flaky_runs = 0, refused = 0, finished = 0, broken = 0;
    const testing::TestResult& results =
        *testing::UnitTest::GetInstance()->current_test_info()->result();
    for (const Cell& cell : cells(&time_bound)) {
        ScratchFolder folder;
        EmuResult result = run_cell(folder, cell.fault);
        const int failures_before = results.total_part_count();
        check_cell(cell, result, folder, time_bound);
        if (starts_with(cell.fault, "flaky=")) {
            ++flaky_runs;
            (result.exit_code == 0 ? finished : refused) += 1;
            broken += results.total_part_count() != failures_before;
        }
    }
    if (flaky_runs > 0)
        std::printf("flaky contacts: %d runs, %d refused, %d finished, %d broken\n", flaky_runs,
                    refused, finished, broken);
}

const Chip M95040{"m95040", 0x200, false, true};
const Chip M95640{"m95640", 0x2000, false};
const Chip M95512{"m95512", 0x10000, false};
const Chip LE25FW203{"le25fw203", 0x40000, true, true};
const Chip M95512_INTERRUPTS{"m95512", 0x10000, false, false, true};
const Chip MX25L6445E_INTERRUPTS{"mx25l6445e", 0x800000, true, false, true};

// The previous release's firmware writes EEPROMs byte by byte: the cells of that path.
const Chip M95040_PREVIOUS_FIRMWARE{"m95040", 0x200, false, false, false, true};

void PrintTo(const Chip& chip, std::ostream* out) {
    *out << chip.name << (chip.previous_firmware ? " on the previous firmware" : "");
}
void PrintTo(RunKind run, std::ostream* out) {
    *out << (run == RunKind::read ? "read" : run == RunKind::write ? "write" : "erase");
}

std::string cell_name(const testing::TestParamInfo<std::tuple<Chip, RunKind>>& info) {
    const RunKind run = std::get<1>(info.param);
    const Chip& chip = std::get<0>(info.param);
    return std::string(chip.name) + (chip.previous_firmware ? "_previous_firmware" : "") +
           (run == RunKind::read    ? "_read"
            : run == RunKind::write ? "_write"
                                    : "_erase");
}

INSTANTIATE_TEST_SUITE_P(Chips, FaultMatrix,
                         testing::Combine(testing::Values(M95040, M95640, LE25FW203),
                                          testing::Values(RunKind::read, RunKind::write,
                                                          RunKind::erase)),
                         cell_name);
INSTANTIATE_TEST_SUITE_P(LargeEeprom, FaultMatrix,
                         testing::Values(std::make_tuple(M95512, RunKind::read)), cell_name);
// Signals at each stage of a write run. These runs take many seconds each (the 64 KiB
// EEPROM is written a byte at a time, the 8 MiB FLASH is large): labelled slow.
INSTANTIATE_TEST_SUITE_P(SlowInterrupts, FaultMatrix,
                         testing::Values(std::make_tuple(M95512_INTERRUPTS, RunKind::write),
                                         std::make_tuple(MX25L6445E_INTERRUPTS, RunKind::write)),
                         cell_name);
INSTANTIATE_TEST_SUITE_P(PreviousFirmware, FaultMatrix,
                         testing::Combine(testing::Values(M95040_PREVIOUS_FIRMWARE),
                                          testing::Values(RunKind::write, RunKind::erase)),
                         cell_name);

}  // namespace
