// The tool's messages written to a file follow the locale: UTF-8 under a UTF-8 locale,
// the Shift-JIS bytes of the Windows tool under the C locale, English under an English
// locale. A name from the command line goes out as it was given.
#include <gtest/gtest.h>
#include <iconv.h>

#include <string>

#include "emu_run.h"

namespace {

// Nothing from the test's own environment chooses the messages' language.
const char UTF8_LOCALE[] = "env -u LC_ALL -u LC_CTYPE -u LC_MESSAGES -u LANGUAGE LANG=C.UTF-8";
const char ENGLISH[] = "env -u LC_ALL -u LC_CTYPE -u LC_MESSAGES -u LANGUAGE LANG=en_US.UTF-8";

std::string utf8_to_cp932(const std::string& utf8) {
    iconv_t cd = iconv_open("CP932", "UTF-8");
    std::string in_text = utf8, out_text(utf8.size(), '\0');
    char* in = &in_text[0];
    char* out = &out_text[0];
    size_t in_left = in_text.size(), out_left = out_text.size();
    size_t result = iconv(cd, &in, &in_left, &out, &out_left);
    iconv_close(cd);
    return result == static_cast<size_t>(-1) ? "(not UTF-8)"
                                             : out_text.substr(0, out_text.size() - out_left);
}

TEST(Locale, AReadRunInUtf8IsTheShiftJisRunConverted) {
    ScratchFolder c_folder, utf8_folder;
    EmuResult bytes = c_folder.run("");
    EmuResult text = utf8_folder.run("", UTF8_LOCALE);
    EXPECT_EQ(bytes.exit_code, 0);
    EXPECT_EQ(text.exit_code, 0);
    EXPECT_NE(bytes.out.find("終了しました。\n"), std::string::npos);  // the Shift-JIS bytes
    EXPECT_NE(text.out.find(u8"終了しました。\n"), std::string::npos);
    EXPECT_EQ(utf8_to_cp932(text.out), bytes.out);
}

TEST(Locale, ANameFromTheCommandLineIsNotConverted) {
    const std::string name = u8"セーブ.sav";
    ScratchFolder c_folder, utf8_folder;
    EmuResult bytes = c_folder.run("-- '" + name + "'");
    EmuResult text = utf8_folder.run("-- '" + name + "'", UTF8_LOCALE);
    EXPECT_EQ(bytes.last_message(), "Error: ファイルが見つかりません(" + name + ")");
    EXPECT_EQ(text.out, u8"<<< Pelkat Ver1.3 by T.Quelm >>>\n\nバイナリファイル(" + name +
                            u8")を読み込みます\n"
                            u8"Error: ファイルが見つかりません(" +
                            name + u8")\n[ 何かキーを押して下さい ]\n");
    EXPECT_EQ(text.exit_code, 1);
}

bool ascii(const std::string& text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

// Every message of the runs and of their main failures comes out in English: the same
// messages as under the C locale, one for one, each of them translated (no Japanese
// byte left), the file names as they were given.
TEST(Locale, EveryMessageOfARunIsEnglishUnderAnEnglishLocale) {
    struct Case {
        std::string arguments;
        std::string file;  // a file to write, made by the case
        Bytes content;
        int exit_code;
        std::string message;  // one of its messages
    };
    const Bytes flash = pattern(0x40000, 1), eeprom = text_dump(pattern(0x2000, 2));
    const Bytes short_row = {'0', '0', '0', '0', ' ', '0', '1', '\r', '\n'};
    const std::string finished = "Finished.";
    const Case cases[] = {
        {"", "", {}, 0, finished},
        {"--chip m95040", "", {}, 0, finished},
        {"-- game.sav", "game.sav", flash, 0, finished},
        {"--chip m95640 -- game.txt", "game.txt", eeprom, 0, finished},
        {"-- -e", "", {}, 0, finished},
        {"--chip m95040 -- -e", "", {}, 0, finished},
        {"-- missing.sav", "", {}, 1, "Error: file not found (missing.sav)"},
        {"-- bad.txt", "bad.txt", short_row, 1, "Error: wrong file format (2)"},
        {"-- backup.txt", "", {}, 1, "Error: rename the file backup.txt before using it"},
        {"-- small.sav", "small.sav", Bytes(0x200), 1,
         "Error: the cartridge and the file to write differ in size"},
        {"--chip none", "", {}, 1, "Unknown save method, so it was not processed"},
        {"--fault unplug=0", "", {}, 0, "Error: no EZ-USB adapter was found"},
        {"--fault usb-fail=1000", "", {}, 1, "Error: communication with the adapter failed"},
        {"--fault erase-hang -- -e",
         "",
         {},
         1,
         "Error: the erase of the FLASH memory did not finish"},
        {"--chip m95040 --fault stuck-bits=0x10:0x01 -- -e",
         "",
         {},
         1,
         "(Please try the erase again)"},
    };
    for (const Case& c : cases) {
        ScratchFolder c_folder, english_folder;
        if (!c.file.empty()) {
            write_file(c_folder.file(c.file), c.content);
            write_file(english_folder.file(c.file), c.content);
        }
        EmuResult bytes = c_folder.run(c.arguments);
        EmuResult text = english_folder.run(c.arguments, ENGLISH);
        EXPECT_EQ(text.exit_code, c.exit_code) << c.arguments;
        EXPECT_EQ(bytes.exit_code, c.exit_code) << c.arguments;
        EXPECT_TRUE(ascii(text.out)) << c.arguments << "\n" << text.out;
        EXPECT_EQ(text.messages.size(), bytes.messages.size()) << c.arguments << "\n" << text.out;
        EXPECT_EQ(text.messages.back(), "[ Press any key ]") << c.arguments;
        EXPECT_TRUE(text.printed(c.message)) << c.arguments << "\n" << text.out;
    }
}

// The help is translated as well; a locale without a catalog keeps the Japanese.
TEST(Locale, HelpFollowsTheLanguage) {
    ScratchFolder folder;
    EmuResult english = folder.run("-- --help", ENGLISH);
    EXPECT_EQ(english.exit_code, 0);
    EXPECT_TRUE(ascii(english.out)) << english.out;
    EXPECT_NE(english.out.find("A file named like an option is given with its directory"),
              std::string::npos)
        << english.out;
    EmuResult japanese = folder.run("-- --help", UTF8_LOCALE);
    EXPECT_NE(japanese.out.find(u8"オプションと同じ名前のファイルは ./--help"), std::string::npos)
        << japanese.out;
}

}  // namespace
