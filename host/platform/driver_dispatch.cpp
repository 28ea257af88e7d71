// The request dispatcher shared by the driver backends that stand in for the Windows
// EZ-USB driver. Every record is checked before anything reaches the device: a wrong
// size, an unknown code, a pipe of the wrong direction or type, or a stale handle
// fails the request as a whole.
#include <cctype>
#include <cstdio>
#include <cstring>

#include "platform/driver_device.h"
#include "platform/driver_requests.h"

namespace {

enum {
    DOWNLOAD_CHUNK = 64,     // one endpoint-0 packet per load request
    DOWNLOAD_MAX = 0x10000,  // the load request addresses 64 KiB
    GET_DESCRIPTOR = 6,
    STRING_DESCRIPTOR = 3,
    TYPE_VENDOR_OUT = 0x40,  // vendor, device recipient, host to device
    TYPE_VENDOR_IN = 0xC0,
    TYPE_STANDARD_IN = 0x80,
};

enum {
    VENDOR_ANCHOR = 0x0547,
    PRODUCT_FIRMWARE = 0x1002,
};

const uint16_t chip_products[] = {0x2131, 0x2135, 0x2136};

}  // namespace

bool is_adapter_id(uint16_t vendor, uint16_t product) {
    if (vendor != VENDOR_ANCHOR) return false;
    if (product == PRODUCT_FIRMWARE) return true;
    for (uint16_t chip : chip_products) {
        if (product == chip) return true;
    }
    return false;
}

void report_unusable(const char* line) {
    static char last[256];
    if (std::strncmp(line, last, sizeof last - 1) == 0) return;
    std::snprintf(last, sizeof last, "%s", line);
    std::fprintf(stderr, "%s\n", line);
    std::fflush(stderr);
}

namespace {

struct OpenDevice {
    void* device;
};

OpenDevice open_devices[DRIVER_MAX_OPEN];

OpenDevice* find_open(HANDLE handle) {
    for (OpenDevice& slot : open_devices) {
        if (handle == static_cast<HANDLE>(&slot) && slot.device != nullptr) return &slot;
    }
    return nullptr;
}

// "\\.\ezusb-N" with N in decimal; -1 for any other name.
int parse_path(const char* path) {
    static const char prefix[] = "\\\\.\\ezusb-";
    const size_t prefix_length = sizeof prefix - 1;
    if (path == nullptr || std::strncmp(path, prefix, prefix_length) != 0) return -1;
    const char* digits = path + prefix_length;
    size_t count = std::strlen(digits);
    if (count == 0 || count > 4) return -1;
    int index = 0;
    for (size_t i = 0; i < count; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(digits[i]))) return -1;
        index = index * 10 + (digits[i] - '0');
    }
    return index;
}

}  // namespace

HANDLE ezusb_create(const char* path) {
    int index = parse_path(path);
    if (index < 0) return INVALID_HANDLE_VALUE;
    for (OpenDevice& slot : open_devices) {
        if (slot.device != nullptr) continue;
        slot.device = device_open(index);
        return slot.device != nullptr ? static_cast<HANDLE>(&slot) : INVALID_HANDLE_VALUE;
    }
    return INVALID_HANDLE_VALUE;
}

BOOL ezusb_close(HANDLE handle) {
    OpenDevice* slot = find_open(handle);
    if (slot == nullptr) return FALSE;
    device_close(slot->device);
    slot->device = nullptr;
    return TRUE;
}

bool ezusb_owns(HANDLE handle) {
    for (OpenDevice& slot : open_devices) {
        if (handle == static_cast<HANDLE>(&slot)) return true;
    }
    return false;
}

void ezusb_close_all() {
    for (OpenDevice& slot : open_devices) ezusb_close(&slot);
}

namespace {

int vendor_request(void* device, const void* in, DWORD in_size, void* out, DWORD out_size) {
    VendorRequestRecord record;
    if (in_size != sizeof record) return -1;
    std::memcpy(&record, in, sizeof record);
    unsigned length = get_le16(record.length);
    if (length > 1 || record.direction > 1) return -1;  // the record carries one data byte
    if (record.direction == 1 && (out == nullptr || out_size < length)) return -1;
    int moved = device_control(device, record.direction ? TYPE_VENDOR_IN : TYPE_VENDOR_OUT,
                               record.request, static_cast<uint16_t>(get_le16(record.value)),
                               static_cast<uint16_t>(get_le16(record.index)), &record.data,
                               static_cast<uint16_t>(length));
    if (moved != static_cast<int>(length)) return -1;
    if (record.direction == 1 && length == 1) *static_cast<uint8_t*>(out) = record.data;
    return record.direction == 1 ? moved : 0;
}

int download(void* device, const void* in, DWORD in_size) {
    if (in == nullptr || in_size == 0 || in_size > DOWNLOAD_MAX) return -1;
    uint8_t chunk[DOWNLOAD_CHUNK];
    for (DWORD offset = 0; offset < in_size; offset += DOWNLOAD_CHUNK) {
        DWORD length = in_size - offset;
        if (length > DOWNLOAD_CHUNK) length = DOWNLOAD_CHUNK;
        std::memcpy(chunk, static_cast<const uint8_t*>(in) + offset, length);
        if (device_control(device, TYPE_VENDOR_OUT, LOAD_REQUEST, static_cast<uint16_t>(offset), 0,
                           chunk, static_cast<uint16_t>(length)) != static_cast<int>(length)) {
            return -1;
        }
    }
    return 0;
}

int get_string(void* device, const void* in, DWORD in_size, void* out, DWORD out_size) {
    StringDescriptorRequest request;
    if (in_size != sizeof request || out == nullptr || out_size < 2) return -1;
    std::memcpy(&request, in, sizeof request);
    uint16_t length = static_cast<uint16_t>(out_size > 255 ? 255 : out_size);
    return device_control(device, TYPE_STANDARD_IN, GET_DESCRIPTOR,
                          static_cast<uint16_t>(STRING_DESCRIPTOR << 8 | request.index),
                          static_cast<uint16_t>(get_le16(request.language)),
                          static_cast<uint8_t*>(out), length);
}

int pipe_transfer(void* device, bool in_direction, const void* in, DWORD in_size, void* out,
                  DWORD out_size) {
    BulkTransferControl control;
    if (in_size != sizeof control || out_size > PIPE_PIECE_MAX) return -1;
    if (out == nullptr && out_size > 0) return -1;
    std::memcpy(&control, in, sizeof control);
    DeviceEndpoint endpoint;
    if (device_endpoint(device, get_le32(control.pipe), &endpoint) != 0) return -1;
    unsigned type = endpoint.attributes & 3;
    if ((type != 2 && type != 3) || ((endpoint.address & 0x80) != 0) != in_direction) return -1;
    return device_transfer(device, endpoint, static_cast<uint8_t*>(out),
                           static_cast<int>(out_size));
}

}  // namespace

BOOL ezusb_ioctl(HANDLE handle, DWORD code, const void* in, DWORD in_size, void* out,
                 DWORD out_size, DWORD* returned) {
    if (returned != nullptr) *returned = 0;
    OpenDevice* slot = find_open(handle);
    if (slot == nullptr || (in == nullptr && in_size > 0)) return FALSE;
    int result = -1;
    switch (code) {
    case EZUSB_VENDOR_REQUEST:
        result = vendor_request(slot->device, in, in_size, out, out_size);
        break;
    case EZUSB_DOWNLOAD: result = download(slot->device, in, in_size); break;
    case EZUSB_GET_STRING: result = get_string(slot->device, in, in_size, out, out_size); break;
    case EZUSB_PIPE_READ:
        result = pipe_transfer(slot->device, true, in, in_size, out, out_size);
        break;
    case EZUSB_PIPE_WRITE:
        result = pipe_transfer(slot->device, false, in, in_size, out, out_size);
        break;
    default: break;
    }
    if (result < 0) return FALSE;
    if (returned != nullptr) *returned = static_cast<DWORD>(result);
    return TRUE;
}
