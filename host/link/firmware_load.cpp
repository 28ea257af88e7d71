// The requests that recognise and load the adapter's firmware: string descriptors,
// holding and releasing the 8051, and the download of the image.
#include "link/link.h"
#include "platform/console.h"
#include "platform/driver_requests.h"

namespace {

enum {
    CPUCS = 0x7F92,  // bit 0 holds the 8051 in reset
    STRING_LANGUAGE = 0x001B,
};

int write_cpucs(HANDLE* handle, uint8_t value) {
    VendorRequestRecord record = {};
    record.request = LOAD_REQUEST;
    put_le16(record.value, CPUCS);
    put_le16(record.index, 0);
    put_le16(record.length, 1);
    record.direction = 0;
    record.data = value;
    DWORD returned = 0;
    return DeviceIoControl(*handle, EZUSB_VENDOR_REQUEST, &record, sizeof record, nullptr, 0,
                           &returned, nullptr)
               ? 0
               : -1;
}

}  // namespace

int hold_8051(HANDLE* handle) {
    if (write_cpucs(handle, 1) != 0) {
        con_printf("i8051 halt err.\n");
        return -1;
    }
    return 0;
}

int run_8051(HANDLE* handle) {
    if (write_cpucs(handle, 0) != 0) {
        con_printf("i8051 run err.\n");
        return -1;
    }
    return 0;
}

int download_firmware(HANDLE* handle, const unsigned char* image, int length) {
    DWORD returned = 0;
    if (length < 0 ||
        !DeviceIoControl(*handle, EZUSB_DOWNLOAD, const_cast<unsigned char*>(image),
                         static_cast<DWORD>(length), nullptr, 0, &returned, nullptr)) {
        con_printf("usb dwnload err.\n");
        return -1;
    }
    return 0;
}

int get_string_descriptor(HANDLE* handle, int index, char* text) {
    StringDescriptorRequest request = {};
    request.index = static_cast<uint8_t>(index);
    put_le16(request.language, STRING_LANGUAGE);
    uint8_t reply[STRING_REPLY_SIZE] = {};
    DWORD returned = 0;
    if (!DeviceIoControl(*handle, EZUSB_GET_STRING, &request, sizeof request, reply, sizeof reply,
                         &returned, nullptr)) {
        return -1;
    }
    // The descriptor's own length byte decides, not the driver's byte count. A length
    // byte that claims more than the reply holds is cut to what it holds.
    int count = reply[0] / 2 - 1;
    const int most = (STRING_REPLY_SIZE - 2) / 2;
    if (count > most) count = most;
    int i = 0;
    for (; i < count; ++i) text[i] = static_cast<char>(reply[2 + 2 * i]);  // low byte only
    text[i] = '\0';
    return 0;
}
