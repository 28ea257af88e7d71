#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "frontend/dump_line.h"

namespace {

struct Split {
    int count;
    bool all_numbers;
    int values[DUMP_LINE_VALUES];
};

Split split(const std::string& line) {
    Split s{};
    s.count = split_dump_line(line.data(), static_cast<int>(line.size()), s.values, &s.all_numbers);
    return s;
}

const std::string ROW_10 = "0010 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\n";

}  // namespace

TEST(SplitDumpLine, ReadsTheAddressAndSixteenBytesOfARow) {
    Split s = split(ROW_10);
    ASSERT_EQ(s.count, 17);
    EXPECT_TRUE(s.all_numbers);
    EXPECT_EQ(s.values[0], 0x10);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(s.values[1 + i], i);

    s = split("3fff0 ab cd ef 1FF 00 00 00 00 00 00 00 00 00 00 00 0x7f\n");
    ASSERT_EQ(s.count, 17);
    EXPECT_EQ(s.values[0], 0x3FFF0);
    EXPECT_EQ(s.values[1], 0xAB);
    EXPECT_EQ(s.values[4], 0x1FF);  // the loader keeps the low 8 bits
    EXPECT_EQ(s.values[16], 0x7F);
    EXPECT_EQ(split("FFFFFFFF 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n").values[0], -1);
}

// The format errors these counts produce are checked on the built program.
TEST(SplitDumpLine, CountsTokensBeyondTheSeventeenthButStoresNoMore) {
    // Tabs separate nothing.
    EXPECT_EQ(split("0010\t00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\n").count, 16);
    Split s = split(ROW_10.substr(0, ROW_10.size() - 1) + " 10 11\n");
    EXPECT_EQ(s.count, 19);
    EXPECT_EQ(s.values[16], 0x0F);
}

TEST(SplitDumpLine, FlagsTokensWithoutAHexDigit) {
    EXPECT_FALSE(split("0000 ZZ 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\n").all_numbers);
    EXPECT_FALSE(split("0000 - 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\n").all_numbers);
    // A digit followed by other bytes still reads as its digits.
    Split s = split("0000 1G 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\n");
    EXPECT_TRUE(s.all_numbers);
    EXPECT_EQ(s.values[1], 1);
    // An empty token (a doubled or a leading blank) would take the next token's number,
    // so a row missing one field would load shifted, with one byte twice.
    EXPECT_FALSE(split("0000  01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\n").all_numbers);
    EXPECT_FALSE(split(" 0000 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\n").all_numbers);
    // White space inside a token is skipped before its number, as "%X" does.
    EXPECT_TRUE(split("0000 \t1 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\n").all_numbers);
    // A NUL byte is an ordinary byte of the line, not its end.
    std::string with_nul = ROW_10;
    with_nul[5] = '\0';
    EXPECT_FALSE(split(with_nul).all_numbers);
}
