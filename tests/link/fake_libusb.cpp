#include "fake_libusb.h"

#include <libusb.h>

#include "ezusb/adapter.h"
#include "platform/winapi.h"

struct libusb_context {
    int unused;
};

struct libusb_device {
    emu::Adapter* adapter;  // nullptr: the foreign device
};

struct libusb_device_handle {
    libusb_device* device;
    uint32_t enumeration;
    bool claimed;
};

namespace {

libusb_context the_context;
std::vector<libusb_device*> devices;
libusb_device* listed[16];

libusb_config_descriptor config;
libusb_interface interface_0;
libusb_interface_descriptor setting;
libusb_endpoint_descriptor endpoint_descriptors[32];

bool present(const libusb_device* device) {
    return device->adapter == nullptr || device->adapter->present();
}

emu::Adapter* live(libusb_device_handle* handle) {
    emu::Adapter* adapter = handle->device->adapter;
    if (adapter == nullptr || !adapter->present() ||
        adapter->enumeration() != handle->enumeration) {
        return nullptr;
    }
    return adapter;
}

}  // namespace

namespace fake_usb {

State state;

void add_adapter(emu::Adapter* adapter) { devices.push_back(new libusb_device{adapter}); }
void add_foreign_device() { devices.push_back(new libusb_device{nullptr}); }

void reset() {
    for (libusb_device* device : devices) delete device;
    devices.clear();
    state = State();
}

}  // namespace fake_usb

int libusb_init(libusb_context** context) {
    *context = &the_context;
    return 0;
}

ssize_t libusb_get_device_list(libusb_context*, libusb_device*** list) {
    ssize_t count = 0;
    for (libusb_device* device : devices) {
        if (present(device) && count < 15) listed[count++] = device;
    }
    listed[count] = nullptr;
    *list = listed;
    return count;
}

void libusb_free_device_list(libusb_device**, int) {}

int libusb_get_device_descriptor(libusb_device* device, libusb_device_descriptor* descriptor) {
    *descriptor = libusb_device_descriptor{};
    descriptor->bLength = 18;
    descriptor->bDescriptorType = LIBUSB_DT_DEVICE;
    if (device->adapter == nullptr) {
        descriptor->idVendor = 0x046D;
        descriptor->idProduct = 0xC52B;
        return 0;
    }
    const auto& bytes = device->adapter->device_descriptor();
    descriptor->idVendor = static_cast<uint16_t>(bytes[8] | bytes[9] << 8);
    descriptor->idProduct = static_cast<uint16_t>(bytes[10] | bytes[11] << 8);
    return 0;
}

int libusb_open(libusb_device* device, libusb_device_handle** handle) {
    if (device->adapter == nullptr || fake_usb::state.deny_open) return LIBUSB_ERROR_ACCESS;
    *handle = new libusb_device_handle{device, device->adapter->enumeration(), false};
    ++fake_usb::state.open_handles;
    return 0;
}

void libusb_close(libusb_device_handle* handle) {
    delete handle;
    --fake_usb::state.open_handles;
}

libusb_device* libusb_get_device(libusb_device_handle* handle) { return handle->device; }
uint8_t libusb_get_bus_number(libusb_device*) { return 1; }

uint8_t libusb_get_device_address(libusb_device* device) {
    return device->adapter != nullptr ? device->adapter->address() : 1;
}

const char* libusb_error_name(int error) {
    return error == LIBUSB_ERROR_ACCESS ? "LIBUSB_ERROR_ACCESS" : "LIBUSB_ERROR_OTHER";
}

int libusb_set_auto_detach_kernel_driver(libusb_device_handle*, int) { return 0; }

int libusb_claim_interface(libusb_device_handle* handle, int number) {
    if (number != 0 || live(handle) == nullptr) return LIBUSB_ERROR_NOT_FOUND;
    handle->claimed = true;
    return 0;
}

int libusb_release_interface(libusb_device_handle* handle, int number) {
    if (number != 0 || !handle->claimed) return LIBUSB_ERROR_NOT_FOUND;
    handle->claimed = false;
    return 0;
}

int libusb_get_active_config_descriptor(libusb_device* device, libusb_config_descriptor** out) {
    if (device->adapter == nullptr || !device->adapter->present()) return LIBUSB_ERROR_NO_DEVICE;
    const auto& endpoints = device->adapter->endpoints();
    setting = libusb_interface_descriptor{};
    setting.bNumEndpoints = static_cast<uint8_t>(endpoints.size());
    for (size_t i = 0; i < endpoints.size() && i < 32; ++i) {
        endpoint_descriptors[i] = libusb_endpoint_descriptor{};
        endpoint_descriptors[i].bEndpointAddress = endpoints[i].address;
        endpoint_descriptors[i].bmAttributes = endpoints[i].attributes;
        endpoint_descriptors[i].wMaxPacketSize = endpoints[i].max_packet;
        endpoint_descriptors[i].bInterval = endpoints[i].interval;
    }
    setting.endpoint = endpoint_descriptors;
    interface_0.altsetting = &setting;
    interface_0.num_altsetting = 1;
    config = libusb_config_descriptor{};
    config.bNumInterfaces = 1;
    config.interface = &interface_0;
    *out = &config;
    ++fake_usb::state.config_descriptors_held;
    return 0;
}

void libusb_free_config_descriptor(libusb_config_descriptor*) {
    --fake_usb::state.config_descriptors_held;
}

int libusb_control_transfer(libusb_device_handle* handle, uint8_t request_type, uint8_t request,
                            uint16_t value, uint16_t index, unsigned char* data, uint16_t length,
                            unsigned int) {
    emu::Adapter* adapter = live(handle);
    if (adapter == nullptr) return LIBUSB_ERROR_NO_DEVICE;
    int moved =
        adapter->control(emu::SetupPacket{request_type, request, value, index, length}, data);
    return moved < 0 ? LIBUSB_ERROR_PIPE : moved;
}

namespace {

int transfer(libusb_device_handle* handle, unsigned char endpoint, unsigned char* data, int length,
             int* moved, unsigned int timeout) {
    *moved = 0;
    emu::Adapter* adapter = live(handle);
    if (adapter == nullptr) return LIBUSB_ERROR_NO_DEVICE;
    if (!handle->claimed) return LIBUSB_ERROR_ACCESS;
    adapter->set_timeout_ns(uint64_t{timeout} * 1000000u);
    int result = (endpoint & 0x80) != 0 ? adapter->bulk_in(endpoint, data, length)
                                        : adapter->bulk_out(endpoint, data, length);
    if (result < 0) return LIBUSB_ERROR_TIMEOUT;
    *moved = result;
    return 0;
}

}  // namespace

int libusb_bulk_transfer(libusb_device_handle* handle, unsigned char endpoint, unsigned char* data,
                         int length, int* moved, unsigned int timeout) {
    return transfer(handle, endpoint, data, length, moved, timeout);
}

int libusb_interrupt_transfer(libusb_device_handle* handle, unsigned char endpoint,
                              unsigned char* data, int length, int* moved, unsigned int timeout) {
    return transfer(handle, endpoint, data, length, moved, timeout);
}

// The host's waits let the emulated adapters' virtual time pass.
void Sleep(DWORD milliseconds) {
    for (libusb_device* device : devices) {
        if (device->adapter != nullptr)
            device->adapter->sleep_ns(uint64_t{milliseconds} * 1000000u);
    }
}
