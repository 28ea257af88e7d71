#include "usbdevfs/device.h"

#include "ezusb/adapter.h"

#include <cstdio>

namespace usbdevfs {

namespace {

constexpr uint8_t GET_DESCRIPTOR = 0x06;
constexpr uint8_t STRING_DESCRIPTOR = 3;

std::vector<Interface> parse_interfaces(const std::vector<uint8_t>& config) {
    std::vector<Interface> interfaces;
    AltSetting* setting = nullptr;
    for (size_t p = 0; p + 2 <= config.size() && config[p] >= 2; p += config[p]) {
        const uint8_t* d = &config[p];
        if (d[1] == 4 && p + 4 <= config.size()) {
            Interface* i = nullptr;
            for (Interface& known : interfaces)
                if (known.number == d[2]) i = &known;
            if (i == nullptr) {
                interfaces.push_back(Interface{d[2], {}, 0, {}});
                i = &interfaces.back();
            }
            i->alts.push_back(AltSetting{d[3], {}});
            setting = &i->alts.back();
        } else if (d[1] == 5 && p + 7 <= config.size() && setting != nullptr) {
            setting->endpoints.push_back({d[2], d[3], uint16_t(d[4] | d[5] << 8)});
        }
    }
    return interfaces;
}

// UTF-16LE code units to UTF-8, as the kernel stores the strings it caches.
std::string utf8(const uint8_t* units, int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        unsigned c = units[2 * i] | units[2 * i + 1] << 8;
        if (c < 0x80) {
            text += char(c);
        } else if (c < 0x800) {
            text += char(0xC0 | c >> 6);
            text += char(0x80 | (c & 0x3F));
        } else {
            text += char(0xE0 | c >> 12);
            text += char(0x80 | (c >> 6 & 0x3F));
            text += char(0x80 | (c & 0x3F));
        }
    }
    return text;
}

// usb_string(): string descriptor `index` in the device's first language, read in one
// request of 255 bytes (drivers/usb/core/message.c).
std::string read_string(emu::Adapter& adapter, uint16_t language, uint8_t index) {
    uint8_t d[255];
    int n = adapter.host_request(
        {0x80, GET_DESCRIPTOR, uint16_t(STRING_DESCRIPTOR << 8 | index), language, sizeof d}, d);
    if (n < 2 || d[1] != STRING_DESCRIPTOR) return "";
    int length = d[0] < n ? d[0] : n;
    return utf8(d + 2, (length - 2) / 2);
}

std::string escaped(const std::string& value) {
    std::string text;
    for (char c : value) {
        if (c == '\\')
            text += "\\\\";
        else if (c == '\n')
            text += "\\n";
        else
            text += c;
    }
    return text;
}

}  // namespace

uint16_t Device::vendor_id() const { return uint16_t(descriptors[8] | descriptors[9] << 8); }
uint16_t Device::product_id() const { return uint16_t(descriptors[10] | descriptors[11] << 8); }

Interface* Device::interface(unsigned number) {
    for (Interface& i : interfaces)
        if (i.number == number) return &i;
    return nullptr;
}

Interface* Device::interface_of(uint8_t endpoint) {
    for (Interface& i : interfaces)
        for (const AltSetting& alt : i.alts)
            for (const Endpoint& e : alt.endpoints)
                if (e.address == endpoint) return &i;
    return nullptr;
}

bool Device::endpoint(uint8_t address, Endpoint& found) const {
    if ((address & 0x7F) == 0) {
        found = {address, 0, descriptors[7]};
        return true;
    }
    for (const Interface& i : interfaces)
        for (const AltSetting& alt : i.alts)
            if (alt.number == i.current_alt)
                for (const Endpoint& e : alt.endpoints)
                    if (e.address == address) {
                        found = e;
                        return true;
                    }
    return false;
}

Device take_in(emu::Adapter& adapter, int busnum, int devnum) {
    Device d;
    d.enumeration = adapter.enumeration();
    d.busnum = busnum;
    d.devnum = devnum;
    char text[64];
    std::snprintf(text, sizeof text, "/dev/bus/usb/%03d/%03d", busnum, devnum);
    d.node = text;
    std::snprintf(text, sizeof text, "/sys/devices/pci0000:00/0000:00:14.0/usb%d/%d-1", busnum,
                  busnum);
    d.syspath = text;
    d.descriptors = adapter.device_descriptor();
    d.descriptors.insert(d.descriptors.end(), adapter.configuration().begin(),
                         adapter.configuration().end());
    d.interfaces = parse_interfaces(adapter.configuration());
    const uint8_t* device = adapter.device_descriptor().data();
    if (device[14] || device[15] || device[16]) {
        uint8_t languages[255];
        int n = adapter.host_request(
            {0x80, GET_DESCRIPTOR, STRING_DESCRIPTOR << 8, 0, sizeof languages}, languages);
        if (n >= 4) {
            uint16_t language = uint16_t(languages[2] | languages[3] << 8);
            if (device[14]) d.manufacturer = read_string(adapter, language, device[14]);
            if (device[15]) d.product = read_string(adapter, language, device[15]);
            if (device[16]) d.serial = read_string(adapter, language, device[16]);
        }
    }
    return d;
}

// The attributes as drivers/usb/core/sysfs.c prints them, each ending in a newline, and
// the properties of usb_dev_uevent() (drivers/usb/core/usb.c) with the device core's.
std::string sysfs_description(const Device& d) {
    const uint8_t* dev = d.descriptors.data();
    const uint8_t* cfg = dev + 18;
    int minor = (d.busnum - 1) * 128 + d.devnum - 1;
    unsigned bcd_device = dev[12] | dev[13] << 8;
    char text[2048];
    std::snprintf(
        text, sizeof text,
        "P: %s\n"
        "N: %s\n"
        "E: DEVNAME=%s\nE: DEVTYPE=usb_device\nE: DRIVER=usb\nE: SUBSYSTEM=usb\n"
        "E: PRODUCT=%x/%x/%x\nE: TYPE=%d/%d/%d\nE: BUSNUM=%03d\nE: DEVNUM=%03d\n"
        "E: MAJOR=189\nE: MINOR=%d\n"
        "A: busnum=%d\\n\nA: devnum=%d\\n\nA: devpath=1\\n\nA: dev=189:%d\\n\n"
        "A: idVendor=%04x\\n\nA: idProduct=%04x\\n\nA: bcdDevice=%04x\\n\n"
        "A: bDeviceClass=%02x\\n\nA: bDeviceSubClass=%02x\\n\nA: bDeviceProtocol=%02x\\n\n"
        "A: bMaxPacketSize0=%d\\n\nA: bNumConfigurations=%d\\n\nA: version=%2x.%02x\\n\n"
        "A: bConfigurationValue=%u\\n\nA: bNumInterfaces=%2d\\n\nA: bmAttributes=%2x\\n\n"
        "A: bMaxPower=%dmA\\n\nA: speed=12\\n\nA: maxchild=0\\n\n",
        d.syspath.c_str() + 4, d.node.c_str() + 5, d.node.c_str(), d.vendor_id(), d.product_id(),
        bcd_device, dev[4], dev[5], dev[6], d.busnum, d.devnum, minor, d.busnum, d.devnum, minor,
        d.vendor_id(), d.product_id(), bcd_device, dev[4], dev[5], dev[6], dev[7], dev[17], dev[3],
        dev[2], cfg[5], cfg[4], cfg[7], cfg[8] * 2);
    std::string description = text;
    if (!d.manufacturer.empty())
        description += "A: manufacturer=" + escaped(d.manufacturer) + "\\n\n";
    if (!d.product.empty()) description += "A: product=" + escaped(d.product) + "\\n\n";
    if (!d.serial.empty()) description += "A: serial=" + escaped(d.serial) + "\\n\n";
    description += "H: descriptors=";
    static const char hex[] = "0123456789ABCDEF";
    for (uint8_t b : d.descriptors) {
        description += hex[b >> 4];
        description += hex[b & 15];
    }
    return description + "\n";
}

}  // namespace usbdevfs
