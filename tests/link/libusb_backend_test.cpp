// The libusb driver backend where only a stand-in libusb reaches: the link over the
// backend over a libusb that forwards to emulated adapters. The backend's ordinary work
// over the system's libusb and usbdevfs is tested through the usbdevfs test bed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "ezusb/adapter.h"
#include "fake_libusb.h"
#include "link/link.h"

namespace {

uint16_t product_of(const emu::Adapter& adapter) {
    const auto& descriptor = adapter.device_descriptor();
    return static_cast<uint16_t>(descriptor[10] | descriptor[11] << 8);
}

class LibusbBackend : public ::testing::Test {
protected:
    emu::Adapter first, second;
    HANDLE handle = INVALID_HANDLE_VALUE;

    void SetUp() override {
        fake_usb::reset();
        fake_usb::add_foreign_device();  // listed first: not counted as an adapter
        first.plug();
        fake_usb::add_adapter(&first);
    }
    void TearDown() override {
        if (handle != INVALID_HANDLE_VALUE) close_adapter(&handle);
        EXPECT_EQ(fake_usb::state.open_handles, 0);
        EXPECT_EQ(fake_usb::state.config_descriptors_held, 0);
        fake_usb::reset();
    }
};

// Without the udev rule the adapter is found but cannot be opened: the run goes on as
// without an adapter, and standard error names the device, the reason and the rule once,
// however often the link tries again.
TEST_F(LibusbBackend, AnAdapterThatCannotBeOpenedIsNamedOnce) {
    fake_usb::state.deny_open = true;
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(open_adapter(0, &handle), -1);
    EXPECT_EQ(open_adapter(0, &handle), -1);
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    char device[32];
    std::snprintf(device, sizeof device, "001/%03d (0547:%04x)", first.address(),
                  product_of(first));
    EXPECT_NE(err.find(device), std::string::npos) << err;
    EXPECT_NE(err.find("LIBUSB_ERROR_ACCESS"), std::string::npos) << err;
    EXPECT_NE(err.find("packaging/60-pelkat.rules"), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    handle = INVALID_HANDLE_VALUE;
}

TEST_F(LibusbBackend, IndexCountsAdaptersOnly) {
    second.plug();
    fake_usb::add_adapter(&second);
    ASSERT_EQ(open_adapter(1, &handle), 0);
    ASSERT_EQ(run_8051(&handle), 0);
    second.sleep_ns(1000000);
    EXPECT_FALSE(second.held_in_reset());
    EXPECT_TRUE(first.held_in_reset());
    close_adapter(&handle);
    handle = INVALID_HANDLE_VALUE;
    EXPECT_EQ(open_adapter(2, &handle), -1);
}

TEST_F(LibusbBackend, StaleOrMissingDevicesFail) {
    ASSERT_EQ(open_adapter(0, &handle), 0);
    first.plug();  // power cycle: a new enumeration
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(hold_8051(&handle), -1);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "i8051 halt err.\n");
    unsigned char byte = 0;
    EXPECT_EQ(bulk_write(&handle, EP1_OUT_PIPE, &byte, 1), -1);
    close_adapter(&handle);
    handle = INVALID_HANDLE_VALUE;

    first.unplug();
    EXPECT_EQ(open_adapter(0, &handle), -1);
}

}  // namespace
