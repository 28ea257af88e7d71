// pelkat-emu.exe under wine: a read, a write with its backup and verification, and an
// erase that keeps the older backup, on a small EEPROM and on a FLASH chip. Standard
// output byte for byte (a Windows text stream: CR LF), the files and the cartridge, as
// the end-to-end tests check them on Linux; on the way the Windows console and file
// writers (replace, flush, a second name for the older backup) do their work.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <string>

#include "emu_run.h"
#include "expected_runs.h"

namespace {

// A Windows text stream writes each newline as CR LF.
std::string windows_text(const std::string& text) {
    std::string result;
    for (char c : text) {
        if (c == '\n') result += '\r';
        result += c;
    }
    return result;
}

// The name the older backup gets: its latest modification, in local time.
std::string kept_stem(const ScratchFolder& folder) {
    std::time_t newest = 0;
    for (const char* name : {"backup.txt", "backup.sav"}) {
        struct _stat64 info;
        if (_stat64(folder.file(name).c_str(), &info) == 0 && info.st_mtime > newest)
            newest = info.st_mtime;
    }
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", std::localtime(&newest));
    return std::string("backup-") + stamp;
}

TEST(WindowsRuns, ReadWriteAndEraseOfAnEepromAndAFlashChip) {
    for (const Chip* chip : {&M95040, &LE25FW203}) {
        SCOPED_TRACE(chip->name);
        ScratchFolder folder;
        const Bytes before = pattern(chip->size, 1), image = pattern(chip->size, 9);
        write_file(folder.file("cart.bin"), before);
        write_file(folder.file("game.sav"), image);
        const std::string options = std::string("--chip ") + chip->name + " --cart cart.bin -- ";

        EmuResult read = folder.run(options);
        EXPECT_EQ(read.exit_code, 0) << read.err;
        EXPECT_TRUE(same_output(windows_text(read_run_output(*chip)), read.out));
        EXPECT_EQ(read_file(folder.file("savedata.sav")), before);
        EXPECT_EQ(read_file(folder.file("savedata.txt")), text_dump(before));

        EmuResult write = folder.run(options + "game.sav");
        EXPECT_EQ(write.exit_code, 0) << write.err;
        EXPECT_TRUE(
            same_output(windows_text(write_run_output(*chip, "game.sav", false)), write.out));
        EXPECT_EQ(read_file(folder.file("cart.bin")), image);
        EXPECT_TRUE(holds_backup(folder, text_dump(before), before));

        const std::string kept = kept_stem(folder);
        EmuResult erase = folder.run(options + "-e");
        EXPECT_EQ(erase.exit_code, 0) << erase.err;
        std::string expected = erase_run_output(*chip);
        expected.insert(expected.find(BACKED_UP),
                        "以前のバックアップを残しました(" + kept + ".txt, " + kept + ".sav)\n");
        EXPECT_TRUE(same_output(windows_text(expected), erase.out));
        EXPECT_EQ(read_file(folder.file("cart.bin")), Bytes(chip->size, 0xFF));
        EXPECT_EQ(read_file(folder.file(kept + ".sav")), before);
        EXPECT_EQ(read_file(folder.file(kept + ".txt")), text_dump(before));
        EXPECT_EQ(read_file(folder.file("backup.sav")), image);
        EXPECT_EQ(read_file(folder.file("backup.txt")), text_dump(image));
        EXPECT_EQ(folder.entries().size(), 8u) << "no temporary file stays";
    }
}

}  // namespace
