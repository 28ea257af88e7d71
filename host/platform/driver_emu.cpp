#include "platform/driver_emu.h"

#include "ezusb/adapter.h"

#include "platform/driver_device.h"
#include "platform/driver_requests.h"

namespace {

struct EmuDevice {
    emu::Adapter* adapter;
    uint32_t enumeration;  // the enumeration the handle was opened on
    bool open;
};

std::vector<emu::Adapter*> adapters;
std::vector<emu_driver::Request> request_record;
std::vector<emu_driver::Open> open_record;
emu_driver::Faults faults;
bool recording = true;
EmuDevice emu_devices[DRIVER_MAX_OPEN];

// The adapter behind an open device, or nullptr once it has left the bus or come back
// under a new enumeration.
emu::Adapter* live(void* opened) {
    EmuDevice* device = static_cast<EmuDevice*>(opened);
    if (device->adapter == nullptr || !device->adapter->present() ||
        device->adapter->enumeration() != device->enumeration) {
        return nullptr;
    }
    return device->adapter;
}

}  // namespace

namespace emu_driver {

void register_adapter(emu::Adapter* adapter) { adapters.push_back(adapter); }

void reset() {
    ezusb_close_all();
    adapters.clear();
    clear_record();
    faults = Faults();
}

const std::vector<Request>& requests() { return request_record; }
const std::vector<Open>& opens() { return open_record; }

void clear_record() {
    request_record.clear();
    open_record.clear();
}

void set_faults(const Faults& new_faults) { faults = new_faults; }

void set_recording(bool on) { recording = on; }

}  // namespace emu_driver

void* device_open(int index) {
    if (index < 0 || static_cast<size_t>(index) >= adapters.size()) return nullptr;
    emu::Adapter* adapter = adapters[static_cast<size_t>(index)];
    if (!adapter->present()) return nullptr;
    for (EmuDevice& device : emu_devices) {
        if (device.open) continue;
        device = {adapter, adapter->enumeration(), true};
        return &device;
    }
    return nullptr;
}

void device_close(void* opened) { static_cast<EmuDevice*>(opened)->open = false; }

int device_control(void* opened, uint8_t request_type, uint8_t request, uint16_t value,
                   uint16_t index, uint8_t* data, uint16_t length) {
    emu::Adapter* adapter = live(opened);
    if (adapter == nullptr) return -1;
    return adapter->control(emu::SetupPacket{request_type, request, value, index, length}, data);
}

int device_endpoint(void* opened, uint32_t pipe, DeviceEndpoint* endpoint) {
    emu::Adapter* adapter = live(opened);
    if (adapter == nullptr || pipe >= adapter->endpoints().size()) return -1;
    const emu::EndpointInfo& info = adapter->endpoints()[pipe];
    *endpoint = DeviceEndpoint{info.address, info.attributes};
    return 0;
}

int device_transfer(void* opened, const DeviceEndpoint& endpoint, uint8_t* data, int length) {
    emu::Adapter* adapter = live(opened);
    if (adapter == nullptr) return -1;
    return (endpoint.address & 0x80) != 0 ? adapter->bulk_in(endpoint.address, data, length)
                                          : adapter->bulk_out(endpoint.address, data, length);
}

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES, DWORD disposition,
                   DWORD flags, HANDLE) {
    HANDLE handle = INVALID_HANDLE_VALUE;
    if (faults.fail_opens > 0) {
        --faults.fail_opens;
    } else {
        handle = ezusb_create(name);
    }
    if (recording) {
        open_record.push_back({name != nullptr ? name : "", access, share, disposition, flags,
                               handle != INVALID_HANDLE_VALUE});
    }
    return handle;
}

BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD in_size, LPVOID out,
                     DWORD out_size, LPDWORD returned, LPOVERLAPPED) {
    BOOL result = FALSE;
    if (faults.fail_count > 0 && code == faults.fail_code) {
        --faults.fail_count;
        if (returned != nullptr) *returned = 0;
    } else {
        result = ezusb_ioctl(device, code, in, in_size, out, out_size, returned);
    }
    if (!recording) return result;
    std::vector<uint8_t> input;
    const uint8_t* bytes = static_cast<const uint8_t*>(in);
    if (bytes != nullptr) input.assign(bytes, bytes + in_size);
    std::vector<uint8_t> data;
    const uint8_t* moved = static_cast<const uint8_t*>(out);
    if (code == EZUSB_PIPE_WRITE && moved != nullptr) data.assign(moved, moved + out_size);
    if (code == EZUSB_PIPE_READ && moved != nullptr && result && returned != nullptr)
        data.assign(moved, moved + *returned);
    request_record.push_back({code, std::move(input), out_size, result != FALSE, std::move(data)});
    return result;
}

BOOL CloseHandle(HANDLE handle) { return ezusb_close(handle); }

void Sleep(DWORD milliseconds) {
    for (emu::Adapter* adapter : adapters) adapter->sleep_ns(uint64_t{milliseconds} * 1000000u);
}
