// The EZ-USB driver's requests served through libusb-1.0, for Linux and macOS.
// Adapter N is the N-th attached EZ-USB AN21xx device, counted in libusb's device
// order: the bare chip under its default identity, or the chip running the firmware.
#include <libusb.h>

#include <cstdio>
#include <cstring>

#include "platform/driver_device.h"

namespace {

enum { MAX_ENDPOINTS = 32 };

struct UsbDevice {
    libusb_device_handle* handle;
    int endpoint_count;
    DeviceEndpoint endpoints[MAX_ENDPOINTS];
};

libusb_context* context;
UsbDevice usb_devices[DRIVER_MAX_OPEN];

void report_unusable_device(libusb_device* device, const libusb_device_descriptor& descriptor,
                            int error) {
    char line[160];
    int n = std::snprintf(line, sizeof line,
                          "pelkat: USB device %03d/%03d (%04x:%04x) cannot be used: %s",
                          libusb_get_bus_number(device), libusb_get_device_address(device),
                          descriptor.idVendor, descriptor.idProduct, libusb_error_name(error));
    if (error == LIBUSB_ERROR_ACCESS && n > 0 && n < int(sizeof line)) {
        std::snprintf(line + n, sizeof line - size_t(n),
                      "; install the udev rule packaging/60-pelkat.rules (see README)");
    } else if (error == LIBUSB_ERROR_BUSY && n > 0 && n < int(sizeof line)) {
        std::snprintf(line + n, sizeof line - size_t(n), "; another program is using it");
    }
    report_unusable(line);
}

// The index-th adapter, opened with its interface 0 claimed; nullptr if there is none or
// it cannot be used.
libusb_device_handle* open_nth_adapter(int index) {
    libusb_device** list = nullptr;
    ssize_t count = libusb_get_device_list(context, &list);
    libusb_device_handle* handle = nullptr;
    int seen = 0;
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device_descriptor descriptor;
        if (libusb_get_device_descriptor(list[i], &descriptor) != 0 ||
            !is_adapter_id(descriptor.idVendor, descriptor.idProduct))
            continue;
        if (seen++ == index) {
            int error = libusb_open(list[i], &handle);
            if (error != 0) {
                handle = nullptr;
                report_unusable_device(list[i], descriptor, error);
                break;
            }
            // A kernel driver bound to the bare chip (usbtest, say) steps aside while the
            // interface is claimed and gets it back on release; not supported off Linux.
            libusb_set_auto_detach_kernel_driver(handle, 1);
            error = libusb_claim_interface(handle, 0);
            if (error != 0) {
                report_unusable_device(list[i], descriptor, error);
                libusb_close(handle);
                handle = nullptr;
            }
            break;
        }
    }
    if (list != nullptr) libusb_free_device_list(list, 1);
    return handle;
}

// Pipes are the endpoints of interface 0, alternate setting 0, in descriptor order.
void read_endpoints(UsbDevice* device) {
    device->endpoint_count = 0;
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_active_config_descriptor(libusb_get_device(device->handle), &config) != 0)
        return;
    if (config->bNumInterfaces > 0 && config->interface[0].num_altsetting > 0) {
        const libusb_interface_descriptor& setting = config->interface[0].altsetting[0];
        for (int i = 0; i < setting.bNumEndpoints && i < MAX_ENDPOINTS; ++i) {
            device->endpoints[i].address = setting.endpoint[i].bEndpointAddress;
            device->endpoints[i].attributes = setting.endpoint[i].bmAttributes;
            device->endpoint_count = i + 1;
        }
    }
    libusb_free_config_descriptor(config);
}

}  // namespace

void* device_open(int index) {
    if (context == nullptr && libusb_init(&context) != 0) {
        context = nullptr;
        return nullptr;
    }
    UsbDevice* device = nullptr;
    for (UsbDevice& slot : usb_devices) {
        if (slot.handle == nullptr) {
            device = &slot;
            break;
        }
    }
    if (device == nullptr) return nullptr;
    libusb_device_handle* handle = open_nth_adapter(index);
    if (handle == nullptr) return nullptr;
    device->handle = handle;
    read_endpoints(device);
    return device;
}

void device_close(void* opened) {
    UsbDevice* device = static_cast<UsbDevice*>(opened);
    libusb_release_interface(device->handle, 0);
    libusb_close(device->handle);
    device->handle = nullptr;
}

int device_control(void* opened, uint8_t request_type, uint8_t request, uint16_t value,
                   uint16_t index, uint8_t* data, uint16_t length) {
    UsbDevice* device = static_cast<UsbDevice*>(opened);
    int moved = libusb_control_transfer(device->handle, request_type, request, value, index, data,
                                        length, TRANSFER_TIMEOUT_MS);
    return moved < 0 ? -1 : moved;
}

int device_endpoint(void* opened, uint32_t pipe, DeviceEndpoint* endpoint) {
    UsbDevice* device = static_cast<UsbDevice*>(opened);
    if (pipe >= static_cast<uint32_t>(device->endpoint_count)) return -1;
    *endpoint = device->endpoints[pipe];
    return 0;
}

int device_transfer(void* opened, const DeviceEndpoint& endpoint, uint8_t* data, int length) {
    UsbDevice* device = static_cast<UsbDevice*>(opened);
    int moved = 0;
    int result = (endpoint.attributes & 3) == LIBUSB_TRANSFER_TYPE_INTERRUPT
                     ? libusb_interrupt_transfer(device->handle, endpoint.address, data, length,
                                                 &moved, TRANSFER_TIMEOUT_MS)
                     : libusb_bulk_transfer(device->handle, endpoint.address, data, length, &moved,
                                            TRANSFER_TIMEOUT_MS);
    return result != 0 ? -1 : moved;
}

HANDLE CreateFileA(LPCSTR name, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
    return ezusb_create(name);
}

BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD in_size, LPVOID out,
                     DWORD out_size, LPDWORD returned, LPOVERLAPPED) {
    return ezusb_ioctl(device, code, in, in_size, out, out_size, returned);
}

BOOL CloseHandle(HANDLE handle) { return ezusb_close(handle); }
