// The two pipe transfers: bytes out to an OUT pipe and in from an IN pipe, in pieces
// of at most PIPE_PIECE_MAX bytes, each a driver request of its own.
#include "link/link.h"
#include "platform/driver_requests.h"

namespace {

int transfer_failed;

// Returns the sum of the driver's byte counts, or -1 at the first failed piece
// (pieces already moved stay moved).
int pipe_transfer(HANDLE* handle, DWORD code, int pipe, unsigned char* buffer, int length) {
    BulkTransferControl control = {};
    put_le32(control.pipe, static_cast<uint32_t>(pipe));
    int total = 0;
    for (int offset = 0; offset < length;) {
        int piece = length - offset < PIPE_PIECE_MAX ? length - offset : PIPE_PIECE_MAX;
        DWORD returned = 0;
        if (!DeviceIoControl(*handle, code, &control, sizeof control, buffer + offset,
                             static_cast<DWORD>(piece), &returned, nullptr)) {
            transfer_failed = 1;
            return -1;
        }
        offset += piece;
        total += static_cast<int>(returned);
    }
    return total;
}

}  // namespace

int bulk_write(HANDLE* handle, int pipe, const unsigned char* data, int length) {
    return pipe_transfer(handle, EZUSB_PIPE_WRITE, pipe, const_cast<unsigned char*>(data), length) <
                   0
               ? -1
               : 0;
}

int bulk_read(HANDLE* handle, int pipe, unsigned char* buffer, int length) {
    return pipe_transfer(handle, EZUSB_PIPE_READ, pipe, buffer, length);
}

int link_take_failure() {
    int failed = transfer_failed;
    transfer_failed = 0;
    return failed;
}
