// The libusb driver backend end to end: the link over the backend over a stand-in
// libusb that forwards to emulated adapters running the real firmware.
#include <gtest/gtest.h>

#include "ezusb/adapter.h"
#include "fake_libusb.h"
#include "firmware_image.h"
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

TEST_F(LibusbBackend, LoadsTheFirmwareAndTalksOverBothPipes) {
    fake_usb::state.kernel_driver_bound = true;
    ASSERT_EQ(connect_adapter(0, &handle, firmware_image, "ZEMA", "Z100"), 0);
    EXPECT_EQ(product_of(first), 0x1002);
    EXPECT_EQ(fake_usb::state.detaches, 1);  // the bare chip's kernel driver stepped aside

    // The download went as load requests at rising addresses, each one packet long.
    uint16_t next = 0;
    int loads = 0;
    for (const auto& control : fake_usb::state.controls) {
        if (control.request != 0xA0 || control.value == 0x7F92) continue;
        EXPECT_EQ(control.request_type, 0x40);
        EXPECT_EQ(control.value, next);
        EXPECT_LE(control.length, 64);
        next = static_cast<uint16_t>(next + control.length);
        ++loads;
    }
    EXPECT_EQ(next, 4096);
    EXPECT_GT(loads, 1);

    fake_usb::state.transfers.clear();
    const unsigned char packet[] = {0x02, 0x9D, 0x66, 0x03, 0x9D};
    ASSERT_EQ(bulk_write(&handle, EP1_OUT_PIPE, packet, sizeof packet), 0);
    unsigned char reply[64] = {};
    ASSERT_EQ(bulk_read(&handle, EP1_IN_PIPE, reply, 64), 1);
    EXPECT_EQ(reply[0], 0x66);
    const auto& transfers = fake_usb::state.transfers;
    ASSERT_EQ(transfers.size(), 2u);
    EXPECT_FALSE(transfers[0].interrupt);  // pipe 0: endpoint 0x01, bulk
    EXPECT_EQ(transfers[0].endpoint, 0x01);
    EXPECT_TRUE(transfers[1].interrupt);   // pipe 7: endpoint 0x81, interrupt
    EXPECT_EQ(transfers[1].endpoint, 0x81);
    EXPECT_GE(transfers[1].timeout_ms, 5000u);

    // A second run finds the firmware running and does not load it again.
    close_adapter(&handle);
    fake_usb::state.controls.clear();
    ASSERT_EQ(connect_adapter(0, &handle, firmware_image, "ZEMA", "Z100"), 0);
    EXPECT_EQ(fake_usb::state.controls.size(), 2u);  // the two string descriptors
}

TEST_F(LibusbBackend, KernelDriverIsDetachedAndGivenBack) {
    fake_usb::state.kernel_driver_bound = true;
    ASSERT_EQ(open_adapter(0, &handle), 0);
    EXPECT_EQ(fake_usb::state.detaches, 1);
    close_adapter(&handle);
    handle = INVALID_HANDLE_VALUE;
    EXPECT_EQ(fake_usb::state.reattaches, 1);
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
