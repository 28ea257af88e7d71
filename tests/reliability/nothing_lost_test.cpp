// The ways a run could lose a save besides the faults of the matrix: a later backup over
// an earlier one, an input that is a backup under another name, signals for failed
// writes, inputs that are no files, leftovers of killed runs, kills at any moment, and
// an erase that did not take. Each row sets up a folder, runs pelkat-emu once and judges
// what it left.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "emu_run.h"

namespace {

const std::string KEY = "[ 何かキーを押して下さい ]";
const std::string FINISHED = "終了しました。";
const Bytes CART = pattern(0x200, 41);   // the cartridge's save
const Bytes GAME = pattern(0x200, 42);   // the file a write run takes
const Bytes OLDER = pattern(0x200, 43);  // an earlier backup in the folder
const time_t OLDER_TIME = 981173106;     // 2001-02-03 04:05:06 UTC

void put_older_backup(const ScratchFolder& folder, const std::string& stem, bool text,
                      bool binary) {
    if (text) write_file(folder.file(stem + ".txt"), text_dump(OLDER));
    if (binary) write_file(folder.file(stem + ".sav"), OLDER);
    const utimbuf times = {OLDER_TIME, OLDER_TIME};
    for (const char* extension : {".txt", ".sav"})
        utime(folder.file(stem + extension).c_str(), &times);
}

struct Row {
    const char* name;
    std::function<void(const ScratchFolder&)> set_up;  // beside cart.bin (CART) and game.sav (GAME)
    std::string arguments, before, output;
    int exit_code;
    std::vector<std::string>
        last_messages;  // the messages before the key-wait prompt, if any are given
    std::function<void(const ScratchFolder&, const EmuResult&)> check;
};

void expect_untouched(const ScratchFolder& folder, const EmuResult& r) {
    EXPECT_EQ(read_file(folder.file("cart.bin")), CART);
    EXPECT_FALSE(r.printed("カートリッジデータ読み込み中です..."))
        << "nothing was read from the cartridge";
}

void expect_no_temporary_file(const ScratchFolder& folder) {
    for (const std::string& name : folder.entries())
        EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
}

const std::string KEPT_PAIR =
    "以前のバックアップを残しました(backup-20010203-040506.txt, backup-20010203-040506.sav)";

const Row ROWS[] = {
    {"an older pair is kept under its time, then replaced",
     [](const ScratchFolder& f) { put_older_backup(f, "backup", true, true); },
     "-- game.sav",
     "",
     "",
     0,
     {},
     [](const ScratchFolder& f, const EmuResult& r) {
         EXPECT_TRUE(r.printed(KEPT_PAIR));
         EXPECT_EQ(read_file(f.file("backup-20010203-040506.sav")), OLDER);
         EXPECT_EQ(read_file(f.file("backup-20010203-040506.txt")), text_dump(OLDER));
         EXPECT_TRUE(holds_backup(f, text_dump(CART), CART));
         EXPECT_EQ(read_file(f.file("cart.bin")), GAME);
     }},
    {"a kept name that is taken gets a suffix; a half pair is kept alone",
     [](const ScratchFolder& f) {
         put_older_backup(f, "backup", false, true);
         write_file(f.file("backup-20010203-040506.txt"), {1, 2, 3});
     },
     "-- -e",
     "",
     "",
     0,
     {},
     [](const ScratchFolder& f, const EmuResult& r) {
         EXPECT_TRUE(r.printed("以前のバックアップを残しました(backup-20010203-040506-2.sav)"));
         EXPECT_EQ(read_file(f.file("backup-20010203-040506-2.sav")), OLDER);
         EXPECT_FALSE(exists(f.file("backup-20010203-040506-2.txt")));
         EXPECT_EQ(read_file(f.file("backup-20010203-040506.txt")), Bytes({1, 2, 3}));
         EXPECT_TRUE(holds_backup(f, text_dump(CART), CART));
     }},
    {"reads that differ do not take the place of an earlier save",
     [](const ScratchFolder& f) { put_older_backup(f, "savedata", true, true); },
     "--fault flaky=1000",
     "",
     "",
     1,
     {},
     [](const ScratchFolder& f, const EmuResult& r) {
         EXPECT_TRUE(r.printed("以前のバックアップを残しました(savedata-20010203-040506.txt, "
                               "savedata-20010203-040506.sav)"));
         EXPECT_EQ(read_file(f.file("savedata-20010203-040506.sav")), OLDER);
         EXPECT_FALSE(r.printed("保存しました(savedata.txt, savedata.sav)"));
     }},
    {"a backup equal to the older one keeps nothing more",
     [](const ScratchFolder& f) {
         write_file(f.file("backup.txt"), text_dump(CART));
         write_file(f.file("backup.sav"), CART);
     },
     "-- game.sav",
     "",
     "",
     0,
     {},
     [](const ScratchFolder& f, const EmuResult&) {
         for (const std::string& name : f.entries()) EXPECT_FALSE(is_kept_backup(name)) << name;
     }},
    {"a symbolic link to backup.sav is refused",
     [](const ScratchFolder& f) {
         write_file(f.file("backup.sav"), OLDER);
         ASSERT_EQ(symlink("backup.sav", f.file("link.sav").c_str()), 0);
     },
     "-- link.sav",
     "",
     "",
     1,
     {"Error: ファイル名backup.savはリネームしてから使ってください"},
     [](const ScratchFolder& f, const EmuResult& r) {
         expect_untouched(f, r);
         EXPECT_EQ(read_file(f.file("backup.sav")), OLDER);
     }},
    {"a hard link to backup.txt is refused",
     [](const ScratchFolder& f) {
         write_file(f.file("backup.txt"), text_dump(OLDER));
         ASSERT_EQ(link(f.file("backup.txt").c_str(), f.file("game.dat").c_str()), 0);
     },
     "-- game.dat",
     "",
     "",
     1,
     {"Error: ファイル名backup.txtはリネームしてから使ってください"},
     expect_untouched},
    {"a file-size limit ends the run with the writer's message",
     [](const ScratchFolder&) {},
     "--chip m95040 -- game.sav",
     "ulimit -f 2;",
     "",
     1,
     {"Error: ファイルを書き込めませんでした(backup.txt)"},
     [](const ScratchFolder& f, const EmuResult&) {
         EXPECT_EQ(read_file(f.file("cart.bin")), CART);
         expect_no_temporary_file(f);
     }},
    {"a closed standard output ends the run quietly before the backup",
     [](const ScratchFolder& f) { write_file(f.file("cart.bin"), pattern(0x40000, 44)); },
     "--chip le25fw203 -- -e",
     "",
     ">&-",
     1,
     {},
     [](const ScratchFolder& f, const EmuResult&) {
         EXPECT_EQ(read_file(f.file("cart.bin")), pattern(0x40000, 44));
         EXPECT_FALSE(exists(f.file("backup.sav")));
         expect_no_temporary_file(f);
     }},
    {"a named pipe is refused without waiting",
     [](const ScratchFolder& f) { ASSERT_EQ(mkfifo(f.file("pipe.sav").c_str(), 0644), 0); },
     "-- pipe.sav",
     "timeout 20",
     "",
     1,
     {"Error: 通常のファイルではありません(pipe.sav)"},
     expect_untouched},
    {"a device is refused",
     [](const ScratchFolder&) {},
     "-- /dev/zero",
     "timeout 20",
     "",
     1,
     {"Error: 通常のファイルではありません(/dev/zero)"},
     expect_untouched},
    {"leftover temporary files never stop a run",
     [](const ScratchFolder& f) {
         for (const char* name :
              {"backup.txt.tmp", "backup.sav.tmp", "backup.txt.tmp1-1", "backup.sav.tmp9"})
             write_file(f.file(name), OLDER);
     },
     "-- game.sav",
     "",
     "",
     0,
     {},
     [](const ScratchFolder& f, const EmuResult&) {
         EXPECT_EQ(read_file(f.file("backup.txt.tmp1-1")), OLDER);
         EXPECT_EQ(read_file(f.file("backup.sav.tmp9")), OLDER);
         EXPECT_EQ(f.entries().size(), 8u);
     }},
    {"an erase that does not take is reported",
     [](const ScratchFolder&) {},
     "--fault stuck-bits=0x10:0x0F -- -e",
     "",
     "",
     1,
     {"Error: 正しく消去されていません(adr=0010)", "(もう一度、消去を試みて下さい)"},
     [](const ScratchFolder& f, const EmuResult&) {
         EXPECT_TRUE(holds_backup(f, text_dump(CART), CART));
     }},
};

TEST(NothingLost, EveryCaseEndsAsItShould) {
    setenv("TZ", "UTC", 1);  // the kept names are in local time
    for (const Row& row : ROWS) {
        SCOPED_TRACE(row.name);
        ScratchFolder folder;
        write_file(folder.file("cart.bin"), CART);
        write_file(folder.file("game.sav"), GAME);
        row.set_up(folder);
        std::string chip =
            row.arguments.find("--chip") == std::string::npos ? "--chip m95040 " : "";
        EmuResult r =
            folder.run("--stats --cart cart.bin " + chip + row.arguments, row.before, row.output);
        SCOPED_TRACE(r.out + r.err);
        EXPECT_EQ(r.exit_code, row.exit_code);
        if (row.exit_code == 0) {
            EXPECT_EQ(r.last_message(), FINISHED);
        }
        if (!row.last_messages.empty()) {
            std::vector<std::string> expected = row.last_messages;
            expected.push_back(KEY);
            ASSERT_GE(r.messages.size(), expected.size());
            EXPECT_EQ(std::vector<std::string>(
                          r.messages.end() - static_cast<long>(expected.size()), r.messages.end()),
                      expected);
        }
        row.check(folder, r);
    }
}

// Killed at random moments of write and erase runs (seeded, so every run of the test
// kills at the same moments): whenever the cartridge file has changed, the backup of its
// old contents is complete on disk, and the earlier backup has not been lost. A write
// run in the same folder afterwards, on what the killed run left of the chip, ends by
// itself, leftovers and all, and loses nothing either.
TEST(NothingLost, KillsAtAnyMomentLoseNothing) {
    std::mt19937 random(15);
    int changed = 0;  // kills that left the cartridge changed: the ones this test is for
    struct Kind {
        const char* chip;
        size_t size;
        const char* arguments;
        int kills;
    };
    for (const Kind& kind : {Kind{"m95040", 0x200, "game.sav", 3}, Kind{"m95040", 0x200, "-e", 3},
                             Kind{"le25fw203", 0x40000, "game.sav", 1}}) {
        const Bytes cart = pattern(kind.size, 45), game = pattern(kind.size, 46);
        auto prepare = [&](ScratchFolder& folder) {
            write_file(folder.file("cart.bin"), cart);
            write_file(folder.file("game.sav"), game);
            put_older_backup(folder, "backup", true, true);
        };
        const std::string arguments =
            std::string("--stats --chip ") + kind.chip + " --cart cart.bin -- " + kind.arguments;
        double healthy_s;
        {
            ScratchFolder folder;
            prepare(folder);
            EmuResult healthy = folder.run(arguments);
            ASSERT_EQ(healthy.exit_code, 0) << healthy.out << healthy.err;
            healthy_s = healthy.virtual_s;
        }
        for (int k = 0; k < kind.kills; ++k) {
            // From a third of the run on: the first third is the firmware download and the
            // identification, which change nothing of the cartridge.
            const uint64_t kill_ms = std::uniform_int_distribution<uint64_t>(
                static_cast<uint64_t>(healthy_s * 1000 / 3),
                static_cast<uint64_t>(healthy_s * 1000))(random);
            SCOPED_TRACE(std::string(kind.chip) + " " + kind.arguments + " killed at " +
                         std::to_string(kill_ms) + " ms");
            ScratchFolder folder;
            prepare(folder);
            EmuResult killed = folder.run(arguments.substr(0, arguments.find(" -- ")) +
                                          " --fault kill=" + std::to_string(kill_ms) +
                                          arguments.substr(arguments.find(" -- ")));
            EXPECT_NE(killed.exit_code, 0);
            EXPECT_EQ(killed.last_message(), "") << "no end of its own";
            if (read_file(folder.file("cart.bin")) != cart) {
                ++changed;
                EXPECT_TRUE(holds_backup(folder, text_dump(cart), cart))
                    << "changed only with a backup on disk";
            }
            EXPECT_TRUE(holds_backup(folder, text_dump(OLDER), OLDER));

            EmuResult again = folder.run(std::string("--stats --chip ") + kind.chip +
                                         " --cart cart.bin -- game.sav");
            EXPECT_NE(again.last_message(), "") << "it ends by itself\n" << again.out << again.err;
            EXPECT_TRUE(holds_backup(folder, text_dump(cart), cart));
            EXPECT_TRUE(holds_backup(folder, text_dump(OLDER), OLDER));
        }
    }
    EXPECT_GE(changed, 3);
}

}  // namespace
