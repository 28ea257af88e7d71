// The adapter on its USB port: the bare chip's own answers, loading and running a
// firmware, transfers in frames, idle skipping, faults, capture.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/cpu8051.h"
#include "echo_firmware.h"
#include "ezusb/adapter.h"
#include "ezusb_registers.h"
#include "trace/usb_pcap.h"

namespace {

using namespace ezusb_test;
using emu::Adapter;

constexpr uint64_t NS_PER_MS = 1000000;

uint16_t product_of(const Adapter& adapter) {
    const std::vector<uint8_t>& d = adapter.device_descriptor();
    return d.size() < 12 ? 0 : uint16_t(d[10] | d[11] << 8);
}

std::string string_of(const uint8_t* d, int n) {
    std::string s;
    for (int i = 2; i + 1 < n && i < d[0]; i += 2) s += char(d[i]);
    return s;
}

TEST(BareChip, EnumeratesWithTheDefaultIdentityAndServesTheLoadRequestWhileHeld) {
    Adapter adapter;
    EXPECT_FALSE(adapter.present());
    adapter.plug();
    ASSERT_TRUE(adapter.present());
    EXPECT_EQ(adapter.enumeration(), 1u);
    EXPECT_TRUE(adapter.held_in_reset());
    EXPECT_EQ(product_of(adapter), Adapter::DEFAULT_PRODUCT);
    EXPECT_EQ(adapter.device_descriptor()[8] | adapter.device_descriptor()[9] << 8,
              Adapter::DEFAULT_VENDOR);
    EXPECT_TRUE(adapter.endpoints().empty());

    // No strings: the indexes are 0 and every string request stalls.
    const std::vector<uint8_t>& device = adapter.device_descriptor();
    EXPECT_EQ(std::vector<uint8_t>(device.begin() + 14, device.begin() + 17),
              (std::vector<uint8_t>{0, 0, 0}));
    uint8_t d[255];
    for (uint8_t index : {0, 1, 2}) EXPECT_EQ(get_descriptor(adapter, 3, index, 255, d), -1);
    EXPECT_EQ(get_descriptor(adapter, 2, 0, 4, d), 4);         // wLength caps the reply
    EXPECT_EQ(adapter.control({0xC0, 0x40, 0, 0, 1}, d), -1);  // no vendor request but 0xA0

    // 0xA0 writes and reads internal RAM and reads CPUCS, the 8051 staying held.
    uint8_t pattern[100];
    for (int i = 0; i < 100; ++i) pattern[i] = uint8_t(i * 7 + 1);
    EXPECT_EQ(adapter.control({0x40, 0xA0, 0x1B00, 0, 100}, pattern), -1);  // runs past 0x1B3F
    EXPECT_EQ(adapter.memory()[0x1B00], 0);  // and nothing of it was written
    EXPECT_EQ(adapter.control({0x40, 0xA0, 0x1000, 0, 100}, pattern), 100);
    uint8_t back[100] = {};
    EXPECT_EQ(adapter.control({0xC0, 0xA0, 0x1000, 0, 100}, back), 100);
    EXPECT_EQ(std::memcmp(back, pattern, 100), 0);
    EXPECT_EQ(adapter.control({0xC0, 0xA0, CPUCS, 0, 1}, back), 1);
    EXPECT_EQ(back[0] & 0x09, 0x01);  // held; the clock flag reads 0
    EXPECT_TRUE(adapter.held_in_reset());
    EXPECT_EQ(adapter.cpu().instructions(), 0u);
}

class Echo : public ::testing::Test {
protected:
    Adapter adapter;
    void SetUp() override {
        adapter.plug();
        ASSERT_TRUE(start_echo(adapter));
    }
    int round_trip(const std::vector<uint8_t>& packet, uint8_t* reply, int length = 64) {
        if (adapter.bulk_out(0x01, packet.data(), int(packet.size())) != int(packet.size()))
            return -2;
        return adapter.bulk_in(0x81, reply, length);
    }
};

TEST_F(Echo, RenumeratesWithItsOwnDescriptors) {
    EXPECT_FALSE(adapter.held_in_reset());
    EXPECT_EQ(product_of(adapter), 0x7E57);
    ASSERT_EQ(adapter.endpoints().size(), 3u);
    EXPECT_EQ(adapter.endpoints()[0].address, 0x01);
    EXPECT_EQ(adapter.endpoints()[0].attributes, 2);
    EXPECT_EQ(adapter.endpoints()[1].address, 0x81);
    EXPECT_EQ(adapter.endpoints()[1].attributes, 3);
    EXPECT_EQ(adapter.endpoints()[1].interval, 1);
    EXPECT_NE(adapter.address(), 0);

    uint8_t d[256];
    EXPECT_EQ(get_descriptor(adapter, 2, 0, 9, d), 9);     // SUDPTR, cut to wLength
    EXPECT_EQ(get_descriptor(adapter, 2, 0, 255, d), 39);  // SUDPTR, configuration: wTotalLength
    EXPECT_EQ(get_descriptor(adapter, 3, 1, 255, d), 10);  // SUDPTR, string: bLength
    EXPECT_EQ(string_of(d, 10), "TEST");
    // String 2 comes through IN0BUF in two packets (64 + 16 bytes).
    int n = get_descriptor(adapter, 3, 2, 255, d);
    ASSERT_EQ(n, 80);
    EXPECT_EQ(string_of(d, n), "echo firmware of the chip model tests!!");
    EXPECT_EQ(get_descriptor(adapter, 3, 2, 2, d), 2);
    EXPECT_EQ(d[0], 80);
    EXPECT_EQ(get_descriptor(adapter, 3, 2, 64, d), 64);
    // A request the firmware does not know is stalled, and the next one is served.
    EXPECT_EQ(adapter.control({0xC0, 0x77, 0, 0, 8}, d), -1);
    EXPECT_EQ(get_descriptor(adapter, 1, 0, 18, d), 18);
    // 0xA0 stays with the chip: reading the firmware's own first bytes.
    EXPECT_EQ(adapter.control({0xC0, 0xA0, 0, 0, 3}, d), 3);
    EXPECT_EQ(d[0], 0x02);  // LJMP at the reset vector
}

TEST_F(Echo, EchoesAPacketAndTakesEachAutovectoredHandlerInPriorityOrder) {
    std::vector<uint8_t> log = interrupt_log(adapter);
    // Enumeration: two bus resets (slot 0x10); every setup the firmware serves raises
    // SUDAV and SUTOK together, taken one after the other (0x00 then 0x08).
    ASSERT_GE(log.size(), 4u);
    EXPECT_GE(std::count(log.begin(), log.end(), 0x10), 2);
    for (size_t i = 0; i < log.size(); ++i)
        if (log[i] == 0x00) {
            EXPECT_TRUE(i + 1 < log.size() && log[i + 1] == 0x08) << i;
        }

    uint8_t reply[64];
    std::vector<uint8_t> packet = {1, 2, 3, 4, 5};
    ASSERT_EQ(round_trip(packet, reply), 5);
    EXPECT_EQ(std::vector<uint8_t>(reply, reply + 5), packet);
    std::vector<uint8_t> full(64);
    for (int i = 0; i < 64; ++i) full[size_t(i)] = uint8_t(0xC0 ^ i);
    ASSERT_EQ(round_trip(full, reply), 64);
    EXPECT_EQ(std::vector<uint8_t>(reply, reply + 64), full);

    // EP1 OUT (0x24), EP1 IN taken (0x20), twice; then this request's SUDAV and SUTOK.
    EXPECT_EQ(interrupt_log(adapter), (std::vector<uint8_t>{0x24, 0x20, 0x24, 0x20, 0x00, 0x08}));
    EXPECT_EQ(adapter.stats().out[1].transfers, 2u);
    EXPECT_EQ(adapter.stats().in[1].bytes, 69u);
}

TEST_F(Echo, TransfersEndOnFrameBoundariesAndInterruptInDeliversOnePacketPerFrame) {
    uint8_t reply[256];
    adapter.sleep_ns(300000);  // start inside a frame
    uint64_t start = adapter.now_ns();
    ASSERT_EQ(adapter.bulk_out(0x01, std::vector<uint8_t>(64, 0xEE).data(), 64), 64);
    EXPECT_EQ(adapter.now_ns(),
              (start / NS_PER_MS + 1) * NS_PER_MS);  // completes at the next boundary

    // The packet and three repeats: four packets, each in a frame of its own.
    std::vector<uint8_t> repeat(64, 0x5A);
    repeat[0] = 0xEE;
    repeat[1] = 3;
    ASSERT_EQ(adapter.bulk_out(0x01, repeat.data(), 64), 64);
    uint64_t before = adapter.now_ns();
    ASSERT_EQ(adapter.bulk_in(0x81, reply, 256), 256);
    EXPECT_EQ(adapter.now_ns() - before, 4 * NS_PER_MS);
    EXPECT_EQ(std::memcmp(reply + 192, repeat.data(), 64), 0);

    // A packet longer than 64 goes as several; the last short one ends an IN transfer.
    std::vector<uint8_t> hundred(100, 0x33);
    ASSERT_EQ(adapter.bulk_out(0x01, hundred.data(), 100), 100);
    EXPECT_EQ(adapter.bulk_in(0x81, reply, 256), 36);  // the echo of the second packet
}

TEST_F(Echo, PacketsQueuedBehindABusyEndpointAreNeverLost) {
    // Each packet waits for the firmware to re-arm EP1 OUT; it must not land between the
    // re-arming and the handler's clearing of its request, which would drop it unseen.
    std::vector<uint8_t> bulk(64 * 200);
    for (size_t i = 0; i < bulk.size(); ++i) bulk[i] = uint8_t(i / 64);
    ASSERT_EQ(adapter.bulk_out(0x01, bulk.data(), int(bulk.size())), int(bulk.size()));
    uint8_t reply[64];
    ASSERT_EQ(adapter.bulk_in(0x81, reply, 64), 64);
    EXPECT_EQ(reply[0], 199);  // the echo of the last packet
}

TEST_F(Echo, TransferNobodyServesIsNakedThenFailsAfterTheTimeout) {
    uint8_t byte = 0;
    uint64_t start = adapter.now_ns();
    EXPECT_EQ(adapter.bulk_in(0x81, &byte, 1), -1);  // nothing handed over
    uint64_t took = adapter.now_ns() - start;
    EXPECT_GE(took, Adapter::DEFAULT_TIMEOUT_NS);
    EXPECT_LE(took, Adapter::DEFAULT_TIMEOUT_NS + 2 * NS_PER_MS);

    adapter.set_timeout_ns(200 * NS_PER_MS);
    start = adapter.now_ns();
    EXPECT_EQ(adapter.bulk_out(0x02, &byte, 1), -1);  // EP2 OUT never armed
    EXPECT_GE(adapter.now_ns() - start, 200 * NS_PER_MS);
    EXPECT_LT(adapter.now_ns() - start, 202 * NS_PER_MS);
    EXPECT_EQ(adapter.bulk_out(0x03, &byte, 1), -1);  // no such endpoint
    EXPECT_EQ(adapter.stats().out[2].failures, 1u);
    uint8_t reply[64];
    EXPECT_EQ(round_trip({9}, reply), 1);  // the device is still fine
}

TEST_F(Echo, IdleTimeCostsAlmostNoInstructions) {
    // The echo firmware's main loop polls one bit: ten seconds of it would be about
    // twenty million instructions when executed.
    uint64_t before = adapter.cpu().instructions();
    adapter.sleep_ns(10000 * NS_PER_MS);
    EXPECT_LT(adapter.cpu().instructions() - before, 2000u);
    EXPECT_GT(adapter.stats().cycles_skipped, 10000 * 6000u - 6000u);
    uint8_t reply[64];
    EXPECT_EQ(round_trip({1, 2}, reply), 2);  // and wakes up for the next packet

    // A thousand round trips: the handler runs, the rest of each frame is skipped.
    before = adapter.cpu().instructions();
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(round_trip({uint8_t(i)}, reply), 1);
    EXPECT_LT((adapter.cpu().instructions() - before) / 1000, 1000u);  // two frames: ~6000 executed
}

TEST(BareChip, HeldOrUnpluggedChipLetsTimePassWithoutExecuting) {
    Adapter adapter;
    adapter.sleep_ns(50 * NS_PER_MS);  // unpowered
    adapter.plug();
    adapter.sleep_ns(5000 * NS_PER_MS);
    EXPECT_EQ(adapter.cpu().instructions(), 0u);
    EXPECT_GE(adapter.now_ns(), 5050 * NS_PER_MS);
    adapter.unplug();
    uint8_t d[18];
    EXPECT_FALSE(adapter.present());
    EXPECT_EQ(get_descriptor(adapter, 1, 0, 18, d), -1);
    adapter.plug();
    EXPECT_EQ(adapter.enumeration(), 2u);
    EXPECT_EQ(get_descriptor(adapter, 1, 0, 18, d), 18);
}

TEST(BareChip, RealtimePacingKeepsVirtualTimeBehindTheWallClock) {
    Adapter adapter;
    adapter.plug();
    adapter.set_realtime(true);
    auto wall = std::chrono::steady_clock::now();
    uint64_t start = adapter.now_ns();
    adapter.sleep_ns(30 * NS_PER_MS);
    uint8_t d[18];
    EXPECT_EQ(get_descriptor(adapter, 1, 0, 18, d), 18);
    auto elapsed = std::chrono::steady_clock::now() - wall;
    EXPECT_GE(uint64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count()),
              adapter.now_ns() - start);
}

TEST(Faults, FailingTransfersAndVanishingAdapter) {
    struct Case {
        const char* what;
        emu::UsbFaults faults;
        std::vector<int> expected;  // results of transfers 1..6 (-1 failed, else bytes)
        bool present_after;
    } cases[] = {
        {"only the third", {0, 3, 0, false}, {18, 18, -1, 18, 18, 18}, true},
        {"the third and later", {3, 0, 0, false}, {18, 18, -1, -1, -1, -1}, true},
        {"gone after four", {0, 0, 4, false}, {18, 18, 18, 18, -1, -1}, false},
    };
    for (const Case& c : cases) {
        Adapter adapter;
        adapter.plug();
        adapter.set_faults(c.faults);
        std::vector<int> results;
        uint8_t d[18];
        for (int i = 0; i < 6; ++i) results.push_back(get_descriptor(adapter, 1, 0, 18, d));
        EXPECT_EQ(results, c.expected) << c.what;
        EXPECT_EQ(adapter.present(), c.present_after) << c.what;
        adapter.sleep_ns(3000 * NS_PER_MS);
        EXPECT_EQ(adapter.present(), c.present_after) << c.what;
    }
}

TEST(Faults, DeviceThatNeverComesBackAfterItsFirmwareStarts) {
    for (bool fault : {false, true}) {
        Adapter adapter;
        adapter.plug();
        emu::UsbFaults faults;
        faults.no_reattach = fault;
        adapter.set_faults(faults);
        ASSERT_TRUE(download(adapter, echo_image()));
        adapter.sleep_ns(3000 * NS_PER_MS);
        EXPECT_EQ(adapter.present(), !fault);
        EXPECT_EQ(adapter.enumeration(), fault ? 1u : 2u);
        EXPECT_FALSE(adapter.held_in_reset());
    }
}

TEST_F(Echo, SuspendIdlesTheFirmwareUntilTheBusOrTheWakeupPinResumesIt) {
    interrupt_log(adapter);
    adapter.suspend();
    EXPECT_TRUE(adapter.suspended());
    uint64_t before = adapter.cpu().instructions();
    adapter.sleep_ns(1000 * NS_PER_MS);
    EXPECT_TRUE(adapter.cpu().idle());
    EXPECT_LT(adapter.cpu().instructions() - before, 100u);
    uint8_t reply[64];
    EXPECT_EQ(adapter.bulk_out(0x01, reply, 1), -1);
    adapter.resume();
    EXPECT_FALSE(adapter.suspended());
    EXPECT_EQ(round_trip({4}, reply), 1);
    // SUSPEND, the resume interrupt, then the echo's sources and this request's.
    EXPECT_EQ(interrupt_log(adapter), (std::vector<uint8_t>{0x0C, 0xAA, 0x24, 0x20, 0x00, 0x08}));

    // The wake-up pin wakes the firmware, which signals resume: the host resumes the bus.
    adapter.suspend();
    adapter.sleep_ns(10 * NS_PER_MS);
    EXPECT_TRUE(adapter.suspended());
    adapter.wakeup_pin();
    adapter.sleep_ns(10 * NS_PER_MS);
    EXPECT_FALSE(adapter.suspended());
    EXPECT_EQ(round_trip({5}, reply), 1);
}

TEST_F(Echo, EveryTransferGoesToTheCapture) {
    std::string path = ::testing::TempDir() + "ezusb_capture.pcap";
    {
        emu::UsbPcapWriter writer(path);
        adapter.set_trace(&writer);
        uint8_t reply[64];
        ASSERT_EQ(round_trip({1, 2, 3}, reply), 3);
        EXPECT_EQ(adapter.bulk_out(0x05, reply, 1), -1);
        uint8_t d[18];
        EXPECT_EQ(get_descriptor(adapter, 1, 0, 18, d), 18);
        adapter.set_trace(nullptr);
        EXPECT_EQ(round_trip({1}, reply), 1);
        EXPECT_EQ(writer.transfers(), 4u);
        EXPECT_TRUE(writer.flush());
    }
    std::FILE* f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    std::fseek(f, 0, SEEK_END);
    EXPECT_GT(std::ftell(f), 24 + 8 * (16 + 64));  // eight records with their headers
    std::fclose(f);
    std::remove(path.c_str());
}

}  // namespace
