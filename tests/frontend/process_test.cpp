// Every end of a run that needs no adapter, checked on the program's exact output bytes
// and exit code.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "process_runner.h"
#include "support.h"

namespace {

const std::string BANNER = "<<< Pelkat Ver1.3 by T.Quelm >>>\n\n";
const std::string PROMPT = "[ 何かキーを押して下さい ]\n";
const std::string NOT_FOUND = "Error: ファイルが見つかりません(";
const std::string NO_ADAPTER = "Error: EZ-USBが見つかりませんでした\n";

std::string reading_text(const std::string& name) {
    return "テキストファイル(" + name + ")を読み込みます\n";
}
std::string reading_binary(const std::string& name) {
    return "バイナリファイル(" + name + ")を読み込みます\n";
}
std::string loaded(const std::string& name) { return "ファイル(" + name + ")を読み込みました\n"; }

std::string row(const std::string& address) {
    return address + " 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\r\n";
}

void expect_run(const std::string& folder, const std::vector<std::string>& arguments,
                const std::string& output, int exit_code) {
    ProcessResult result = run_pelkat(folder, arguments);
    std::string shown;
    for (const std::string& a : arguments) shown += "[" + a + "]";
    EXPECT_EQ(result.output, BANNER + output) << shown;
    EXPECT_EQ(result.exit_code, exit_code) << shown;
}

}  // namespace

TEST(PelkatProcess, WrongArgumentCountPrintsTheUsage) {
    const std::string usage =
        "Usage: pelkat       ... read\n"
        "       pelkat file  ... write\n"
        "       pelkat -e    ... erase\n";
    expect_run(scratch_folder(), {"a", "b"}, usage + PROMPT, 1);
    expect_run(scratch_folder(), {"-e", "x", "y"}, usage + PROMPT, 1);
}

// --help and --version answer without a banner, an adapter or a key wait; a file of such
// a name is reached through a path, and any other spelling is a file name as before.
TEST(PelkatProcess, HelpAndVersionAnswerAtOnce) {
    std::string dir = scratch_folder();
    for (const char* ask : {"--help", "-h"}) {
        ProcessResult help = run_pelkat(dir, {ask});
        EXPECT_EQ(help.exit_code, 0) << ask;
        EXPECT_EQ(help.output.rfind("Usage: pelkat       ... read\n", 0), 0u) << ask;
        EXPECT_NE(help.output.find("./--help"), std::string::npos) << ask;
        for (const std::string& absent : {BANNER, NO_ADAPTER, PROMPT})
            EXPECT_EQ(help.output.find(absent), std::string::npos) << ask << " " << absent;
    }
    ProcessResult version = run_pelkat(dir, {"--version"});
    EXPECT_EQ(version.output, "pelkat 1.3\n");
    EXPECT_EQ(version.exit_code, 0);

    write_file(dir + "--help", row("0000") + "\r\n");
    expect_run(dir, {"./--help"},
               reading_text("./--help") + loaded("./--help") + NO_ADAPTER + PROMPT, 0);
    expect_run(dir, {"--HELP"}, NOT_FOUND + "--HELP)\n" + PROMPT, 1);
    expect_run(dir, {"-version"}, NOT_FOUND + "-version)\n" + PROMPT, 1);
}

TEST(PelkatProcess, WithoutAnAdapterEveryRunEndsAfterItsFileStage) {
    std::string dir = scratch_folder();
    write_file(dir + "game.txt", row("0000") + "\r\n");
    write_file(dir + "game.sav", std::string(512, '\0'));
    expect_run(dir, {}, NO_ADAPTER + PROMPT, 0);
    expect_run(dir, {"-e"}, NO_ADAPTER + PROMPT, 0);
    expect_run(dir, {"-E"}, NO_ADAPTER + PROMPT, 0);
    expect_run(dir, {"game.txt"},
               reading_text("game.txt") + loaded("game.txt") + NO_ADAPTER + PROMPT, 0);
    expect_run(dir, {"game.sav"},
               reading_binary("game.sav") + loaded("game.sav") + NO_ADAPTER + PROMPT, 0);
    // A backslash is an ordinary character on POSIX; a slash leads into a folder.
    write_file(dir + "a\\backup.txt", row("0000"));
    expect_run(dir, {"a\\backup.txt"},
               reading_text("a\\backup.txt") + loaded("a\\backup.txt") + NO_ADAPTER + PROMPT, 0);
    make_folder(dir + "saves");
    write_file(dir + "saves/BACKUP.TXT", row("0000"));
    expect_run(dir, {"saves/BACKUP.TXT"},
               reading_text("saves/BACKUP.TXT") + loaded("saves/BACKUP.TXT") + NO_ADAPTER + PROMPT,
               0);
}

TEST(PelkatProcess, RefusesNamesTheBackupWouldOverwrite) {
    std::string dir = scratch_folder();
    const std::string txt =
        "Error: ファイル名backup.txtはリネームしてから使ってください\n" + PROMPT;
    const std::string sav =
        "Error: ファイル名backup.savはリネームしてから使ってください\n" + PROMPT;
    expect_run(dir, {"backup.txt"}, txt, 1);
    expect_run(dir, {"backup.sav"}, sav, 1);
    expect_run(dir, {"saves/backup.txt"}, txt, 1);
    expect_run(dir, {"./backup.sav"}, sav, 1);
    expect_run(dir, {"/backup.txt"}, txt, 1);

    const std::string too_long = "Error: ファイル名が長すぎます\n" + PROMPT;
    expect_run(dir, {std::string(512, 'n')}, too_long, 1);
    expect_run(dir, {std::string(502, 'd') + "/x.sav"}, too_long, 1);
}

TEST(PelkatProcess, ReportsInputFilesThatCannotBeRead) {
    std::string dir = scratch_folder();
    make_folder(dir + "folder.sav");
    expect_run(dir, {"missing.txt"},
               reading_text("missing.txt") + NOT_FOUND + "missing.txt)\n" + PROMPT, 1);
    expect_run(dir, {"missing.sav"},
               reading_binary("missing.sav") + NOT_FOUND + "missing.sav)\n" + PROMPT, 1);
    // Other names are opened first to look at their content.
    expect_run(dir, {"-erase"}, NOT_FOUND + "-erase)\n" + PROMPT, 1);
    expect_run(dir, {""}, NOT_FOUND + ")\n" + PROMPT, 1);
    expect_run(dir, {"folder.sav"},
               reading_binary("folder.sav") + NOT_FOUND + "folder.sav)\n" + PROMPT, 1);
    expect_run(dir, {"saves"}, NOT_FOUND + "saves)\n" + PROMPT, 1);

    write_file(dir + "big.sav", std::string(0x800001, '\0'));
    expect_run(dir, {"big.sav"},
               reading_binary("big.sav") + "Error: ファイルが大き過ぎです(8388609)\n" + PROMPT, 1);
}

// Save files of emulators and cheat devices that are cut short or do not hold together
// are refused before the adapter is looked for.
TEST(PelkatProcess, ReportsBrokenSaveFiles) {
    std::string dir = scratch_folder();
    const std::string nocash =
        std::string("NocashGbaBackupMediaSavDataFile\x1A") + std::string(0x20, '\0') + "SRAM";
    auto le32 = [](unsigned value) {
        std::string bytes;
        for (int i = 0; i < 4; i++) bytes += static_cast<char>(value >> (8 * i));
        return bytes;
    };
    std::string overrun;  // 130 runs of 65535 bytes: more than the buffer holds
    for (int i = 0; i < 130; i++) overrun += std::string("\x80\xAA\xFF\xFF", 4);
    std::string footer = std::string(82, '-') + le32(16) + le32(16) + le32(0) + le32(1) + le32(16) +
                         le32(0) + "|-DESMUME SAVE-|";
    const std::string broken = "Error: セーブファイルが壊れています(save.bin)\n";
    const std::string no_gba = "no$gba形式のセーブファイルです\n";
    struct Case {
        std::string content;
        std::string lines;
    };
    const Case cases[] = {
        {nocash + le32(0) + le32(16) + std::string(15, 'x'), no_gba + broken},  // cut short
        {nocash + le32(1) + le32(4) + le32(16) + "\x10" + std::string(15, 'x'), no_gba + broken},
        {nocash + le32(1) + le32(4) + le32(17) + "\x10" + std::string(16, 'x') + '\0',
         no_gba + broken},
        {nocash + le32(1) + le32(0) + le32(0) + overrun + '\0',
         no_gba + "Error: ファイルが大き過ぎです(8454015)\n"},
        {nocash + le32(2) + le32(0) + le32(0), no_gba + broken},  // no such method
        {std::string(15, 'x') + footer, "DeSmuME形式のセーブファイルです\n" + broken},
        {"ARDS000000000001" + std::string(100, '\0'),
         "Action Replay形式のセーブファイルです\n" + broken},
    };
    for (const Case& c : cases) {
        write_file(dir + "save.bin", c.content);
        expect_run(dir, {"save.bin"}, reading_binary("save.bin") + c.lines + PROMPT, 1);
    }
    write_file(dir + "save.bin", nocash + le32(1) + le32(6) + le32(20) +
                                     "\x04"
                                     "abcd"
                                     "\x90"
                                     "-" +
                                     '\0');
    expect_run(dir, {"save.bin"},
               reading_binary("save.bin") + no_gba + loaded("save.bin") + NO_ADAPTER + PROMPT, 0);
}

TEST(PelkatProcess, ReportsTextDumpsOfTheWrongFormat) {
    std::string dir = scratch_folder();
    const std::string good = row("0000");
    const std::string body = good.substr(0, good.size() - 2);  // without its line end
    struct Case {
        std::string content;
        std::string message;
    };
    const Case cases[] = {
        {"0000 01\r\n", "ファイルの形式が違います(2)"},
        {good + " " + good, "ファイルの形式が違います(18)"},
        {"0010  00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\r\n",
         "ファイルの形式が違います(18)"},
        {body + " \r\n", "ファイルの形式が違います(18)"},
        {good + body, "ファイルの形式が違います(16)"},
        {good + "\r\n   \r\n", "ファイルの形式が違います(4)"},
        {"0000 ZZ 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\r\n",
         "ファイルの形式が違います(17)"},
        {"0000  01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\r\n", "ファイルの形式が違います(17)"},
        {good + row("7FFFF1"), "アドレスが大き過ぎです(8388593)"},
        {row("800000"), "アドレスが大き過ぎです(8388608)"},
        {row("FFFFFFFF"), "アドレスが大き過ぎです(-1)"},
    };
    for (const Case& c : cases) {
        write_file(dir + "bad.txt", c.content);
        expect_run(dir, {"bad.txt"},
                   reading_text("bad.txt") + "Error: " + c.message + "\n" + PROMPT, 1);
    }
    write_file(dir + "edge.txt", row("7FFFF0"));
    expect_run(dir, {"edge.txt"},
               reading_text("edge.txt") + loaded("edge.txt") + NO_ADAPTER + PROMPT, 0);
}
