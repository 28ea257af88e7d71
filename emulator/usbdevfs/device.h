// One enumeration of the emulated adapter as a Linux host keeps it: its device number,
// device node and sysfs entry, the descriptors and strings read while it was taken in,
// and per interface the alternate settings, the one in use and who holds it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace emu {
class Adapter;
}

namespace usbdevfs {

struct Endpoint {
    uint8_t address;     // bit 7 set: IN
    uint8_t attributes;  // low two bits: 0 control, 1 isochronous, 2 bulk, 3 interrupt
    uint16_t max_packet;
};

struct AltSetting {
    uint8_t number;
    std::vector<Endpoint> endpoints;
};

// Who holds an interface: nobody, a kernel driver, or a program through usbdevfs.
struct Holder {
    const void* client = nullptr;  // the usbdevfs client that claimed it
    std::string kernel_driver;     // or the kernel driver bound to it
    bool bound() const { return client != nullptr || !kernel_driver.empty(); }
    std::string driver_name() const { return client != nullptr ? "usbfs" : kernel_driver; }
};

struct Interface {
    uint8_t number;
    std::vector<AltSetting> alts;
    uint8_t current_alt = 0;
    Holder holder;
};

struct Device {
    uint32_t enumeration = 0;
    int busnum = 1;
    int devnum = 0;
    std::string node;                           // "/dev/bus/usb/BBB/DDD"
    std::string syspath;                        // "/sys/devices/.../1-1"
    std::vector<uint8_t> descriptors;           // device descriptor, then the configuration block
    std::string manufacturer, product, serial;  // empty where the device has none
    std::vector<Interface> interfaces;

    uint16_t vendor_id() const;
    uint16_t product_id() const;
    uint32_t identity() const { return uint32_t(vendor_id()) << 16 | product_id(); }
    Interface* interface(unsigned number);
    // The interface whose settings (any of them) have the endpoint, or nullptr.
    Interface* interface_of(uint8_t endpoint);
    // The endpoint in the interfaces' current settings; endpoint 0 is always there.
    bool endpoint(uint8_t address, Endpoint& found) const;
};

// Takes in the adapter's current enumeration the way Linux does: the descriptors the
// enumeration read, and the strings it names (language list first, then each string in
// the first language), read through the adapter's own host requests.
Device take_in(emu::Adapter& adapter, int busnum, int devnum);

// The device as umockdev's text description: the sysfs attributes that libusb, lsusb
// and udev read, the udev properties of the kernel's uevent, and the device node.
std::string sysfs_description(const Device& device);

}  // namespace usbdevfs
