#include "ezusb/default_device.h"

#include <algorithm>
#include <cstring>

#include "ezusb/adapter.h"

namespace emu {

namespace {

const uint8_t device_descriptor[18] = {
    0x12, 0x01, 0x00, 0x01, 0xFF, 0xFF, 0xFF, 0x40,  // USB 1.0, vendor class, EP0 64 bytes
    0x47, 0x05, 0x31, 0x21, 0x01, 0x00,              // 0x0547:0x2131, release 0.01
    0x01, 0x02, 0x00, 0x01};                         // strings 1 and 2, one configuration

const uint8_t config_descriptor[18] = {
    0x09, 0x02, 0x12, 0x00, 0x01, 0x01, 0x00, 0x80, 0x32,  // bus powered, 100 mA
    0x09, 0x04, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x00};  // interface 0, no endpoints

// String descriptors as UTF-16LE, built from ASCII on demand.
const char* const strings[] = {nullptr, "Cypress Semiconductor", "EZ-USB AN2131"};

int reply(uint8_t* data, uint16_t length, const uint8_t* from, int size) {
    int n = std::min<int>(size, length);
    std::memcpy(data, from, size_t(n));
    return n;
}

}  // namespace

int DefaultDevice::request(const SetupPacket& setup, uint8_t* data) {
    if ((setup.request_type & 0x60) != 0) return -1;  // no class or vendor requests of its own
    uint8_t low = uint8_t(setup.value);
    switch (setup.request) {
    case 0x00: {  // GET_STATUS
        const uint8_t status[2] = {0, 0};
        return reply(data, setup.length, status, 2);
    }
    case 0x01: case 0x03:  // CLEAR_FEATURE, SET_FEATURE: nothing to change
        return 0;
    case 0x06:  // GET_DESCRIPTOR
        switch (setup.value >> 8) {
        case 1: return reply(data, setup.length, device_descriptor, sizeof device_descriptor);
        case 2:
            if (low != 0) return -1;
            return reply(data, setup.length, config_descriptor, sizeof config_descriptor);
        case 3: {
            uint8_t d[64];
            int size;
            if (low == 0) {
                const uint8_t languages[4] = {4, 3, 0x09, 0x04};
                std::memcpy(d, languages, 4);
                size = 4;
            } else if (low < sizeof strings / sizeof strings[0]) {
                size_t chars = std::strlen(strings[low]);
                size = int(2 + 2 * chars);
                d[0] = uint8_t(size);
                d[1] = 3;
                for (size_t i = 0; i < chars; ++i) {
                    d[2 + 2 * i] = uint8_t(strings[low][i]);
                    d[3 + 2 * i] = 0;
                }
            } else {
                return -1;
            }
            return reply(data, setup.length, d, size);
        }
        default: return -1;
        }
    case 0x08:  // GET_CONFIGURATION
        return reply(data, setup.length, &configuration, 1);
    case 0x09:  // SET_CONFIGURATION
        if (low > 1) return -1;
        configuration = low;
        return 0;
    case 0x0A:  // GET_INTERFACE
        return reply(data, setup.length, &alt_setting, 1);
    case 0x0B:  // SET_INTERFACE
        if (low != 0 || setup.index != 0) return -1;
        alt_setting = 0;
        return 0;
    default:
        return -1;
    }
}

}  // namespace emu
