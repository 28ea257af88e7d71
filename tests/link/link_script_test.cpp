// The link against a scripted driver that misbehaves on purpose: string descriptors
// of odd lengths or that cannot be read, failing requests, short reads, an adapter
// that is slow to come back or never does.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "link/link.h"
#include "platform/driver_requests.h"
#include "scripted_driver.h"

using script::driver;
using Bytes = std::vector<uint8_t>;

namespace {

// A string descriptor reply: bLength as given, type 3, then the code units.
Bytes string_reply(uint8_t length, const std::vector<uint16_t>& units) {
    Bytes reply = {length, 3};
    for (uint16_t unit : units) {
        reply.push_back(static_cast<uint8_t>(unit));
        reply.push_back(static_cast<uint8_t>(unit >> 8));
    }
    return reply;
}

Bytes ascii_reply(const std::string& text) {
    std::vector<uint16_t> units(text.begin(), text.end());
    return string_reply(static_cast<uint8_t>(2 + 2 * text.size()), units);
}

class LinkScript : public ::testing::Test {
protected:
    HANDLE handle = nullptr;
    unsigned char image[4096] = {};
    Bytes strings[3] = {{}, ascii_reply("ZEMA"), ascii_reply("Z100")};

    void SetUp() override {
        script::reset();
        link_take_failure();
        driver.reply = [this](const script::Call& call, uint8_t* out) -> int {
            if (call.code != EZUSB_GET_STRING) return 0;
            const Bytes& reply = strings[call.input[0] < 3 ? call.input[0] : 0];
            std::memcpy(out, reply.data(), reply.size());
            return static_cast<int>(reply.size());
        };
        open_adapter(0, &handle);  // the tests of single requests need an open handle
        driver.opens.clear();
    }

    int connect(const char* manufacturer = "ZEMA", const char* product = "Z100") {
        return connect_adapter(0, &handle, image, manufacturer, product);
    }
};

TEST_F(LinkScript, ReopenIsRetriedEveryTwoSecondsForThirtySeconds) {
    driver.open_succeeds = [](int number) { return number == 0 || number == 3; };
    strings[1] = ascii_reply("EZ");
    ASSERT_EQ(connect(), 0);
    ASSERT_EQ(driver.opens.size(), 4u);
    EXPECT_EQ(driver.closes, 1);
    for (int i = 1; i < 4; ++i) EXPECT_EQ(driver.opens[i].at_ms, 2000u * i);  // full waits

    SetUp();
    driver.open_succeeds = [](int number) { return number == 0; };
    strings[1] = ascii_reply("EZ");
    EXPECT_EQ(connect(), -1);
    EXPECT_EQ(driver.opens.size(), 16u);  // the first open and 15 attempts
    EXPECT_EQ(driver.now_ms, 30000u);
    EXPECT_EQ(handle, INVALID_HANDLE_VALUE);
}

// A string that cannot be read is no match (a bare chip has none): the firmware is
// loaded. A load that fails then keeps its message and the failed connection.
TEST_F(LinkScript, UnreadableStringLoadsTheFirmware) {
    struct Case {
        uint8_t unreadable;  // string index
        int failing_call;    // index in the request sequence, -1: none
        const char* message;
        size_t calls, opens;
        int result;
    } cases[] = {
        {1, -1, "", 4, 2, 0},
        {2, -1, "", 5, 2, 0},
        {1, 1, "i8051 halt err.\n", 2, 1, -1},
        {2, 4, "i8051 run err.\n", 5, 1, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.calls);
        SetUp();
        auto scripted = driver.reply;
        driver.reply = [&](const script::Call& call, uint8_t* out) -> int {
            if (call.code == EZUSB_GET_STRING && call.input[0] == c.unreadable) return -1;
            if (driver.calls.size() == static_cast<size_t>(c.failing_call + 1)) return -1;
            return scripted(call, out);
        };
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(connect(), c.result);
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.message);
        EXPECT_EQ(driver.calls.size(), c.calls);
        EXPECT_EQ(driver.opens.size(), c.opens);
        EXPECT_EQ(script::calls_of(EZUSB_DOWNLOAD).size(), c.calls >= 4 ? 1u : 0u);
    }
    SetUp();
    driver.open_succeeds = [](int) { return false; };
    EXPECT_EQ(connect(), -1);
    EXPECT_TRUE(driver.calls.empty());
}

TEST_F(LinkScript, LoadFailuresStopAtTheFailingStepWithTheirMessage) {
    struct Case {
        int failing_call;  // index in the request sequence
        const char* message;
        size_t calls;
    } cases[] = {
        {2, "i8051 halt err.\n", 3}, {3, "usb dwnload err.\n", 4}, {4, "i8051 run err.\n", 5}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        SetUp();
        strings[2] = ascii_reply("Z101");
        int failing = c.failing_call;
        auto scripted = driver.reply;
        driver.reply = [&, failing](const script::Call& call, uint8_t* out) -> int {
            return driver.calls.size() == static_cast<size_t>(failing + 1) ? -1
                                                                           : scripted(call, out);
        };
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(connect(), -1);
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.message);
        EXPECT_EQ(driver.calls.size(), c.calls);  // nothing after the failing request
        EXPECT_EQ(driver.closes, 0);
        EXPECT_EQ(driver.opens.size(), 1u);
    }
}

TEST_F(LinkScript, StringDecodingFollowsTheLengthByte) {
    struct Case {
        Bytes reply;
        std::string text;
    } cases[] = {
        {string_reply(2, {'A', 'B'}), ""},
        {string_reply(0, {'A'}), ""},
        {string_reply(1, {'A'}), ""},
        {string_reply(10, {'Z', 'E', 'M', 'A', 'X'}), "ZEMA"},
        {string_reply(11, {'Z', 'E', 'M', 'A', 'X'}), "ZEMA"},
        {string_reply(6, {0x3042, 0x00E9}), "\x42\xE9"},  // only the low byte of each unit
        {string_reply(4, {'Q'}), "Q"},  // a short reply: the length byte still decides
    };
    for (const Case& c : cases) {
        SetUp();
        strings[1] = c.reply;
        char text[128];
        std::memset(text, '#', sizeof text);
        ASSERT_EQ(get_string_descriptor(&handle, 1, text), 0);
        EXPECT_EQ(std::string(text), c.text) << "bLength " << int(c.reply[0]);
    }
}

TEST_F(LinkScript, OverlongLengthByteIsCutToTheReply) {
    std::vector<uint16_t> units(64, 'a');
    strings[1] = string_reply(255, units);
    char text[129];
    std::memset(text, '#', sizeof text);
    ASSERT_EQ(get_string_descriptor(&handle, 1, text), 0);
    EXPECT_EQ(std::string(text), std::string(64, 'a'));
    EXPECT_EQ(text[65], '#');  // nothing written past the terminator
}

TEST_F(LinkScript, ReadReturnsTheDriversByteCounts) {
    static unsigned char buffer[65536 + 10];
    std::memset(buffer, 0, sizeof buffer);
    int piece = 0;
    driver.reply = [&](const script::Call& call, uint8_t* out) -> int {
        EXPECT_EQ(call.input, (Bytes{7, 0, 0, 0}));
        out[0] = static_cast<uint8_t>(0xA1 + piece);
        return piece++ == 0 ? 100 : 3;  // short pieces
    };
    EXPECT_EQ(bulk_read(&handle, EP1_IN_PIPE, buffer, 65536 + 10), 106);
    ASSERT_EQ(driver.calls.size(), 3u);
    // Each piece lands at the offset of the lengths asked for, not of the bytes received.
    EXPECT_EQ(buffer[0], 0xA1);
    EXPECT_EQ(buffer[32768], 0xA2);
    EXPECT_EQ(buffer[65536], 0xA3);
    EXPECT_EQ(driver.calls[2].output_length, 10u);
}

TEST_F(LinkScript, FailedPieceEndsTheTransferAndIsRemembered) {
    static unsigned char data[70000];
    driver.reply = [](const script::Call& call, uint8_t*) -> int {
        return script::driver.calls.size() == 2 ? -1 : static_cast<int>(call.output_length);
    };
    EXPECT_EQ(bulk_write(&handle, EP1_OUT_PIPE, data, sizeof data), -1);
    EXPECT_EQ(driver.calls.size(), 2u);
    EXPECT_EQ(link_take_failure(), 1);
    EXPECT_EQ(link_take_failure(), 0);

    driver.calls.clear();
    EXPECT_EQ(bulk_read(&handle, EP1_IN_PIPE, data, sizeof data), -1);
    EXPECT_EQ(driver.calls.size(), 2u);
    EXPECT_EQ(link_take_failure(), 1);

    driver.calls.clear();
    EXPECT_EQ(bulk_read(&handle, EP1_IN_PIPE, data, 64), 64);  // the next succeeds
    EXPECT_EQ(link_take_failure(), 0);
}

}  // namespace
