// The firmware's USB side in the emulated adapter: leaving and rejoining the bus as its
// own device, the standard requests on endpoint 0, suspend and resume.
#include "ezusb_registers.h"
#include "firmware_adapter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>

#include "firmware_image.h"

namespace {

using fwtest::FirmwareAdapter;
using fwtest::NS_PER_MS;
using Bytes = std::vector<uint8_t>;

constexpr uint16_t OUT2CS = OUT1CS + 2;
constexpr uint8_t IN0BSY = 0x04;

// OUTnCS bit 1: the endpoint is armed for its next packet.
bool out_endpoints_armed(const FirmwareAdapter& fw) {
    for (uint16_t n = 1; n <= 7; ++n)
        if (!(fw.peek(uint16_t(OUT1CS + 2 * (n - 1))) & 0x02)) return false;
    return true;
}

class FirmwareUsb : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(fw.start()); }

    Bytes get_descriptor(uint8_t type, uint8_t index, uint16_t length, uint16_t language = 0,
                         int* result = nullptr, uint8_t request_type = 0x80) {
        return fw.control_in(request_type, 0x06, uint16_t(type << 8 | index), language, length,
                             result);
    }

    bool stalls_in(uint8_t request_type, uint8_t request, uint16_t value, uint16_t index) {
        int result = 0;
        fw.control_in(request_type, request, value, index, 2, &result);
        return result < 0;
    }

    FirmwareAdapter fw;
};

TEST_F(FirmwareUsb, ComesBackAsItsOwnDeviceAfterLeavingTheBus) {
    EXPECT_GE(fw.detached_ns(), 1500 * NS_PER_MS);
    EXPECT_GE(fw.restart_ns(), 1500 * NS_PER_MS);
    EXPECT_LT(fw.restart_ns(), 3000 * NS_PER_MS);
    const Bytes& d = fw.adapter().device_descriptor();
    ASSERT_EQ(d.size(), 18u);
    EXPECT_EQ(d[8] | d[9] << 8, 0x0547);
    EXPECT_EQ(d[10] | d[11] << 8, 0x1002);

    const auto& eps = fw.adapter().endpoints();
    ASSERT_EQ(eps.size(), 14u);
    EXPECT_EQ(eps[0].address, 0x01);
    EXPECT_EQ(eps[0].attributes, 2);
    EXPECT_EQ(eps[7].address, 0x81);
    EXPECT_EQ(eps[7].attributes, 3);
    EXPECT_EQ(eps[7].interval, 1);

    EXPECT_EQ(get_descriptor(3, 1, 255), (Bytes{0x0A, 0x03, 'Z', 0, 'E', 0, 'M', 0, 'A', 0}));
    EXPECT_EQ(get_descriptor(3, 2, 255), (Bytes{0x0A, 0x03, 'Z', 0, '1', 0, '0', 0, '0', 0}));
    EXPECT_TRUE(out_endpoints_armed(fw)) << "the enumeration's bus reset arms OUT 1-7";
}

TEST_F(FirmwareUsb, StringDescriptorsFollowTheRequestedLength) {
    EXPECT_EQ(get_descriptor(3, 0, 255), (Bytes{0x04, 0x03, 0x09, 0x04}));
    EXPECT_EQ(get_descriptor(3, 1, 2), (Bytes{0x0A, 0x03}));
    EXPECT_EQ(get_descriptor(3, 1, 256).size(), 10u);
    EXPECT_EQ(get_descriptor(3, 2, 0x1B, 0x001B), get_descriptor(3, 2, 0x1B, 0x0409))
        << "the language is not looked at";
    // A vendor request numbered like GET_DESCRIPTOR is served as one.
    int result = 0;
    EXPECT_EQ(get_descriptor(3, 1, 255, 0, &result, 0xC0).size(), 10u);
}

// A reply ends at wLength or at a short packet; only a full last packet short of wLength
// is followed by a zero-length one. Nothing stays armed on endpoint 0 afterwards, where
// a chip might send it as the next request's data.
TEST_F(FirmwareUsb, StringRepliesLeaveNothingArmedOnEndpointZero) {
    EXPECT_EQ(get_descriptor(3, 1, 255).size(), 10u);
    EXPECT_FALSE(fw.peek(EP0CS) & IN0BSY);

    // String 1 stretched to one full packet.
    std::vector<uint8_t> image(firmware_image, firmware_image + sizeof firmware_image);
    const uint8_t zema[] = {0x0A, 0x03, 'Z', 0, 'E', 0, 'M', 0, 'A', 0};
    auto at = std::search(image.begin(), image.end(), std::begin(zema), std::end(zema));
    ASSERT_NE(at, image.end());
    *at = 64;
    ASSERT_TRUE(fw.start(image.data(), static_cast<unsigned>(image.size())));
    for (uint16_t length : {255, 64}) {
        SCOPED_TRACE(length);
        EXPECT_EQ(get_descriptor(3, 1, length).size(), 64u);
        EXPECT_FALSE(fw.peek(EP0CS) & IN0BSY);
    }
}

// A host that gives a transfer up sends the next setup packet at once: that request is
// served, with a status stage of its own.
TEST_F(FirmwareUsb, ASetupPacketDuringAnAbandonedTransferIsServed) {
    fw.adapter().abandon_control({0x80, 0x06, 0x0301, 0, 255});
    EXPECT_EQ(fw.control_in(0x80, 0x00, 0, 0, 2), (Bytes{0x02, 0x00}));
    EXPECT_EQ(get_descriptor(3, 2, 255).size(), 10u);
}

TEST_F(FirmwareUsb, DescriptorsTheChipSendsFromTheBlock) {
    const Bytes device = get_descriptor(1, 0, 64);
    EXPECT_EQ(device, fw.adapter().device_descriptor());
    const Bytes config = get_descriptor(2, 0, 255);
    ASSERT_EQ(config.size(), 116u);
    EXPECT_EQ(Bytes(config.begin(), config.begin() + 9),
              (Bytes{0x09, 0x02, 0x74, 0x00, 0x01, 0x01, 0x00, 0xA0, 0x00}));
    EXPECT_EQ(get_descriptor(2, 0, 9).size(), 9u);
}

TEST_F(FirmwareUsb, UnservableRequestsStall) {
    int result = 0;
    get_descriptor(3, 3, 255, 0, &result);
    EXPECT_EQ(result, -1) << "string 3";
    get_descriptor(2, 1, 255, 0, &result);
    EXPECT_EQ(result, -1) << "configuration 1";
    get_descriptor(6, 0, 10, 0, &result);
    EXPECT_EQ(result, -1) << "device qualifier";
    EXPECT_TRUE(stalls_in(0xC0, 0x40, 0, 0)) << "vendor request 0x40";
    EXPECT_TRUE(stalls_in(0x83, 0x00, 0, 0)) << "GET_STATUS of recipient 'other'";
    EXPECT_EQ(fw.control_out(0x00, 0x03, 2, 0), -1) << "SET_FEATURE test mode of the device";
    EXPECT_EQ(fw.control_out(0x02, 0x01, 1, 0x81), -1)
        << "CLEAR_FEATURE of an unknown endpoint feature";
    EXPECT_EQ(fw.control_out(0x00, 0x07, 0, 0), -1) << "SET_DESCRIPTOR";

    // A stall leaves endpoint 0 working.
    EXPECT_EQ(get_descriptor(3, 0, 4).size(), 4u);
}

TEST_F(FirmwareUsb, StatusAndRemoteWakeupFeature) {
    EXPECT_EQ(fw.control_in(0x80, 0x00, 0, 0, 2), (Bytes{0x02, 0x00}));
    EXPECT_EQ(fw.control_in(0x81, 0x00, 0, 0, 2), (Bytes{0x00, 0x00}));
    EXPECT_EQ(fw.control_out(0x00, 0x01, 1, 0), 0);
    EXPECT_EQ(fw.control_in(0x80, 0x00, 0, 0, 2), (Bytes{0x00, 0x00}));
    EXPECT_EQ(fw.control_out(0x00, 0x03, 1, 0), 0);
    EXPECT_EQ(fw.control_in(0x80, 0x00, 0, 0, 2), (Bytes{0x02, 0x00}));
    // Other recipients of the feature requests: accepted without effect.
    EXPECT_EQ(fw.control_out(0x01, 0x01, 0, 0), 0);
    EXPECT_EQ(fw.control_out(0x01, 0x03, 0, 0), 0);
}

TEST_F(FirmwareUsb, EndpointHaltSetReportedAndCleared) {
    EXPECT_EQ(fw.control_out(0x02, 0x03, 0, 0x81), 0);
    EXPECT_EQ(fw.peek(IN1CS) & 0x01, 0x01);
    EXPECT_EQ(fw.control_in(0x82, 0x00, 0, 0x81, 2), (Bytes{0x01, 0x00}));
    EXPECT_EQ(fw.control_out(0x02, 0x01, 0, 0x81), 0);
    EXPECT_EQ(fw.peek(IN1CS) & 0x01, 0x00);
    EXPECT_EQ(fw.control_in(0x82, 0x00, 0, 0x81, 2), (Bytes{0x00, 0x00}));
    EXPECT_EQ(fw.peek(TOGCTL) & 0x17, 0x11) << "toggle reset aimed at EP1 IN";

    EXPECT_EQ(fw.control_out(0x02, 0x03, 0, 0x02), 0);
    EXPECT_EQ(fw.peek(OUT2CS) & 0x01, 0x01);
    EXPECT_EQ(fw.control_in(0x82, 0x00, 0, 0x02, 2), (Bytes{0x01, 0x00}));
    EXPECT_EQ(fw.control_out(0x02, 0x01, 0, 0x02), 0);
    EXPECT_EQ(fw.peek(TOGCTL) & 0x17, 0x02) << "toggle reset aimed at EP2 OUT";

    // Endpoint 0 reports its own state in either direction.
    EXPECT_EQ(fw.control_in(0x82, 0x00, 0, 0x00, 2), (Bytes{0x00, 0x00}));
    EXPECT_EQ(fw.control_in(0x82, 0x00, 0, 0x80, 2), (Bytes{0x00, 0x00}));
}

TEST_F(FirmwareUsb, ConfigurationAndInterfaceValuesAreKeptAsSet) {
    EXPECT_EQ(fw.control_in(0x80, 0x08, 0, 0, 1), (Bytes{0x01})) << "set by the enumeration";
    EXPECT_EQ(fw.control_out(0x00, 0x09, 5, 0), 0);
    EXPECT_EQ(fw.control_in(0x80, 0x08, 0, 0, 1), (Bytes{0x05}));
    EXPECT_EQ(fw.control_in(0x81, 0x0A, 0, 0, 1), (Bytes{0x00}));
    EXPECT_EQ(fw.control_out(0x01, 0x0B, 3, 7), 0);
    EXPECT_EQ(fw.control_in(0x81, 0x0A, 0, 0, 1), (Bytes{0x03}));
    // The protocol runs whatever the configuration value.
    EXPECT_TRUE(fw.send({OP_WRITE_REG, REG_OUTB, 0x04, OP_READ_REG, REG_OUTB}));
    EXPECT_EQ(fw.receive(), (Bytes{0x04}));
}

TEST_F(FirmwareUsb, BusResetKeepsConfigurationAndInterface) {
    ASSERT_EQ(fw.control_out(0x00, 0x09, 5, 0), 0);
    ASSERT_EQ(fw.control_out(0x01, 0x0B, 2, 0), 0);
    fw.adapter().bus_reset();
    fw.settle();
    EXPECT_TRUE(out_endpoints_armed(fw));
    EXPECT_EQ(fw.control_in(0x80, 0x08, 0, 0, 1), (Bytes{0x05}));
    EXPECT_EQ(fw.control_in(0x81, 0x0A, 0, 0, 1), (Bytes{0x02}));
    EXPECT_EQ(fw.control_in(0x80, 0x00, 0, 0, 2), (Bytes{0x02, 0x00}));
    EXPECT_TRUE(fw.send({OP_READ_REG, REG_OEB}));
    EXPECT_EQ(fw.receive().size(), 1u);
}

TEST_F(FirmwareUsb, SuspendAndResume) {
    fw.adapter().suspend();
    fw.adapter().sleep_ns(10 * NS_PER_MS);
    EXPECT_TRUE(fw.adapter().suspended());
    fw.adapter().resume();
    fw.adapter().sleep_ns(10 * NS_PER_MS);
    EXPECT_FALSE(fw.adapter().suspended());
    EXPECT_EQ(fw.control_in(0x80, 0x00, 0, 0, 2), (Bytes{0x02, 0x00}));
    EXPECT_TRUE(fw.send({OP_READ_REG, REG_OEB}));
    EXPECT_EQ(fw.receive().size(), 1u);
}

TEST_F(FirmwareUsb, WakeupPinResumesTheBusOnlyWhenPermitted) {
    EXPECT_EQ(fw.control_out(0x00, 0x01, 1, 0), 0);  // remote wake-up off
    fw.adapter().suspend();
    fw.adapter().sleep_ns(10 * NS_PER_MS);
    fw.adapter().wakeup_pin();
    fw.adapter().sleep_ns(50 * NS_PER_MS);
    EXPECT_TRUE(fw.adapter().suspended()) << "not permitted: the chip goes back to sleep";
    fw.adapter().resume();
    fw.adapter().sleep_ns(10 * NS_PER_MS);
    ASSERT_FALSE(fw.adapter().suspended());

    EXPECT_EQ(fw.control_out(0x00, 0x03, 1, 0), 0);  // remote wake-up on
    fw.adapter().suspend();
    fw.adapter().sleep_ns(10 * NS_PER_MS);
    ASSERT_TRUE(fw.adapter().suspended());
    fw.adapter().wakeup_pin();
    fw.adapter().sleep_ns(50 * NS_PER_MS);
    EXPECT_FALSE(fw.adapter().suspended()) << "the firmware signals the resume";
    EXPECT_EQ(fw.control_in(0x80, 0x00, 0, 0, 2), (Bytes{0x02, 0x00}));
}

TEST_F(FirmwareUsb, TrafficOnUnusedEndpointsDoesNotDisturbTheProtocol) {
    const uint8_t junk[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(fw.adapter().bulk_out(0x02, junk, 8), 8);
    EXPECT_EQ(fw.adapter().bulk_out(0x07, junk, 8), 8);
    EXPECT_TRUE(fw.send({OP_READ_REG, REG_OEB}));
    EXPECT_EQ(fw.receive().size(), 1u);
    EXPECT_EQ(get_descriptor(3, 1, 255).size(), 10u);
}

}  // namespace
