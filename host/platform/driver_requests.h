// The EZ-USB general-purpose driver's I/O control requests: their codes and the byte
// layout of their records. The link builds these records; the driver backends that
// stand in for the Windows driver take them apart. Multi-byte fields are little-endian
// whatever the host's byte order, so every record is a plain array of bytes.
#pragma once
#include <cstdint>

// Device type FILE_DEVICE_UNKNOWN (0x22), FILE_ANY_ACCESS; the method sits in the low two bits.
enum : uint32_t {
    EZUSB_VENDOR_REQUEST = 0x222014,  // function 0x805, buffered: a vendor control request
    EZUSB_DOWNLOAD = 0x22201C,    // function 0x807, buffered: a block into memory from address 0
    EZUSB_GET_STRING = 0x222044,  // function 0x811, buffered: a string descriptor
    EZUSB_PIPE_READ = 0x22204E,   // function 0x813, out-direct: read from an IN pipe
    EZUSB_PIPE_WRITE = 0x222051,  // function 0x814, in-direct: write to an OUT pipe
};

enum {
    LOAD_REQUEST = 0xA0,      // vendor request served by the chip's own USB core: memory write/read
    STRING_REPLY_SIZE = 130,  // header and up to 64 UTF-16LE code units
    PIPE_PIECE_MAX = 0x8000,  // the most bytes one pipe request moves
};

// Input of EZUSB_VENDOR_REQUEST.
struct VendorRequestRecord {
    uint8_t request;
    uint8_t reserved;
    uint8_t value[2];
    uint8_t index[2];
    uint8_t length[2];
    uint8_t direction;  // 0 host to device, 1 device to host
    uint8_t data;       // the data stage's one byte
};

// Input of EZUSB_GET_STRING.
struct StringDescriptorRequest {
    uint8_t index;
    uint8_t reserved;
    uint8_t language[2];
};

// Input of EZUSB_PIPE_READ and EZUSB_PIPE_WRITE.
struct BulkTransferControl {
    uint8_t pipe[4];
};

static_assert(sizeof(VendorRequestRecord) == 10, "record layout");
static_assert(sizeof(StringDescriptorRequest) == 4, "record layout");
static_assert(sizeof(BulkTransferControl) == 4, "record layout");

inline void put_le16(uint8_t* field, unsigned value) {
    field[0] = static_cast<uint8_t>(value);
    field[1] = static_cast<uint8_t>(value >> 8);
}

inline void put_le32(uint8_t* field, uint32_t value) {
    put_le16(field, value & 0xFFFF);
    put_le16(field + 2, value >> 16);
}

inline unsigned get_le16(const uint8_t* field) {
    return static_cast<unsigned>(field[0] | (field[1] << 8));
}

inline uint32_t get_le32(const uint8_t* field) {
    return get_le16(field) | (static_cast<uint32_t>(get_le16(field + 2)) << 16);
}
