// pelkat-emu as a process for every chip and every way of identifying it, and read,
// write and erase runs: standard output byte for byte, exit code, the files written,
// and the cartridge afterwards.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "emu_run.h"
#include "expected_runs.h"

namespace {

const std::string BLANK =
    "このカートリッジはおそらく未フォーマットです\n"
    "形式が判別できないため、正しく読み書きできないかもしれない\n"
    "(あるいはカートリッジがちゃんと挿さっていません)\n";
const std::string UNKNOWN = "未知の方式なので、処理できませんでした\n" + KEY;

// The further FLASH parts of later cartridges, and one behind an infrared transceiver.
// The runs of the second table take seconds each: they differ from those of the first
// only by size and identification, and are labelled slow.
const Chip FURTHER_PARTS[] = {chip_named("mx25l2005"), chip_named("ir-m45pe80")};
const Chip SLOWER_PARTS[] = {chip_named("m45pe40"),   chip_named("le25fw403a"),
                             chip_named("mx25l4005"), chip_named("m45pe80"),
                             chip_named("mx25l8005"), chip_named("mx25l6445e")};

// The 128 KiB EEPROM: no identification, the 24-bit probe, and a memory that repeats
// itself after 128 KiB. Its byte-by-byte write and erase take seconds.
const Chip M95M01 = chip_named("m95m01");

// The save files of emulators and cheat devices, built by their layouts (DeSmuME's
// src/mc.cpp and mc.h): the raw save inside.
void put_le32(Bytes& bytes, uint32_t value) {
    for (int i = 0; i < 4; i++) bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
}
Bytes bytes_of(const std::string& text) { return Bytes(text.begin(), text.end()); }
Bytes desmume_file(const Bytes& save) {
    Bytes file = save;
    Bytes text = bytes_of(
        "|<--Snip above here to create a raw sav by excluding this DeSmuME savedata footer:");
    file.insert(file.end(), text.begin(), text.end());
    for (uint32_t word : {uint32_t(save.size()), uint32_t(save.size()), 0u, 3u, 0u, 0u})
        put_le32(file, word);
    text = bytes_of("|-DESMUME SAVE-|");
    file.insert(file.end(), text.begin(), text.end());
    return file;
}
Bytes nocash_header(uint32_t method) {
    Bytes file = bytes_of("NocashGbaBackupMediaSavDataFile\x1A");
    file.resize(0x40, 0x00);
    Bytes media = bytes_of("SRAM");
    file.insert(file.end(), media.begin(), media.end());
    put_le32(file, method);
    return file;
}
Bytes nocash_file(const Bytes& save) {
    Bytes file = nocash_header(0);
    put_le32(file, uint32_t(save.size()));
    file.insert(file.end(), save.begin(), save.end());
    return file;
}
// Packed in runs: literal runs of up to 127 bytes, and repeats of a byte in the short
// (81h..FFh) and the long (80h, 16-bit count) form.
Bytes nocash_packed_file(const Bytes& save) {
    Bytes runs;
    size_t at = 0;
    while (at < save.size()) {
        size_t same = 1;
        while (at + same < save.size() && save[at + same] == save[at] && same < 0xFFFF) same++;
        if (same >= 128) {
            runs.insert(runs.end(), {0x80, save[at], uint8_t(same), uint8_t(same >> 8)});
        } else if (same >= 3) {
            runs.insert(runs.end(), {uint8_t(0x80 + same), save[at]});
        } else {
            same = std::min<size_t>(127, save.size() - at);
            runs.push_back(uint8_t(same));
            runs.insert(runs.end(), save.begin() + at, save.begin() + at + same);
        }
        at += same;
    }
    runs.push_back(0x00);
    Bytes file = nocash_header(1);
    put_le32(file, uint32_t(runs.size()));
    put_le32(file, uint32_t(save.size()));
    file.insert(file.end(), runs.begin(), runs.end());
    return file;
}
Bytes action_replay_file(const Bytes& save) {
    Bytes file = bytes_of("ARDS000000000001");
    file.resize(500, 0x00);
    file.insert(file.end(), save.begin(), save.end());
    return file;
}

class EndToEnd : public ::testing::Test {
protected:
    ScratchFolder folder;
    std::string out, err;
    EmuResult last;  // of the latest run

    void TearDown() override {
        if (HasFailure()) folder.keep();
    }

    std::string path(const std::string& name) const { return folder.file(name); }
    Bytes file(const std::string& name) const { return read_file(path(name)); }
    void put(const std::string& name, const Bytes& bytes) const { write_file(path(name), bytes); }

    // Runs pelkat-emu in the test's folder on a cartridge file holding contents, no key input.
    int run(const std::string& chip, const Bytes& contents, const std::string& tool_args,
            const std::string& options = "") {
        std::string cart;
        if (!contents.empty()) {  // an empty slot has no memory to keep
            put("cart.bin", contents);
            cart = " --cart cart.bin ";
        }
        EmuResult result = folder.run("--chip " + chip + cart + options + " -- " + tool_args);
        out = result.out;
        err = result.err;
        last = result;
        return result.exit_code;
    }

    // Each run of a loop starts without a backup, as in a fresh folder: an older one would
    // be kept, and the run would say so.
    void forget_backup(const std::string& stem) const {
        std::remove(path(stem + ".sav").c_str());
        std::remove(path(stem + ".txt").c_str());
    }

    void read_write_erase(const Chip& chip, const std::string& options = "");

    // The whole output of a write of a binary file that the size test refuses after
    // identification.
    static std::string refused_write(const std::string& name, const std::string& identified,
                                     uint32_t cart_size, size_t file_size) {
        return BANNER + "バイナリファイル(" + name + ")を読み込みます\nファイル(" + name +
               ")を読み込みました\n" + identified +
               "Error: カートリッジと書き込みするファイルのサイズが異なる\n(cart=" +
               std::to_string(cart_size) + ",file=" + std::to_string(file_size) + ")\n" + KEY;
    }

    void expect_saved(const std::string& stem, const Bytes& contents) {
        EXPECT_TRUE(file(stem + ".sav") == contents) << stem << ".sav differs";
        EXPECT_TRUE(file(stem + ".txt") == text_dump(contents)) << stem << ".txt differs";
    }
};

TEST_F(EndToEnd, ReadOfEveryChip) {
    for (const Chip* chip : {&LE25FW203, &M45PE20, &M95040, &M95640, &M95512}) {
        Bytes contents = pattern(chip->size, 1);
        EXPECT_EQ(run(chip->name, contents, ""), 0) << chip->name << err;
        EXPECT_TRUE(same_output(read_run_output(*chip), out)) << chip->name;
        expect_saved("savedata", contents);
        EXPECT_TRUE(file("cart.bin") == contents) << chip->name;
    }
}

// Every chip of the emulator's table, and each that sits behind an infrared transceiver,
// as the tool identifies it: its part and maker, its answer to RDID where it has one, and
// its size, which a write of a 16-byte file names as the size test refuses the file, before
// anything is read or written.
TEST_F(EndToEnd, EveryChipOfTheTableIsIdentified) {
    std::vector<std::string> names;
    for (const emu::ChipInfo& row : emu::chip_table()) {
        names.push_back(row.name);
        if (row.infrared) names.push_back(std::string("ir-") + row.name);
    }
    put("tiny.sav", pattern(16, 2));
    for (const std::string& name : names) {
        const Chip chip = chip_named(name);
        const Bytes contents = pattern(chip.size, 1);
        EXPECT_EQ(run(name, contents, "tiny.sav"), 1) << name << err;
        EXPECT_TRUE(same_output(refused_write("tiny.sav", chip.identified, chip.size, 16), out))
            << name;
        EXPECT_TRUE(file("cart.bin") == contents) << name;
    }
}

// Each case runs a write of a 512-byte file: the size test stops the run right after
// identification, which the error line then reports.
TEST_F(EndToEnd, IdentificationWithoutDataInTheFirstSixteenBytes) {
    struct Case {
        const Chip* chip;
        uint32_t address;
        const Chip* found;  // what it is identified as
    } cases[] = {
        {&M95640, 0x0100, &M95640},
        {&M95M01, 0x0100, &M95M01},
        {&M95512, 0x0100, &M95512},
        {&M95512, 0x3000, &M95512},
        // A 4 Kbit EEPROM with a blank start repeats itself through the streamed read and
        // passes for the 64 Kbit one.
        {&M95040, 0x0100, &M95640},
    };
    put("game.sav", pattern(0x200, 2));
    for (const Case& c : cases) {
        Bytes contents(c.chip->size, 0xFF);
        for (uint32_t a = c.address; a < c.address + 0x20; a++)
            contents[a] = static_cast<uint8_t>(a);
        EXPECT_EQ(run(c.chip->name, contents, "game.sav"), 1) << c.chip->name << err;
        EXPECT_TRUE(
            same_output(refused_write("game.sav", c.found->identified, c.found->size, 512), out))
            << c.chip->name << " " << c.address;
        EXPECT_TRUE(file("cart.bin") == contents) << c.chip->name;
    }
    // The 16-bit EEPROM found by its data reads whole like one found by the probe.
    Bytes contents(M95640.size, 0xFF);
    contents[0x1234] = 0x00;
    EXPECT_EQ(run(M95640.name, contents, ""), 0) << err;
    EXPECT_TRUE(same_output(read_run_output(M95640), out));
    expect_saved("savedata", contents);
}

TEST_F(EndToEnd, AnUnknownIdLeavesItToTheProbes) {
    Bytes contents = pattern(M95640.size, 1);
    // Every read low: the probes see zeros alone, which no memory gives after 000000.
    EXPECT_EQ(run(M95640.name, contents, "", "--fault data-in=0"), 1) << err;
    EXPECT_TRUE(same_output(
        BANNER + ID_CHECK + "メモリID=000000\n未知のシリアルFLASHメモリです\n" + PROBE + UNKNOWN,
        out));
    EXPECT_FALSE(exists(path("savedata.sav")));
}

TEST_F(EndToEnd, ABlankChipCannotBeReadOrErased) {
    for (const char* args : {"", "-e"}) {
        EXPECT_EQ(run(M95640.name, Bytes(M95640.size, 0xFF), args), 1) << args << err;
        EXPECT_TRUE(same_output(BANNER + NO_ID + PROBE + BLANK + UNKNOWN, out)) << args;
        EXPECT_FALSE(exists(path("savedata.sav")));
        EXPECT_FALSE(exists(path("backup.sav")));
    }
}

TEST_F(EndToEnd, ABlankChipIsWrittenAsTheFileSizeSuggests) {
    struct Case {
        const Chip* chip;
        emu::ChipKind kind;
    } cases[] = {{&M95040, emu::ChipKind::m95040}, {&M95640, emu::ChipKind::m95640}};
    for (const Case& c : cases) {
        forget_backup("backup");
        Bytes image = pattern(c.chip->size, 3);
        put("game.sav", image);
        EXPECT_EQ(run(c.chip->name, Bytes(c.chip->size, 0xFF), "game.sav"), 0)
            << c.chip->name << err;
        std::string expected =
            BANNER +
            "バイナリファイル(game.sav)を読み込みます\nファイル(game.sav)を読み込みました\n" +
            NO_ID + PROBE + BLANK + part_line(c.kind, "と仮定") +
            "カートリッジに書き込みする前にバックアップします\n" + BACKUP +
            two_reads(c.chip->size) + BACKED_UP + "カートリッジデータ書き込み中です...\n" +
            progress(c.chip->size) + VERIFY + progress(c.chip->size) + GOOD + END;
        EXPECT_TRUE(same_output(expected, out)) << c.chip->name;
        EXPECT_TRUE(file("cart.bin") == image) << c.chip->name;
        expect_saved("backup", Bytes(c.chip->size, 0xFF));
    }

    // A 64 KiB file suggests nothing.
    forget_backup("backup");
    put("game.sav", pattern(M95512.size, 3));
    EXPECT_EQ(run(M95512.name, Bytes(M95512.size, 0xFF), "game.sav"), 1) << err;
    EXPECT_TRUE(same_output(
        BANNER + "バイナリファイル(game.sav)を読み込みます\nファイル(game.sav)を読み込みました\n" +
            NO_ID + PROBE + BLANK + UNKNOWN,
        out));
    EXPECT_FALSE(exists(path("backup.sav")));
    EXPECT_FALSE(exists(path("backup.txt")));
    EXPECT_TRUE(file("cart.bin") == Bytes(M95512.size, 0xFF));
}

TEST_F(EndToEnd, AFlashSizedFileOnAnEmptySlotStopsAtTheEraseLimit) {
    put("game.sav", pattern(LE25FW203.size, 3));
    EXPECT_EQ(run("none", Bytes(), "game.sav"), 1) << err;
    std::string expected =
        BANNER + "バイナリファイル(game.sav)を読み込みます\nファイル(game.sav)を読み込みました\n" +
        NO_ID + PROBE + BLANK + part_line(emu::ChipKind::le25fw203, "と仮定") +
        "カートリッジに書き込みする前にバックアップします\n" + BACKUP + two_reads(LE25FW203.size) +
        BACKED_UP +
        "書き込み前に、フラッシュメモリの消去を行います\nカートリッジデータ消去中です...\n"
        "フラッシュメモリの消去を開始します\nSector 0 erase " +
        std::string(200, '.') + "\nError: フラッシュメモリの消去が終わりませんでした\n" + KEY;
    EXPECT_TRUE(same_output(expected, out));
    expect_saved("backup", Bytes(LE25FW203.size, 0xFF));
}

TEST_F(EndToEnd, WriteOfEveryChipBacksUpBesideTheFile) {
    for (const Chip* chip : {&LE25FW203, &M45PE20, &M95040, &M95640}) {
        forget_backup("saves/backup");
        Bytes before = pattern(chip->size, 1);
        Bytes image = pattern(chip->size, 9);
        bool text_file = chip == &M45PE20 || chip == &M95640;
        mkdir(path("saves").c_str(), 0755);
        std::string name = text_file ? "saves/game.txt" : "saves/game.sav";
        put(name, text_file ? text_dump(image) : image);
        EXPECT_EQ(run(chip->name, before, name), 0) << chip->name << err;
        std::string expected = write_run_output(*chip, name, text_file);
        EXPECT_TRUE(same_output(expected, out)) << chip->name;
        EXPECT_TRUE(file("cart.bin") == image) << chip->name;
        expect_saved("saves/backup", before);
        EXPECT_FALSE(exists(path("backup.sav")));
    }
}

TEST_F(EndToEnd, AWriteOfTheWrongSizeStopsBeforeTheBackup) {
    Bytes before = pattern(M95640.size, 1);
    put("game.sav", pattern(0x200, 2));
    EXPECT_EQ(run(M95640.name, before, "game.sav"), 1) << err;
    EXPECT_TRUE(same_output(refused_write("game.sav", M95640.identified, M95640.size, 512), out));
    EXPECT_FALSE(exists(path("backup.txt")));
    EXPECT_FALSE(exists(path("backup.sav")));
    EXPECT_TRUE(file("cart.bin") == before);
}

TEST_F(EndToEnd, AVerifyDifferenceNamesItsAddress) {
    struct Case {
        const Chip* chip;
        uint32_t address;
        const char* report;
    } cases[] = {{&M95040, 0x1A2, "adr=01A2"}, {&LE25FW203, 0x1A2B3, "adr=1A2B3"}};
    for (const Case& c : cases) {
        Bytes before = pattern(c.chip->size, 1);
        Bytes image = pattern(c.chip->size, 9);
        before[c.address] = 0xFF;
        image[c.address] = 0x00;
        put("game.sav", image);
        char fault[64];
        std::snprintf(fault, sizeof fault, "--fault stuck-bits=0x%X:0x80", c.address);
        EXPECT_EQ(run(c.chip->name, before, "game.sav", fault), 1) << c.chip->name << err;
        std::string tail = VERIFY + progress(c.chip->size) + "Error: 正しく書き込まれていません(" +
                           c.report + ")\n(もう一度、書き込みを試みて下さい)\n" + KEY;
        ASSERT_GE(out.size(), tail.size());
        EXPECT_EQ(out.substr(out.size() - tail.size()), tail) << c.chip->name;
        expect_saved("backup", before);
    }
}

TEST_F(EndToEnd, EraseOfEveryChip) {
    for (const Chip* chip : {&LE25FW203, &M45PE20, &M95040, &M95640}) {
        forget_backup("backup");
        Bytes before = pattern(chip->size, 1);
        EXPECT_EQ(run(chip->name, before, "-E"), 0) << chip->name << err;
        std::string expected = erase_run_output(*chip);
        EXPECT_TRUE(same_output(expected, out)) << chip->name;
        EXPECT_TRUE(file("cart.bin") == Bytes(chip->size, 0xFF)) << chip->name;
        expect_saved("backup", before);
    }
}

// The EEPROM write cycles of a run with --stats: "<chip>: P page programs, E erases, W writes".
uint64_t eeprom_writes(const std::string& stats) {
    size_t end = stats.rfind(" writes");
    size_t start = stats.rfind(", ", end);
    return end == std::string::npos || start == std::string::npos
               ? 0
               : std::stoull(stats.substr(start + 2, end - start - 2));
}

// A read, a write with its backup and verification, and an erase, of one part. An EEPROM
// is read in one stream on every firmware (far fewer IN transfers than bytes); on the
// previous release's firmware it is written and erased byte by byte, a write cycle a byte.
void EndToEnd::read_write_erase(const Chip& chip, const std::string& options) {
    SCOPED_TRACE(chip.name + (" " + options));
    const bool byte_by_byte = !chip.flash && options == previous_firmware_option();
    const Bytes before = pattern(chip.size, 1), image = pattern(chip.size, 9);
    EXPECT_EQ(run(chip.name, before, "", "--stats " + options), 0) << err;
    EXPECT_TRUE(same_output(read_run_output(chip), out));
    expect_saved("savedata", before);
    if (!chip.flash) {
        EXPECT_LT(last.bulk_in, chip.size) << "a read by the stream";
    }
    // Behind a transceiver: its microcontroller saw the two plain identifications alone.
    if (std::string(chip.name).rfind("ir-", 0) == 0) {
        EXPECT_NE(err.find("infrared transceiver: 2 commands of its own, 0 timing faults"),
                  std::string::npos)
            << err;
    }

    forget_backup("backup");
    put("game.sav", image);
    EXPECT_EQ(run(chip.name, before, "game.sav", "--stats " + options), 0) << err;
    EXPECT_TRUE(same_output(write_run_output(chip, "game.sav", false), out));
    EXPECT_TRUE(file("cart.bin") == image);
    expect_saved("backup", before);
    if (byte_by_byte) {
        EXPECT_EQ(eeprom_writes(err), chip.size) << err;
    }

    forget_backup("backup");
    EXPECT_EQ(run(chip.name, image, "-e", "--stats " + options), 0) << err;
    EXPECT_TRUE(same_output(erase_run_output(chip), out));
    EXPECT_TRUE(file("cart.bin") == Bytes(chip.size, 0xFF));
    expect_saved("backup", image);
    if (byte_by_byte) {
        EXPECT_EQ(eeprom_writes(err), chip.size) << err;
    }
}

// An adapter that an earlier release loaded keeps its firmware: every run works on it.
TEST_F(EndToEnd, EveryKindOfRunOnThePreviousFirmware) {
    for (const Chip* chip : {&LE25FW203, &M95040, &M95640})
        read_write_erase(*chip, previous_firmware_option());
}

TEST_F(EndToEnd, ReadWriteAndEraseOfFurtherFlashParts) {
    for (const Chip& chip : FURTHER_PARTS) read_write_erase(chip);
}

TEST_F(EndToEnd, SlowReadWriteAndEraseOfFurtherFlashParts) {
    for (const Chip& chip : SLOWER_PARTS) read_write_erase(chip);
}

TEST_F(EndToEnd, SlowReadWriteAndEraseOfThe128KiBEeprom) { read_write_erase(M95M01); }

// Each save file writes the raw save inside it; padding is dropped only where it is
// padding alone.
TEST_F(EndToEnd, SaveFilesAsPeopleHaveThem) {
    const uint32_t size = LE25FW203.size;
    Bytes save = pattern(size, 9);
    for (uint32_t a = size / 2; a < size / 4 * 3; a++) save[a] = 0xFF;  // runs for the packed file
    Bytes padded = save;
    padded.resize(2 * size, 0xFF);
    Bytes zeros = save;
    zeros.resize(size + 0x100, 0x00);
    Bytes spoilt = padded;
    spoilt[2 * size - 1] = 0x00;
    const std::string dropped = "余白を除いたセーブファイルです\n";
    struct Case {
        const char* name;
        Bytes file;
        std::string line;  // after the file's reading line; "dropped" after identification
    } cases[] = {
        {"game.dsv", desmume_file(save), "DeSmuME形式のセーブファイルです\n"},
        {"game.sav", nocash_file(save), "no$gba形式のセーブファイルです\n"},
        {"packed.sav", nocash_packed_file(save), "no$gba形式のセーブファイルです\n"},
        {"game.duc", action_replay_file(save), "Action Replay形式のセーブファイルです\n"},
        {"padded.sav", padded, dropped},
        {"zeros.bin", zeros, dropped},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        forget_backup("backup");
        Bytes before = pattern(size, 1);
        put(c.name, c.file);
        EXPECT_EQ(run(LE25FW203.name, before, c.name), 0) << err;
        std::string expected = write_run_output(LE25FW203, c.name, false);
        size_t at = c.line == dropped
                        ? expected.find("カートリッジに書き込みする前")
                        : expected.find(std::string("ファイル(") + c.name + ")を読み込みました");
        EXPECT_TRUE(same_output(expected.insert(at, c.line), out));
        EXPECT_TRUE(file("cart.bin") == save);
        expect_saved("backup", before);
    }
    // One byte of data in the padding: refused by the size test, nothing read or written.
    forget_backup("backup");
    put("spoilt.sav", spoilt);
    EXPECT_EQ(run(LE25FW203.name, pattern(size, 1), "spoilt.sav"), 1) << err;
    EXPECT_TRUE(
        same_output(refused_write("spoilt.sav", LE25FW203.identified, size, spoilt.size()), out));
    EXPECT_FALSE(exists(path("backup.sav")));
    EXPECT_TRUE(file("cart.bin") == pattern(size, 1));
}

// Memories are sized by whole blocks, not by the bytes that they begin with.
TEST_F(EndToEnd, CartridgesReadWhole) {
    Bytes slots = pattern(M95512.size, 4);  // eight 8 KiB slots that begin with one header
    for (uint32_t slot = 0x2000; slot < M95512.size; slot += 0x2000)
        std::copy(slots.begin(), slots.begin() + 32, slots.begin() + slot);
    Bytes halves = pattern(M95M01.size, 5);  // alike after 64 KiB, not after 128 KiB
    std::copy(halves.begin(), halves.begin() + 0x10000, halves.begin() + 0x10000);
    halves.back() ^= 0x01;
    struct Case {
        const Chip* chip;
        Bytes contents;
    } cases[] = {{&M95512, slots}, {&M95640, pattern(M95640.size, 6)}, {&M95M01, halves}};
    for (const Case& c : cases) {
        EXPECT_EQ(run(c.chip->name, c.contents, ""), 0) << c.chip->name << err;
        EXPECT_TRUE(same_output(read_run_output(*c.chip), out)) << c.chip->name;
        expect_saved("savedata", c.contents);
    }
}

}  // namespace
