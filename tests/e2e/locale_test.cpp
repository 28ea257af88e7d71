// The tool's messages written to a file follow the locale: UTF-8 under a UTF-8 locale,
// the Shift-JIS bytes of the Windows tool under the C locale. A name from the command
// line goes out as it was given.
#include <gtest/gtest.h>
#include <iconv.h>

#include <string>

#include "emu_run.h"

namespace {

const char kUtf8Locale[] = "env -u LC_ALL -u LC_CTYPE LANG=C.UTF-8";

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
    EmuResult text = utf8_folder.run("", kUtf8Locale);
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
    EmuResult text = utf8_folder.run("-- '" + name + "'", kUtf8Locale);
    EXPECT_EQ(bytes.last_message(), "Error: ファイルが見つかりません(" + name + ")");
    EXPECT_EQ(text.out, u8"<<< Pelkat Ver1.3 by T.Quelm >>>\n\nバイナリファイル(" + name +
                            u8")を読み込みます\n"
                            u8"Error: ファイルが見つかりません(" +
                            name + u8")\n[ 何かキーを押して下さい ]\n");
    EXPECT_EQ(text.exit_code, 1);
}

}  // namespace
