// pelkat.exe's driver path where the EZ-USB driver is absent: the link over the WinUSB
// backend, with SetupAPI, WinUSB and kernel32's file functions taken over at the import
// level by a scripted bus of emulated adapters (the real firmware on the emulated chip)
// and other USB devices.
#include <gtest/gtest.h>

#include <string>

#include "ezusb/adapter.h"
#include "fake_winusb.h"
#include "firmware_image.h"
#include "link/link.h"

using namespace fake_winusb;

namespace {

// Each case: the bus in SetupAPI's order (A: an adapter bound to WinUSB, a: one that is
// not, m: a mouse), the adapter index, whether the connection succeeds, what becomes of
// each device (F: runs the firmware, h: the bare chip, still held in reset, -: a mouse),
// and whether an unusable adapter is named on standard error (once).
struct Case {
    const char* bus;
    int index;
    bool connects;
    const char* after;
    bool named;
};

const Case cases[] = {
    {"A", 0, true, "F", false},      // the bare chip gets the firmware and comes back
    {"mAA", 1, true, "-hF", false},  // the index counts adapters only
    {"aA", 0, false, "hh", true},    // an adapter without WinUSB is named
    {"aA", 1, true, "hF", false},    // and still counted
    {"A", 1, false, "h", false},     // no second adapter
};

TEST(WinUsbBackend, FindsLoadsAndReopensTheIndexedAdapter) {
    for (const Case& test : cases) {
        SCOPED_TRACE(std::string(test.bus) + " index " + std::to_string(test.index));
        emu::Adapter adapters[3];
        bus.clear();
        for (size_t i = 0; test.bus[i] != '\0'; ++i) {
            bool adapter = test.bus[i] != 'm';
            if (adapter) adapters[i].plug();
            bus.push_back({adapter ? &adapters[i] : nullptr, test.bus[i] == 'A'});
        }
        HANDLE handle = INVALID_HANDLE_VALUE;
        ::testing::internal::CaptureStderr();
        int result = connect_adapter(test.index, &handle, firmware_image, "ZEMA", "Z100");
        std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(result, test.connects ? 0 : -1);
        if (test.named) {
            EXPECT_NE(err.find("0547:2131 cannot be used through WinUSB"), err.npos) << err;
            EXPECT_NE(err.find("in the README\n"), err.npos) << err;
            EXPECT_EQ(err.find('\n'), err.size() - 1) << err;
        } else {
            EXPECT_EQ(err, "");
        }
        for (size_t i = 0; i < bus.size(); ++i) {
            if (bus[i].adapter == nullptr) continue;
            EXPECT_EQ(product_of(bus[i]), test.after[i] == 'F' ? 0x1002 : 0x2131) << i;
            EXPECT_EQ(bus[i].adapter->held_in_reset(), test.after[i] != 'F') << i;
        }
        if (result == 0) close_adapter(&handle);
        EXPECT_EQ(open_files, 0);
        EXPECT_EQ(device_lists, 0);
    }
}

// The adapter with its firmware: the pipes by the driver's numbering, the dispatcher's
// checks before anything reaches WinUSB, and an adapter that leaves the bus.
TEST(WinUsbBackend, PipesChecksAndAVanishingAdapter) {
    emu::Adapter adapter;
    adapter.plug();
    bus = {{nullptr, false}, {&adapter, true}};
    HANDLE handle = INVALID_HANDLE_VALUE;
    ASSERT_EQ(connect_adapter(0, &handle, firmware_image, "ZEMA", "Z100"), 0);
    EXPECT_EQ(pipe_timeout, 10000u);
    char text[128];
    ASSERT_EQ(get_string_descriptor(&handle, 2, text), 0);
    EXPECT_STREQ(text, "Z100");

    const unsigned char packet[] = {0x02, 0x9D, 0x5A, 0x03, 0x9D, 0x03, 0x9D};
    pipe_calls = 0;
    ASSERT_EQ(bulk_write(&handle, EP1_OUT_PIPE, packet, sizeof packet), 0);
    unsigned char reply[64] = {};
    ASSERT_EQ(bulk_read(&handle, EP1_IN_PIPE, reply, 64), 2);
    EXPECT_EQ(reply[0], 0x5A);
    EXPECT_EQ(reply[1], 0x5A);
    EXPECT_EQ(bulk_write(&handle, EP1_IN_PIPE, packet, 1), -1);  // an IN pipe
    EXPECT_EQ(bulk_read(&handle, 14, reply, 64), -1);            // no such pipe
    EXPECT_EQ(pipe_calls, 2);

    adapter.unplug();
    EXPECT_EQ(bulk_write(&handle, EP1_OUT_PIPE, packet, sizeof packet), -1);
    EXPECT_EQ(get_string_descriptor(&handle, 1, text), -1);
    close_adapter(&handle);
    EXPECT_EQ(open_adapter(0, &handle), -1);
    EXPECT_EQ(open_files, 0);
}

}  // namespace
