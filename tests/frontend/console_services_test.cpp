#include <gtest/gtest.h>

#include <string>

#include "platform/console.h"
#include "run/console_services.h"
#include "support.h"

#ifdef _WIN32
const char NEWLINE[] = "\r\n";  // the console stream of Windows is in text mode
#else
const char NEWLINE[] = "\n";
#endif

namespace {

std::string progress_of(int total, int first, int last) {
    CapturedStdout out;
    for (int i = first; i <= last; ++i) show_progress(i, total);
    return out.text();
}

}  // namespace

TEST(ShowProgress, PrintsEvery128thPositionOfLargeTotalsOnly) {
    EXPECT_EQ(progress_of(255, 0, 254), "");
    EXPECT_EQ(progress_of(256, 0, 255), "( 0.0%)\r(50.0%)\r");
    EXPECT_EQ(progress_of(512, 0, 511), "( 0.0%)\r(25.0%)\r(50.0%)\r(75.0%)\r");
    // The streamed write reports the bytes sent after each packet, up to the total.
    EXPECT_EQ(progress_of(0x40000, 0x40000, 0x40000), "(100.0%)\r");
    EXPECT_EQ(progress_of(0x40000, 0x20000 + 64, 0x20000 + 64), "");
    EXPECT_EQ(progress_of(0x40000, 0x20080, 0x20080), "(50.0%)\r");
}

TEST(WaitKey, PrintsThePromptInShiftJisAndTakesOneKey) {
    FedStdin keys("ab");
    CapturedStdout out;
    wait_key();
    int second = con_read_key();
    int at_end = con_read_key();  // end of input: returns at once
    std::string prompt =
        "\x5B\x20\x89\xBD\x82\xA9\x83\x4C\x81\x5B\x82\xF0\x89\x9F\x82\xB5\x82\xC4\x89\xBA\x82\xB3"
        "\x82\xA2\x20\x5D";
    EXPECT_EQ(out.text(), prompt + NEWLINE);
    EXPECT_EQ(second, 'b');
    EXPECT_EQ(at_end, -1);
}

TEST(ConsoleOutput, ReachesAFileByteForByte) {
    CapturedStdout out;
    con_printf("%s|%d|%04X", "\x83\x74\x5C\x00", -7, 0x1A2);
    con_printf("\r");
    EXPECT_EQ(out.text(), std::string("\x83\x74\x5C|-7|01A2\r"));
}
