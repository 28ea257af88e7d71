#include <gtest/gtest.h>

#include <string>

#include "frontend/cmdline.h"
#include "run/run_state.h"

namespace {

int classify(std::initializer_list<const char*> arguments) {
    char* argv[8];
    int argc = 0;
    for (const char* a : arguments) argv[argc++] = const_cast<char*>(a);
    return classify_arguments(argc, argv);
}

}  // namespace

TEST(ClassifyArguments, ChoosesTheRunByTheArgumentCountAndExactSpelling) {
    EXPECT_EQ(classify({"pelkat"}), RUN_READ);
    EXPECT_EQ(classify({"pelkat", "-e"}), RUN_ERASE);
    EXPECT_EQ(classify({"pelkat", "-E"}), RUN_ERASE);
    EXPECT_EQ(classify({"pelkat", "-erase"}), RUN_WRITE);
    EXPECT_EQ(classify({"pelkat", "-x"}), RUN_WRITE);
    EXPECT_EQ(classify({"pelkat", "e"}), RUN_WRITE);
    EXPECT_EQ(classify({"pelkat", ""}), RUN_WRITE);
    EXPECT_EQ(classify({"pelkat", "a", "b"}), ARGS_USAGE);
    EXPECT_EQ(classify({"pelkat", "-e", "x"}), ARGS_USAGE);
    EXPECT_EQ(classify({"pelkat", "--help"}), ARGS_HELP);
    EXPECT_EQ(classify({"pelkat", "-h"}), ARGS_HELP);
    EXPECT_EQ(classify({"pelkat", "--version"}), ARGS_VERSION);
    EXPECT_EQ(classify({"pelkat", "--help", "x"}), ARGS_USAGE);
    EXPECT_EQ(classify({"pelkat", "-help"}), RUN_WRITE);
    EXPECT_EQ(classify({"pelkat", "-H"}), RUN_WRITE);
    EXPECT_EQ(classify({"pelkat", "./--help"}), RUN_WRITE);
}

TEST(FileNameRules, RefuseTheBackupFilesOwnNames) {
    EXPECT_EQ(apply_file_name_rules("backup.txt"), NAME_BACKUP_TXT);
    EXPECT_EQ(apply_file_name_rules("backup.sav"), NAME_BACKUP_SAV);
    EXPECT_EQ(apply_file_name_rules("backup.txt.sav"), NAME_OK);
    EXPECT_EQ(apply_file_name_rules("my_backup.sav"), NAME_OK);
#ifdef _WIN32
    EXPECT_EQ(apply_file_name_rules("saves\\backup.txt"), NAME_BACKUP_TXT);
    EXPECT_EQ(apply_file_name_rules("a\\b\\backup.sav"), NAME_BACKUP_SAV);
    // A slash, a drive colon or a leading backslash also name the backup's own file.
    EXPECT_EQ(apply_file_name_rules("./backup.sav"), NAME_BACKUP_SAV);
    EXPECT_EQ(apply_file_name_rules("c:backup.sav"), NAME_BACKUP_SAV);
    EXPECT_EQ(apply_file_name_rules("\\backup.txt"), NAME_BACKUP_TXT);
    EXPECT_EQ(apply_file_name_rules("a/backup.txt/x.sav"), NAME_OK);
    // The file system ignores case, so these are the backup's own files too.
    EXPECT_EQ(apply_file_name_rules("BACKUP.TXT"), NAME_BACKUP_TXT);
    EXPECT_EQ(apply_file_name_rules("saves\\Backup.Sav"), NAME_BACKUP_SAV);
#else
    EXPECT_EQ(apply_file_name_rules("BACKUP.TXT"), NAME_OK);
    EXPECT_EQ(apply_file_name_rules("saves/backup.txt"), NAME_BACKUP_TXT);
    EXPECT_EQ(apply_file_name_rules("./backup.sav"), NAME_BACKUP_SAV);
    EXPECT_EQ(apply_file_name_rules("/backup.txt"), NAME_BACKUP_TXT);
    // A backslash is an ordinary character of a POSIX file name.
    EXPECT_EQ(apply_file_name_rules("saves\\backup.txt"), NAME_OK);
    EXPECT_EQ(apply_file_name_rules("backup.txt/x.sav"), NAME_OK);
#endif
}

TEST(FileNameRules, SplitTheDirectoryPartOff) {
    struct Case {
        const char* argument;
        const char* prefix;
    };
#ifdef _WIN32
    const Case cases[] = {{"c:\\saves\\game.sav", "c:\\saves\\"},
                          {"saves\\game.sav", "saves\\"},
                          {"c:game.sav", ""},
                          {"saves/game.sav", ""},
                          {"\\game.sav", ""},
                          {"game.sav", ""}};
#else
    const Case cases[] = {{"/home/me/saves/game.sav", "/home/me/saves/"},
                          {"saves/game.sav", "saves/"},
                          {"/game.sav", "/"},
                          {"saves\\game.sav", ""},
                          {"game.sav", ""},
                          {"", ""}};
#endif
    for (const Case& c : cases) {
        EXPECT_EQ(apply_file_name_rules(c.argument), NAME_OK) << c.argument;
        EXPECT_STREQ(input_path, c.argument);
        EXPECT_STREQ(backup_prefix, c.prefix) << c.argument;
    }
}

TEST(FileNameRules, RefuseNamesThatLeaveNoRoomForTheBackupName) {
#ifdef _WIN32
    const char separator = '\\';
#else
    const char separator = '/';
#endif
    EXPECT_EQ(apply_file_name_rules(std::string(511, 'a').c_str()), NAME_OK);
    EXPECT_EQ(apply_file_name_rules(std::string(512, 'a').c_str()), NAME_TOO_LONG);
    EXPECT_STREQ(input_path, "");

    // The prefix plus "backup.txt" must fit 511 bytes.
    std::string fits = std::string(500, 'd') + separator + "x";
    std::string too_long = std::string(501, 'd') + separator + "x";
    EXPECT_EQ(apply_file_name_rules(fits.c_str()), NAME_OK);
    EXPECT_EQ(std::string(backup_prefix).size() + 10, 511u);
    EXPECT_EQ(apply_file_name_rules(too_long.c_str()), NAME_TOO_LONG);
}
