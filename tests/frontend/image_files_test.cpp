#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "frontend/image_files.h"
#include "platform/files.h"
#include "run/run_state.h"
#include "support.h"

#ifdef _WIN32
const char NEWLINE[] = "\r\n";
const char SEPARATOR[] = "\\";
#else
const char NEWLINE[] = "\n";
const char SEPARATOR[] = "/";
#endif

namespace {

std::vector<unsigned char> pattern(int length, unsigned seed) {
    std::vector<unsigned char> bytes(static_cast<size_t>(length));
    for (auto& b : bytes) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<unsigned char>(seed >> 16);
    }
    return bytes;
}

std::string load(const std::string& path) {
    CapturedStdout out;
    load_image_file(path.c_str());
    return out.text();
}

std::string loaded_messages(const std::string& path, bool text) {
    return std::string(text ? "テキストファイル(" : "バイナリファイル(") + path +
           ")を読み込みます" + NEWLINE + "ファイル(" + path + ")を読み込みました" + NEWLINE;
}

bool all_erased_from(int offset) {
    for (int i = offset; i < BUFFER_SIZE; ++i) {
        if (image_buffer[i] != 0xFF) return false;
    }
    return true;
}

// One row of a text dump, formatted independently of the writer.
std::string row_of(int address, const unsigned char* bytes) {
    char text[16];
    std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(address));
    std::string line = text;
    for (int i = 0; i < 16; ++i) {
        std::snprintf(text, sizeof text, " %02X", bytes[i]);
        line += text;
    }
    return line + "\r\n";
}

std::string row(int address, int first_byte) {
    unsigned char bytes[16];
    for (int i = 0; i < 16; ++i) bytes[i] = static_cast<unsigned char>(first_byte + i);
    return row_of(address, bytes);
}

}  // namespace

class RoundTrip : public testing::TestWithParam<int> {};

TEST_P(RoundTrip, WrittenFilesHaveTheExactFormatAndLoadBack) {
    const int size = GetParam();
    std::vector<unsigned char> data = pattern(size, static_cast<unsigned>(size));
    for (int i = 0; i < 16; ++i) data[0x10 + i] = static_cast<unsigned char>(i);
    std::string dir = scratch_folder();
    std::string dump = dir + "dump.txt", binary = dir + "image.sav";
    {
        CapturedStdout quiet;
        write_text_dump(dump.c_str(), data.data(), size);
        write_binary_file(binary.c_str(), data.data(), size);
        commit_written_files();
        EXPECT_EQ(quiet.text(), "");
    }

    std::string expected;
    for (int address = 0; address < size; address += 16)
        expected += row_of(address, &data[address]);
    expected += "\r\n";
    std::string text = read_file(dump);
    EXPECT_EQ(text, expected);
    EXPECT_EQ(text.substr(row(0, 0).size(), row(0x10, 0).size()), row(0x10, 0));
    if (size == 0x40000) {
        EXPECT_NE(text.find("\r\n10000 "), std::string::npos);
        EXPECT_NE(text.find("\r\n3FFF0 "), std::string::npos);
    }
    EXPECT_EQ(read_file(binary), std::string(data.begin(), data.end()));

    for (const std::string& path : {dump, binary}) {
        std::memset(image_buffer, 0, sizeof image_buffer);
        EXPECT_EQ(load(path), loaded_messages(path, path == dump));
        EXPECT_EQ(data_length, size);
        EXPECT_EQ(std::memcmp(image_buffer, data.data(), static_cast<size_t>(size)), 0) << path;
        EXPECT_TRUE(all_erased_from(size)) << path;
    }
}

INSTANTIATE_TEST_SUITE_P(MemorySizes, RoundTrip, testing::Values(512, 8192, 65536, 262144));

TEST(WriteFiles, ReplaceAnExistingFileOnlyWhenCommitted) {
    std::string dir = scratch_folder();
    std::string name = dir + "backup.sav";
    write_file(name, std::string(1000, 'x'));
    const unsigned char bytes[3] = {0x00, 0x1A, 0x0A};
    write_binary_file(name.c_str(), bytes, 3);
    EXPECT_TRUE(replaced_file_differs(name.c_str()));
    EXPECT_EQ(read_file(name), std::string(1000, 'x'));
    commit_written_files();
    EXPECT_EQ(read_file(name), std::string("\x00\x1A\x0A", 3));
    write_binary_file(name.c_str(), bytes, 3);
    EXPECT_FALSE(replaced_file_differs(name.c_str()));
    commit_written_files();
    write_text_dump(name.c_str(), bytes, 0);
    commit_written_files();
    EXPECT_EQ(read_file(name), "\r\n");
    write_text_dump(name.c_str(), bytes, 3);  // a last row that is not full
    commit_written_files();
    EXPECT_EQ(read_file(name), "0000 00 1A 0A\r\n");
    EXPECT_FALSE(replaced_file_differs((dir + "none.sav").c_str()));
}

TEST(WriteFiles, PassOverLeftoversOfEarlierRuns) {
    // Temporary files of killed runs, and input files that carry such a name, stay as
    // they are and never stop a run.
    std::string dir = scratch_folder();
    std::string name = dir + "backup.txt";
    std::vector<std::string> leftovers = {name + ".tmp"};
    for (int n = 1; n <= 40; ++n) {
        leftovers.push_back(name + ".tmp" + std::to_string(n));
        leftovers.push_back(name + ".tmp" + std::to_string(process_number()) + "-" +
                            std::to_string(n));
    }
    for (const std::string& leftover : leftovers) write_file(leftover, "0000 01\r\n");
    const unsigned char bytes[1] = {0x5A};
    for (int run = 0; run < 3; ++run) {
        write_text_dump(name.c_str(), bytes, 1);
        commit_written_files();
    }
    EXPECT_EQ(read_file(name), "0000 5A\r\n");
    for (const std::string& leftover : leftovers)
        EXPECT_EQ(read_file(leftover), "0000 01\r\n") << leftover;
}

TEST(LoadTextDump, TakesRowsInAnyOrderAndLeavesTheRestErased) {
    std::string dir = scratch_folder();
    std::string path = dir + "rows.txt";
    // Later rows overwrite earlier ones; rows need not be aligned; lower case and
    // values above 0xFF (low 8 bits kept) are read; LF, CR LF and empty lines mix.
    write_file(path, row(0x100, 0x40) + "\r\n" + row(0x20, 0x10) + "\n" +
                         "0028 aa bb cc dd ee ff 1ff 00 01 02 03 04 05 06 07 08\n\n");
    EXPECT_EQ(load(path), loaded_messages(path, true));
    EXPECT_EQ(data_length, 0x110);
    EXPECT_EQ(image_buffer[0x20], 0x10);
    EXPECT_EQ(image_buffer[0x27], 0x17);
    EXPECT_EQ(image_buffer[0x28], 0xAA);
    EXPECT_EQ(image_buffer[0x2E], 0xFF);
    EXPECT_EQ(image_buffer[0x37], 0x08);
    EXPECT_EQ(image_buffer[0x38], 0xFF);
    EXPECT_EQ(image_buffer[0x1F], 0xFF);
    EXPECT_EQ(image_buffer[0x100], 0x40);
    EXPECT_TRUE(all_erased_from(0x110));

    write_file(path, row(0x3FFF0, 0));
    load(path);
    EXPECT_EQ(data_length, 0x40000);
    EXPECT_EQ(image_buffer[0x3FFFF], 0x0F);
    EXPECT_EQ(image_buffer[0], 0xFF);

    write_file(path, "");
    load(path);
    EXPECT_EQ(data_length, 0);
    EXPECT_TRUE(all_erased_from(0));
}

TEST(LoadTextDump, ReadsTheSameBytesAsAWindowsTextStreamOnEveryPlatform) {
    std::string path = scratch_folder() + "marks.txt";
    // A 0x1A byte ends the file; a lone CR is an ordinary byte, CR CR LF ends a line
    // after a CR.
    write_file(path, row(0, 0) + "\x1A" + row(0x10, 0x10));
    load(path);
    EXPECT_EQ(data_length, 16);
    EXPECT_EQ(image_buffer[0x10], 0xFF);

    std::string with_cr = row(0, 0);
    with_cr.insert(with_cr.size() - 2, "\r");
    write_file(path, with_cr);
    load(path);
    EXPECT_EQ(data_length, 16);
    EXPECT_EQ(image_buffer[15], 0x0F);
}

TEST(LoadImageFile, DecidesTheFormatByExtensionThenByContent) {
    std::string dir = scratch_folder();
    const std::string dump = row(0, 0x30);
    struct Case {
        std::string name;
        std::string content;
        bool text;
        int length;
    };
    const Case cases[] = {
        {"dump.hex", dump, true, 16},
        {"game.SAV", dump, true, 16},  // only lowercase extensions count
        {"save.bin", std::string("0000 00\x00 01 02 03 04 05", 22), false, 22},
        {"save.bin", std::string(15, 'A') + "\xFF", false, 16},
        {"short.dat", "0000", false, 4},  // missing bytes count as 0x00
        {"empty.sav", "", false, 0},
        {"x.sav", dump, false, static_cast<int>(dump.size())},
    };
    for (const Case& c : cases) {
        std::string path = dir + c.name;
        write_file(path, c.content);
        EXPECT_EQ(load(path), loaded_messages(path, c.text)) << c.name;
        EXPECT_EQ(data_length, c.length) << c.name;
    }
    write_file(dir + "full.sav", std::string(0x40000, '\x5A'));
    load(dir + "full.sav");
    EXPECT_EQ(data_length, 0x40000);
    EXPECT_EQ(image_buffer[0x3FFFF], 0x5A);
}

#if GTEST_HAS_DEATH_TEST
namespace {

std::string failure_output(const std::string& name) {
    return "Error: ファイルを書き込めませんでした(" + name + ")" + NEWLINE +
           "[ 何かキーを押して下さい ]" + NEWLINE;
}

}  // namespace

TEST(WriteFilesDeathTest, ReportAFileThatCannotBeWrittenAndEndTheRun) {
    std::string dir = scratch_folder();
    const unsigned char bytes[16] = {};
    std::string no_folder = dir + "missing" + SEPARATOR + "backup.txt";
    EXPECT_EXIT(
        {
            CapturedStdout out;
            write_text_dump(no_folder.c_str(), bytes, 16);
        },
        testing::ExitedWithCode(1), "");
    EXPECT_EQ(read_file(dir + "stdout.bin"), failure_output(no_folder));

    // A folder of the file's name is left as it was, and so is the folder around it.
    std::string folder = dir + "backup.sav";
    make_folder(folder);
    EXPECT_EXIT(
        {
            CapturedStdout out;
            write_binary_file(folder.c_str(), bytes, 16);
            commit_written_files();
        },
        testing::ExitedWithCode(1), "");
    EXPECT_EQ(read_file(dir + "stdout.bin"), failure_output(folder));
    EXPECT_TRUE(file_exists(folder));
}
#endif
