#include "fake_winusb.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <setupapi.h>
#include <winusb.h>

#include <algorithm>
#include <cstdio>

#include "ezusb/adapter.h"

namespace fake_winusb {

std::vector<BusDevice> bus;
int open_files = 0, device_lists = 0, pipe_calls = 0;
unsigned long pipe_timeout = 0;

uint16_t product_of(const BusDevice& device) {
    if (device.adapter == nullptr) return 0xC52B;
    const std::vector<uint8_t>& descriptor = device.adapter->device_descriptor();
    return static_cast<uint16_t>(descriptor[10] | descriptor[11] << 8);
}

}  // namespace fake_winusb

using namespace fake_winusb;

namespace {

struct Opened {
    BusDevice* device;
    uint32_t enumeration;
};

std::vector<Opened*> files;
int listed;

// The member-th device present; the interface data carry its place on the bus.
BusDevice* present(DWORD member) {
    for (BusDevice& device : bus) {
        if ((device.adapter == nullptr || device.adapter->present()) && member-- == 0)
            return &device;
    }
    return nullptr;
}

emu::Adapter* live(WINUSB_INTERFACE_HANDLE usb) {
    Opened* file = static_cast<Opened*>(usb);
    emu::Adapter* adapter = file->device->adapter;
    return adapter->present() && adapter->enumeration() == file->enumeration ? adapter : nullptr;
}

HDEVINFO WINAPI get_class_devs(const GUID* guid, PCSTR, HWND, DWORD flags) {
    EXPECT_EQ(guid->Data1, 0xA5DCBF10u);  // GUID_DEVINTERFACE_USB_DEVICE
    EXPECT_EQ(flags, DWORD(DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    ++device_lists;
    return &listed;
}

BOOL WINAPI enum_interfaces(HDEVINFO, PSP_DEVINFO_DATA, const GUID*, DWORD member,
                            PSP_DEVICE_INTERFACE_DATA data) {
    BusDevice* device = present(member);
    data->Reserved = static_cast<ULONG_PTR>(device - bus.data());
    return device != nullptr;
}

BOOL WINAPI interface_detail(HDEVINFO, PSP_DEVICE_INTERFACE_DATA data,
                             PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD size, PDWORD,
                             PSP_DEVINFO_DATA info) {
    info->DevInst = static_cast<DWORD>(data->Reserved);
    std::snprintf(detail->DevicePath, size - sizeof(DWORD), "\\\\?\\usb#%lu", info->DevInst);
    return TRUE;
}

BOOL WINAPI instance_id(HDEVINFO, PSP_DEVINFO_DATA info, PSTR id, DWORD size, PDWORD) {
    const BusDevice& device = bus[info->DevInst];
    std::snprintf(id, size, "USB\\VID_%04X&PID_%04X\\%lu",
                  device.adapter != nullptr ? 0x0547 : 0x046D, product_of(device), info->DevInst);
    return TRUE;
}

BOOL WINAPI destroy_list(HDEVINFO) { return --device_lists == 0; }

// The EZ-USB driver's device object never opens, nor does a mouse.
HANDLE WINAPI create_file(LPCSTR path, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD flags,
                          HANDLE) {
    unsigned number = 0;
    if (std::sscanf(path, "\\\\?\\usb#%u", &number) != 1 || bus.at(number).adapter == nullptr)
        return INVALID_HANDLE_VALUE;
    EXPECT_TRUE(flags & FILE_FLAG_OVERLAPPED);  // WinUSB works on overlapped handles only
    ++open_files;
    files.push_back(new Opened{&bus[number], bus[number].adapter->enumeration()});
    return files.back();
}

// A handle of the runtime's own goes on to kernel32.
BOOL WINAPI close_handle(HANDLE handle) {
    auto file = std::find(files.begin(), files.end(), handle);
    if (file == files.end()) {
        static auto kernel32_close =
            reinterpret_cast<BOOL(WINAPI*)(HANDLE)>(reinterpret_cast<void*>(
                GetProcAddress(GetModuleHandleA("kernel32.dll"), "CloseHandle")));
        return kernel32_close(handle);
    }
    delete *file;
    files.erase(file);
    --open_files;
    return TRUE;
}

void WINAPI sleep(DWORD milliseconds) {
    for (BusDevice& device : bus) {
        if (device.adapter != nullptr) device.adapter->sleep_ns(uint64_t{milliseconds} * 1000000u);
    }
}

BOOL pipe_transfer(WINUSB_INTERFACE_HANDLE usb, UCHAR endpoint, PUCHAR data, ULONG length,
                   PULONG moved) {
    ++pipe_calls;
    emu::Adapter* adapter = live(usb);
    int result = -1;
    if (adapter != nullptr) {
        adapter->set_timeout_ns(uint64_t{pipe_timeout} * 1000000u);
        result = (endpoint & 0x80) != 0 ? adapter->bulk_in(endpoint, data, int(length))
                                        : adapter->bulk_out(endpoint, data, int(length));
    }
    *moved = result < 0 ? 0 : static_cast<ULONG>(result);
    return result >= 0;
}

}  // namespace

// kernel32's and SetupAPI's functions are called through import slots, WinUSB's by name.
extern "C" {
decltype(&::SetupDiGetClassDevsA) __imp_SetupDiGetClassDevsA = get_class_devs;
decltype(&::SetupDiEnumDeviceInterfaces) __imp_SetupDiEnumDeviceInterfaces = enum_interfaces;
decltype(&::SetupDiGetDeviceInterfaceDetailA) __imp_SetupDiGetDeviceInterfaceDetailA =
    interface_detail;
decltype(&::SetupDiGetDeviceInstanceIdA) __imp_SetupDiGetDeviceInstanceIdA = instance_id;
decltype(&::SetupDiDestroyDeviceInfoList) __imp_SetupDiDestroyDeviceInfoList = destroy_list;
decltype(&::CreateFileA) __imp_CreateFileA = create_file;
decltype(&::CloseHandle) __imp_CloseHandle = close_handle;
decltype(&::Sleep) __imp_Sleep = sleep;

BOOL WINAPI WinUsb_Initialize(HANDLE file, PWINUSB_INTERFACE_HANDLE usb) {
    *usb = file;
    return static_cast<Opened*>(file)->device->winusb;
}

BOOL WINAPI WinUsb_Free(WINUSB_INTERFACE_HANDLE) { return TRUE; }

BOOL WINAPI WinUsb_QueryInterfaceSettings(WINUSB_INTERFACE_HANDLE usb, UCHAR setting,
                                          PUSB_INTERFACE_DESCRIPTOR descriptor) {
    emu::Adapter* adapter = live(usb);
    if (adapter == nullptr || setting != 0) return FALSE;
    descriptor->bNumEndpoints = static_cast<UCHAR>(adapter->endpoints().size());
    return TRUE;
}

BOOL WINAPI WinUsb_QueryPipe(WINUSB_INTERFACE_HANDLE usb, UCHAR, UCHAR index,
                             PWINUSB_PIPE_INFORMATION pipe) {
    const emu::EndpointInfo& endpoint = live(usb)->endpoints().at(index);
    pipe->PipeId = endpoint.address;
    pipe->PipeType = static_cast<USBD_PIPE_TYPE>(endpoint.attributes & 3);
    return TRUE;
}

BOOL WINAPI WinUsb_SetPipePolicy(WINUSB_INTERFACE_HANDLE, UCHAR, ULONG policy, ULONG, PVOID value) {
    if (policy == PIPE_TRANSFER_TIMEOUT) pipe_timeout = *static_cast<ULONG*>(value);
    return TRUE;
}

BOOL WINAPI WinUsb_ControlTransfer(WINUSB_INTERFACE_HANDLE usb, WINUSB_SETUP_PACKET setup,
                                   PUCHAR data, ULONG, PULONG moved, LPOVERLAPPED) {
    emu::Adapter* adapter = live(usb);
    emu::SetupPacket packet{setup.RequestType, setup.Request, setup.Value, setup.Index,
                            setup.Length};
    int result = adapter == nullptr ? -1 : adapter->control(packet, data);
    *moved = result < 0 ? 0 : static_cast<ULONG>(result);
    return result >= 0;
}

BOOL WINAPI WinUsb_ReadPipe(WINUSB_INTERFACE_HANDLE usb, UCHAR endpoint, PUCHAR data, ULONG length,
                            PULONG moved, LPOVERLAPPED) {
    return pipe_transfer(usb, endpoint, data, length, moved);
}

BOOL WINAPI WinUsb_WritePipe(WINUSB_INTERFACE_HANDLE usb, UCHAR endpoint, PUCHAR data, ULONG length,
                             PULONG moved, LPOVERLAPPED) {
    return pipe_transfer(usb, endpoint, data, length, moved);
}
}
