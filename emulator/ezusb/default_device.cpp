#include "ezusb/default_device.h"

#include <algorithm>
#include <cstring>

#include "ezusb/adapter.h"

namespace emu {

namespace {

// The default USB device of an AN21xx whose I2C bus holds no EEPROM: the core supplies
// the descriptors and Cypress's VID/PID/DID (EZ-USB TRM v1.9, 5.5, table 5-5); the ids
// 0x0547:0x2131 are those that bare AN2131 parts show in lsusb. The device has no
// strings: iManufacturer, iProduct and iSerialNumber are 0, as lsusb records of bare
// EZ-USB parts show them, and string requests stall. Release 0.01 stands in for the revision's.
const uint8_t DEVICE_DESCRIPTOR[18] = {0x12,
                                       0x01,
                                       0x00,
                                       0x01,
                                       0xFF,
                                       0xFF,
                                       0xFF,
                                       0x40,  // USB 1.0, vendor class, EP0 64 bytes
                                       uint8_t(Adapter::DEFAULT_VENDOR),
                                       uint8_t(Adapter::DEFAULT_VENDOR >> 8),
                                       uint8_t(Adapter::DEFAULT_PRODUCT),
                                       uint8_t(Adapter::DEFAULT_PRODUCT >> 8),
                                       0x01,
                                       0x00,  // release 0.01
                                       0x00,
                                       0x00,
                                       0x00,
                                       0x01};  // no strings, one configuration

// The configuration and alternate setting 0 of its interface as tables 5-10 and 5-11
// give them: bus powered, 100 mA, vendor class, no endpoint but endpoint 0. The chip's
// own block goes on with alternate settings 1 and 2 (its wTotalLength is 218: two more
// interface descriptors with 26 endpoint descriptors between them); their tables are
// not modelled, so this block ends after setting 0 and counts only what it holds, and
// SET_INTERFACE to them stalls.
const uint8_t CONFIG_DESCRIPTOR[18] = {0x09, 0x02, 0x12, 0x00, 0x01, 0x01, 0x00, 0x80, 0x32,
                                       0x09, 0x04, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x00};

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
    case 0x01:
    case 0x03:  // CLEAR_FEATURE, SET_FEATURE: nothing to change
        return 0;
    case 0x06:  // GET_DESCRIPTOR
        switch (setup.value >> 8) {
        case 1: return reply(data, setup.length, DEVICE_DESCRIPTOR, sizeof DEVICE_DESCRIPTOR);
        case 2:
            if (low != 0) return -1;
            return reply(data, setup.length, CONFIG_DESCRIPTOR, sizeof CONFIG_DESCRIPTOR);
        default: return -1;  // strings among them: the device has none
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
    default: return -1;
    }
}

}  // namespace emu
