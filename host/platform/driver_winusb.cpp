// The EZ-USB driver's requests served through WinUSB, Microsoft's generic USB driver, for
// the Windows where the general-purpose driver cannot load. Adapter N is the N-th EZ-USB
// AN21xx device among the USB devices that SetupAPI lists, the bare chip under its
// default identity or the chip running the firmware; each identity needs WinUSB bound to
// it (the INF of the Windows package, packaging/pelkat.inf.in, or Zadig).
#include <windows.h>

#include <cfgmgr32.h>
#include <setupapi.h>
#include <winusb.h>

#include <cctype>
#include <cstdio>

#include "platform/driver_device.h"

enum {
    MAX_ENDPOINTS = 32,
    PATH_SIZE = 512,  // an interface path: an instance id (at most 200 characters) and a GUID
};

// GUID_DEVINTERFACE_USB_DEVICE: the USB hub driver registers an interface of this class
// for every device attached to a hub, whatever driver is bound to it (Microsoft,
// "GUID_DEVINTERFACE_USB_DEVICE"). For a device of one interface its path is the path
// that WinUSB opens, however WinUSB was bound (libusb, os/windows_winusb.c: "For other
// devices, the first interface is the same as the device"). An INF's own
// DeviceInterfaceGUIDs name a second interface of the same device, so only this class is
// listed: each adapter counts once.
static const GUID usb_device_interface = {
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

struct WinUsbDevice {
    HANDLE file;
    WINUSB_INTERFACE_HANDLE usb;
    int endpoint_count;
    DeviceEndpoint endpoints[MAX_ENDPOINTS];
};

static WinUsbDevice winusb_devices[DRIVER_MAX_OPEN];

// The ids in a USB device instance id, "USB\VID_vvvv&PID_pppp\serial" (Microsoft,
// "Standard USB identifiers").
static bool parse_ids(char* instance, uint16_t* vendor, uint16_t* product) {
    for (char* c = instance; *c != '\0'; ++c) *c = static_cast<char>(std::toupper(*c));
    unsigned v = 0, p = 0;
    if (std::sscanf(instance, "USB\\VID_%4x&PID_%4x", &v, &p) != 2) return false;
    *vendor = static_cast<uint16_t>(v);
    *product = static_cast<uint16_t>(p);
    return true;
}

// The device interface path of the index-th adapter, and its product id; false if there
// are fewer adapters.
static bool find_adapter(int index, char* path, uint16_t* product) {
    HDEVINFO set = SetupDiGetClassDevsA(&usb_device_interface, nullptr, nullptr,
                                        DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return false;
    static union {
        SP_DEVICE_INTERFACE_DETAIL_DATA_A detail;
        char bytes[sizeof(DWORD) + PATH_SIZE];
    } found;
    SP_DEVICE_INTERFACE_DATA interface_data = {};
    interface_data.cbSize = sizeof interface_data;
    int seen = 0;
    bool match = false;
    for (DWORD member = 0;
         !match &&
         SetupDiEnumDeviceInterfaces(set, nullptr, &usb_device_interface, member, &interface_data);
         ++member) {
        found.detail.cbSize = sizeof found.detail;
        SP_DEVINFO_DATA info = {};
        info.cbSize = sizeof info;
        char instance[MAX_DEVICE_ID_LEN];
        uint16_t vendor = 0;
        if (!SetupDiGetDeviceInterfaceDetailA(set, &interface_data, &found.detail,
                                              sizeof found.bytes, nullptr, &info) ||
            !SetupDiGetDeviceInstanceIdA(set, &info, instance, sizeof instance, nullptr) ||
            !parse_ids(instance, &vendor, product) || !is_adapter_id(vendor, *product)) {
            continue;
        }
        match = seen++ == index;
    }
    SetupDiDestroyDeviceInfoList(set);
    if (match) std::snprintf(path, PATH_SIZE, "%s", found.detail.DevicePath);
    return match;
}

static void report_unusable(uint16_t product, const char* step) {
    char line[256];
    std::snprintf(line, sizeof line,
                  "pelkat: USB device 0547:%04x cannot be used through WinUSB (%s: Windows "
                  "error %lu); is WinUSB bound to it and no other program using it? See "
                  "\"Using a real adapter on Windows\" in the README",
                  product, step, GetLastError());
    report_unusable(line);
}

// Pipes are the endpoints of interface 0, alternate setting 0, in descriptor order, as
// WinUSB indexes them; each gets the transfer timeout (WinUSB's own default waits forever).
static void read_endpoints(WinUsbDevice* device) {
    device->endpoint_count = 0;
    USB_INTERFACE_DESCRIPTOR setting = {};
    if (!WinUsb_QueryInterfaceSettings(device->usb, 0, &setting)) return;
    for (UCHAR i = 0; i < setting.bNumEndpoints && i < MAX_ENDPOINTS; ++i) {
        WINUSB_PIPE_INFORMATION pipe = {};
        if (!WinUsb_QueryPipe(device->usb, 0, i, &pipe)) return;
        ULONG timeout = TRANSFER_TIMEOUT_MS;
        WinUsb_SetPipePolicy(device->usb, pipe.PipeId, PIPE_TRANSFER_TIMEOUT, sizeof timeout,
                             &timeout);
        device->endpoints[i] = DeviceEndpoint{pipe.PipeId, static_cast<uint8_t>(pipe.PipeType)};
        device->endpoint_count = i + 1;
    }
}

void* device_open(int index) {
    WinUsbDevice* device = nullptr;
    for (WinUsbDevice& slot : winusb_devices) {
        if (slot.usb == nullptr) {
            device = &slot;
            break;
        }
    }
    char path[PATH_SIZE];
    uint16_t product = 0;
    if (device == nullptr || !find_adapter(index, path, &product)) return nullptr;
    // WinUSB works on overlapped handles only (Microsoft, "WinUsb_Initialize"); every call
    // below passes no OVERLAPPED and so completes before it returns.
    HANDLE file =
        CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        report_unusable(product, "CreateFile");
        return nullptr;
    }
    WINUSB_INTERFACE_HANDLE usb = nullptr;
    if (!WinUsb_Initialize(file, &usb) || usb == nullptr) {
        report_unusable(product, "WinUsb_Initialize");
        CloseHandle(file);
        return nullptr;
    }
    device->file = file;
    device->usb = usb;
    read_endpoints(device);
    return device;
}

void device_close(void* opened) {
    WinUsbDevice* device = static_cast<WinUsbDevice*>(opened);
    WinUsb_Free(device->usb);
    CloseHandle(device->file);
    device->usb = nullptr;
}

int device_control(void* opened, uint8_t request_type, uint8_t request, uint16_t value,
                   uint16_t index, uint8_t* data, uint16_t length) {
    WinUsbDevice* device = static_cast<WinUsbDevice*>(opened);
    WINUSB_SETUP_PACKET setup = {request_type, request, value, index, length};
    ULONG moved = 0;
    if (!WinUsb_ControlTransfer(device->usb, setup, data, length, &moved, nullptr)) return -1;
    return static_cast<int>(moved);
}

int device_endpoint(void* opened, uint32_t pipe, DeviceEndpoint* endpoint) {
    WinUsbDevice* device = static_cast<WinUsbDevice*>(opened);
    if (pipe >= static_cast<uint32_t>(device->endpoint_count)) return -1;
    *endpoint = device->endpoints[pipe];
    return 0;
}

// WinUSB reads and writes bulk and interrupt pipes alike.
int device_transfer(void* opened, const DeviceEndpoint& endpoint, uint8_t* data, int length) {
    WinUsbDevice* device = static_cast<WinUsbDevice*>(opened);
    ULONG moved = 0;
    BOOL done = (endpoint.address & 0x80) != 0
                    ? WinUsb_ReadPipe(device->usb, endpoint.address, data,
                                      static_cast<ULONG>(length), &moved, nullptr)
                    : WinUsb_WritePipe(device->usb, endpoint.address, data,
                                       static_cast<ULONG>(length), &moved, nullptr);
    return done ? static_cast<int>(moved) : -1;
}
