// The link and the emulated driver together, with the real firmware image on the
// emulated EZ-USB chip: recognising and loading the firmware, the reopening after the
// adapter comes back as its own device, and the two pipes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ezusb/adapter.h"
#include "firmware_image.h"
#include "link/link.h"
#include "platform/driver_emu.h"
#include "platform/driver_requests.h"

using Bytes = std::vector<uint8_t>;

namespace {

std::vector<uint32_t> codes() {
    std::vector<uint32_t> seen;
    for (const emu_driver::Request& request : emu_driver::requests()) seen.push_back(request.code);
    return seen;
}

uint16_t product_of(const emu::Adapter& adapter) {
    const Bytes& descriptor = adapter.device_descriptor();
    return static_cast<uint16_t>(descriptor[10] | descriptor[11] << 8);
}

class LinkEmu : public ::testing::Test {
protected:
    emu::Adapter adapter;
    HANDLE handle = INVALID_HANDLE_VALUE;

    void SetUp() override {
        emu_driver::reset();
        link_take_failure();
        adapter.plug();
        emu_driver::register_adapter(&adapter);
    }
    void TearDown() override { emu_driver::reset(); }

    int connect(const char* manufacturer = "ZEMA") {
        return connect_adapter(0, &handle, firmware_image, manufacturer, "Z100");
    }

    // Loads the firmware, then starts the record afresh on a new handle.
    void connect_loaded() {
        ASSERT_EQ(connect(), 0);
        close_adapter(&handle);
        emu_driver::clear_record();
    }

    // One register written and read back through the two pipes.
    void expect_register_round_trip(uint8_t value) {
        const unsigned char packet[] = {0x02, 0x9D, value, 0x03, 0x9D, 0x03, 0x9D};
        ASSERT_EQ(bulk_write(&handle, EP1_OUT_PIPE, packet, sizeof packet), 0);
        unsigned char reply[64] = {};
        ASSERT_EQ(bulk_read(&handle, EP1_IN_PIPE, reply, 64), 2);  // the driver's count
        EXPECT_EQ(reply[0], value);
        EXPECT_EQ(reply[1], value);
    }
};

// The bare chip has no strings: the first string request stalls, and that is reason
// enough to load the firmware.
TEST_F(LinkEmu, BareChipGetsTheFirmwareAndComesBackAsTheAdapter) {
    ASSERT_EQ(product_of(adapter), 0x2131);
    uint32_t first_enumeration = adapter.enumeration();
    uint64_t start = adapter.now_ns();

    ASSERT_EQ(connect(), 0);

    ASSERT_EQ(codes(), (std::vector<uint32_t>{EZUSB_GET_STRING, EZUSB_VENDOR_REQUEST,
                                              EZUSB_DOWNLOAD, EZUSB_VENDOR_REQUEST}));
    const auto& requests = emu_driver::requests();
    EXPECT_EQ(requests[0].input, (Bytes{0x01, 0x00, 0x1B, 0x00}));
    EXPECT_EQ(requests[0].output_length, 130u);
    EXPECT_FALSE(requests[0].succeeded);
    EXPECT_EQ(requests[1].input,
              (Bytes{0xA0, 0x00, 0x92, 0x7F, 0x00, 0x00, 0x01, 0x00, 0x00, 0x01}));
    EXPECT_EQ(requests[1].output_length, 0u);
    EXPECT_EQ(requests[2].input, Bytes(firmware_image, firmware_image + 4096));
    EXPECT_EQ(requests[2].output_length, 0u);
    EXPECT_EQ(requests[3].input,
              (Bytes{0xA0, 0x00, 0x92, 0x7F, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00}));
    for (size_t i = 1; i < requests.size(); ++i) EXPECT_TRUE(requests[i].succeeded);

    const auto& opens = emu_driver::opens();
    ASSERT_EQ(opens.size(), 2u);  // the firmware is back within the first 2000 ms wait
    for (const auto& open : opens) {
        EXPECT_EQ(open.path, "\\\\.\\ezusb-0");
        EXPECT_EQ(open.access, 0x40000000u);
        EXPECT_EQ(open.share, 2u);
        EXPECT_EQ(open.disposition, 3u);
        EXPECT_EQ(open.flags, 0u);
    }
    EXPECT_GE(adapter.now_ns() - start, 2000000000u);
    EXPECT_GT(adapter.enumeration(), first_enumeration);
    EXPECT_EQ(product_of(adapter), 0x1002);

    char text[128];
    ASSERT_EQ(get_string_descriptor(&handle, 1, text), 0);
    EXPECT_STREQ(text, "ZEMA");
    ASSERT_EQ(get_string_descriptor(&handle, 2, text), 0);
    EXPECT_STREQ(text, "Z100");
    expect_register_round_trip(0x5A);
}

TEST_F(LinkEmu, RunningFirmwareIsKept) {
    connect_loaded();
    uint32_t enumeration = adapter.enumeration();
    ASSERT_EQ(connect(), 0);
    EXPECT_EQ(codes(), (std::vector<uint32_t>{EZUSB_GET_STRING, EZUSB_GET_STRING}));
    EXPECT_EQ(emu_driver::opens().size(), 1u);
    EXPECT_EQ(adapter.enumeration(), enumeration);
    expect_register_round_trip(0xC3);
}

TEST_F(LinkEmu, AnyDifferenceInTheStringsLoadsTheFirmwareAgain) {
    connect_loaded();
    for (const char* manufacturer : {"zema", "ZEM", "ZEMAA", "ZEMB"}) {
        SCOPED_TRACE(manufacturer);
        uint32_t enumeration = adapter.enumeration();
        emu_driver::clear_record();
        ASSERT_EQ(connect(manufacturer), 0);
        EXPECT_EQ(codes().size(), 5u);
        EXPECT_EQ(emu_driver::opens().size(), 2u);
        EXPECT_GT(adapter.enumeration(), enumeration);
        close_adapter(&handle);
    }
    ASSERT_EQ(open_adapter(0, &handle), 0);
    expect_register_round_trip(0x11);
}

TEST_F(LinkEmu, FailedOpenEndsBeforeAnyRequest) {
    emu_driver::Faults faults;
    faults.fail_opens = 1;
    emu_driver::set_faults(faults);
    EXPECT_EQ(connect(), -1);
    EXPECT_EQ(handle, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(emu_driver::requests().empty());
    EXPECT_EQ(connect(), 0);  // the switch fails one open only
}

TEST_F(LinkEmu, DownloadPutsTheImageAtAddressZeroWhileHeld) {
    ASSERT_EQ(open_adapter(0, &handle), 0);
    ASSERT_EQ(hold_8051(&handle), 0);
    ASSERT_EQ(download_firmware(&handle, firmware_image, 4096), 0);
    EXPECT_EQ(std::memcmp(adapter.memory(), firmware_image, 4096), 0);
    EXPECT_TRUE(adapter.held_in_reset());
    // A vendor request that reads: the chip's load request returns a byte of its memory.
    uint8_t read_back[10] = {0xA0, 0x00, 0x07, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00};
    uint8_t byte = 0;
    DWORD returned = 0;
    ASSERT_TRUE(
        DeviceIoControl(handle, EZUSB_VENDOR_REQUEST, read_back, 10, &byte, 1, &returned, nullptr));
    EXPECT_EQ(returned, 1u);
    EXPECT_EQ(byte, firmware_image[7]);
    ASSERT_EQ(run_8051(&handle), 0);
    Sleep(1);
    EXPECT_FALSE(adapter.held_in_reset());
}

TEST_F(LinkEmu, FailingDownloadLeavesThe8051Held) {
    emu::UsbFaults faults;
    faults.fail_from = adapter.stats().control.transfers + 5;  // inside the download
    adapter.set_faults(faults);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(connect(), -1);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "usb dwnload err.\n");
    EXPECT_EQ(codes(),
              (std::vector<uint32_t>{EZUSB_GET_STRING, EZUSB_VENDOR_REQUEST, EZUSB_DOWNLOAD}));
    EXPECT_FALSE(emu_driver::requests().back().succeeded);
    EXPECT_TRUE(adapter.held_in_reset());
}

TEST_F(LinkEmu, AdapterThatNeverComesBackEndsAfterFifteenAttempts) {
    emu::UsbFaults faults;
    faults.no_reattach = true;
    adapter.set_faults(faults);
    uint64_t start = adapter.now_ns();
    EXPECT_EQ(connect(), -1);
    EXPECT_EQ(emu_driver::opens().size(), 16u);
    EXPECT_GE(adapter.now_ns() - start, 30000000000u);
    EXPECT_EQ(handle, INVALID_HANDLE_VALUE);
}

TEST_F(LinkEmu, PipeTransfersGoInPiecesOfAtMost32768) {
    connect_loaded();
    ASSERT_EQ(open_adapter(0, &handle), 0);
    static unsigned char zeros[32769];  // zero bytes are skipped by the adapter one by one
    EXPECT_EQ(bulk_write(&handle, EP1_OUT_PIPE, zeros, 0), 0);
    EXPECT_EQ(bulk_read(&handle, EP1_IN_PIPE, zeros, 0), 0);
    EXPECT_EQ(bulk_write(&handle, EP1_OUT_PIPE, zeros, -1), 0);
    EXPECT_EQ(bulk_read(&handle, EP1_IN_PIPE, zeros, -1), 0);
    EXPECT_TRUE(emu_driver::requests().empty());

    ASSERT_EQ(bulk_write(&handle, EP1_OUT_PIPE, zeros, 32768), 0);
    ASSERT_EQ(emu_driver::requests().size(), 1u);
    emu_driver::clear_record();
    ASSERT_EQ(bulk_write(&handle, EP1_OUT_PIPE, zeros, 32769), 0);
    const auto& requests = emu_driver::requests();
    ASSERT_EQ(requests.size(), 2u);
    for (const auto& request : requests) {
        EXPECT_EQ(request.code, EZUSB_PIPE_WRITE);
        EXPECT_EQ(request.input, (Bytes{0, 0, 0, 0}));
    }
    EXPECT_EQ(requests[0].output_length, 32768u);
    EXPECT_EQ(requests[1].output_length, 1u);
    EXPECT_EQ(adapter.stats().out[1].bytes, 32768u + 32768u + 1u);
    EXPECT_EQ(link_take_failure(), 0);
    expect_register_round_trip(0x77);
}

TEST_F(LinkEmu, DriverRefusesWhatItCannotServe) {
    connect_loaded();
    ASSERT_EQ(open_adapter(0, &handle), 0);
    DWORD returned = 0;
    uint8_t buffer[256] = {};
    uint8_t pipe_out[4] = {0, 0, 0, 0};
    uint8_t pipe_in[4] = {7, 0, 0, 0};
    uint8_t pipe_none[4] = {14, 0, 0, 0};
    uint8_t string_request[4] = {1, 0, 0x1B, 0};
    uint8_t vendor[10] = {0xA0, 0, 0x92, 0x7F, 0, 0, 2, 0, 0, 1};  // two data bytes
    struct Case {
        const char* what;
        DWORD code;
        void* in;
        DWORD in_size;
        DWORD out_size;
    } cases[] = {
        {"unknown code", 0x222018, pipe_out, 4, 0},
        {"short pipe record", EZUSB_PIPE_WRITE, pipe_out, 3, 1},
        {"no such pipe", EZUSB_PIPE_READ, pipe_none, 4, 64},
        {"read from an OUT pipe", EZUSB_PIPE_READ, pipe_out, 4, 64},
        {"write to an IN pipe", EZUSB_PIPE_WRITE, pipe_in, 4, 1},
        {"piece too long", EZUSB_PIPE_WRITE, pipe_out, 4, 32769},
        {"vendor record too short", EZUSB_VENDOR_REQUEST, vendor, 9, 0},
        {"vendor data beyond the record", EZUSB_VENDOR_REQUEST, vendor, 10, 0},
        {"string reply buffer too small", EZUSB_GET_STRING, string_request, 4, 1},
        {"empty download", EZUSB_DOWNLOAD, buffer, 0, 0},
    };
    static uint8_t big[32769];
    for (const Case& c : cases) {
        void* out =
            c.out_size > sizeof buffer ? static_cast<void*>(big) : static_cast<void*>(buffer);
        EXPECT_FALSE(
            DeviceIoControl(handle, c.code, c.in, c.in_size, out, c.out_size, &returned, nullptr))
            << c.what;
    }
    EXPECT_FALSE(adapter.held_in_reset());
    expect_register_round_trip(0x3C);  // nothing of it reached the adapter

    HANDLE bogus = &returned;
    EXPECT_FALSE(DeviceIoControl(bogus, EZUSB_GET_STRING, string_request, 4, buffer, 130, &returned,
                                 nullptr));
    HANDLE other = nullptr;
    EXPECT_EQ(open_adapter(12, &other), -1);  // one adapter only
    EXPECT_EQ(emu_driver::opens().back().path, "\\\\.\\ezusb-12");
    EXPECT_EQ(other, INVALID_HANDLE_VALUE);
    EXPECT_EQ(CreateFileA("\\\\.\\ezusb-0x", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
}

TEST_F(LinkEmu, HandleFromBeforeReenumerationFails) {
    ASSERT_EQ(open_adapter(0, &handle), 0);
    adapter.plug();  // power cycle: the adapter enumerates anew
    ASSERT_TRUE(adapter.present());
    char text[128];
    EXPECT_EQ(get_string_descriptor(&handle, 0, text), -1);
    EXPECT_EQ(hold_8051(&handle), -1);
    close_adapter(&handle);

    adapter.unplug();
    EXPECT_EQ(open_adapter(0, &handle), -1);
    adapter.plug();
    EXPECT_EQ(open_adapter(0, &handle), 0);
}

TEST_F(LinkEmu, SleepLetsVirtualTimePass) {
    uint64_t start = adapter.now_ns();
    Sleep(2000);
    EXPECT_GE(adapter.now_ns() - start, 2000000000u);
    EXPECT_LT(adapter.now_ns() - start, 2002000000u);
}

}  // namespace
