// The usbdevfs requests as a program sees them, run inside the test bed with a kernel
// driver ("usbtest") on the bare chip: claims and drivers, synchronous transfers, URBs
// with their status codes, the node after re-enumeration. The firmware is loaded by the
// tool's own link over libusb in between.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/usb/ch9.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "firmware_image.h"
#include "link/link.h"

namespace {

struct Outcome {
    int result, error;
    bool operator==(const Outcome& o) const { return result == o.result && error == o.error; }
};
void PrintTo(const Outcome& o, std::ostream* out) { *out << o.result << " errno " << o.error; }

Outcome call(int fd, unsigned long request, void* arg) {
    int r = ioctl(fd, request, arg);
    return {r, r < 0 ? errno : 0};
}
const Outcome DONE{0, 0};
Outcome failed(int error) { return {-1, error}; }

int open_node(int devnum) {
    char path[32];
    std::snprintf(path, sizeof path, "/dev/bus/usb/001/%03d", devnum);
    return open(path, O_RDWR);
}

std::vector<uint8_t> sysfs_descriptors() {
    std::vector<uint8_t> bytes(4096);
    int fd = open("/sys/bus/usb/devices/1-1/descriptors", O_RDONLY);
    ssize_t n = fd < 0 ? 0 : read(fd, bytes.data(), bytes.size());
    if (fd >= 0) close(fd);
    bytes.resize(size_t(n < 0 ? 0 : n));
    return bytes;
}

std::string driver(int fd) {
    usbdevfs_getdriver d = {};
    return call(fd, USBDEVFS_GETDRIVER, &d) == DONE
               ? d.driver
               : "(" + std::string(strerrorname_np(errno)) + ")";
}

Outcome disconnect_claim(int fd, unsigned flags, const char* name) {
    usbdevfs_disconnect_claim d = {};
    d.flags = flags;
    std::strncpy(d.driver, name, sizeof d.driver - 1);
    return call(fd, USBDEVFS_DISCONNECT_CLAIM, &d);
}

Outcome driver_ioctl(int fd, int interface, unsigned long code) {
    usbdevfs_ioctl c = {interface, int(code), nullptr};
    return call(fd, USBDEVFS_IOCTL, &c);
}

Outcome submit(int fd, usbdevfs_urb& urb, unsigned char type, unsigned char endpoint, void* buffer,
               int length, unsigned flags = 0) {
    urb = {};
    urb.type = type;
    urb.endpoint = endpoint;
    urb.buffer = buffer;
    urb.buffer_length = length;
    urb.flags = flags;
    return call(fd, USBDEVFS_SUBMITURB, &urb);
}

// The next reaped URB: the one expected, with its status and length.
void expect_reaped(int fd, const usbdevfs_urb& urb, int status, int actual) {
    void* reaped = nullptr;
    ASSERT_EQ(call(fd, USBDEVFS_REAPURBNDELAY, &reaped), DONE);
    EXPECT_EQ(reaped, &urb);
    EXPECT_EQ(urb.status, status);
    EXPECT_EQ(urb.actual_length, actual);
}

TEST(Usbfs, BareChipClaimsDriversAndTransfers) {
    int a = open_node(2), b = open_node(2);
    ASSERT_GE(a, 0);
    uint32_t caps = 0;
    EXPECT_EQ(call(a, USBDEVFS_GET_CAPABILITIES, &caps), DONE);
    EXPECT_TRUE(caps & USBDEVFS_CAP_BULK_SCATTER_GATHER);
    usbdevfs_connectinfo info = {};
    EXPECT_EQ(call(a, USBDEVFS_CONNECTINFO, &info), DONE);
    EXPECT_EQ(info.devnum, 2u);
    EXPECT_EQ(call(a, USBDEVFS_GET_SPEED, nullptr), (Outcome{USB_SPEED_FULL, 0}));

    // The kernel driver holds interface 0 until a claim asks it to let go.
    unsigned zero = 0, one = 1;
    EXPECT_EQ(driver(a), "usbtest");
    EXPECT_EQ(call(a, USBDEVFS_CLAIMINTERFACE, &zero), failed(EBUSY));
    EXPECT_EQ(disconnect_claim(a, USBDEVFS_DISCONNECT_CLAIM_EXCEPT_DRIVER, "usbtest"),
              failed(EBUSY));
    EXPECT_EQ(disconnect_claim(a, USBDEVFS_DISCONNECT_CLAIM_IF_DRIVER, "other"), failed(EBUSY));
    EXPECT_EQ(disconnect_claim(a, USBDEVFS_DISCONNECT_CLAIM_EXCEPT_DRIVER, "usbfs"), DONE);
    EXPECT_EQ(driver(b), "usbfs");
    EXPECT_EQ(call(b, USBDEVFS_CLAIMINTERFACE, &zero), failed(EBUSY));
    EXPECT_EQ(driver_ioctl(a, 0, USBDEVFS_CONNECT), failed(EBUSY));
    EXPECT_EQ(call(a, USBDEVFS_RELEASEINTERFACE, &one), failed(EINVAL));
    EXPECT_EQ(call(b, USBDEVFS_RELEASEINTERFACE, &zero), failed(EINVAL));
    EXPECT_EQ(call(a, USBDEVFS_RELEASEINTERFACE, &zero), DONE);
    EXPECT_EQ(driver_ioctl(a, 0, USBDEVFS_CONNECT), (Outcome{1, 0}));  // given back
    EXPECT_EQ(driver(a), "usbtest");
    EXPECT_EQ(driver_ioctl(a, 0, USBDEVFS_DISCONNECT), DONE);
    EXPECT_EQ(driver(a), "(ENODATA)");
    EXPECT_EQ(driver_ioctl(a, 0, USBDEVFS_DISCONNECT), failed(ENODATA));
    EXPECT_EQ(driver_ioctl(a, 5, USBDEVFS_CONNECT), failed(EINVAL));

    // Endpoint 0: the descriptors as sysfs has them, a stall, a URB and its reaping.
    std::vector<uint8_t> sysfs = sysfs_descriptors();
    ASSERT_GE(sysfs.size(), 18u);
    uint8_t d[64] = {};
    usbdevfs_ctrltransfer get_device = {0x80, 0x06, 0x0100, 0, 18, 1000, d};
    EXPECT_EQ(call(a, USBDEVFS_CONTROL, &get_device), (Outcome{18, 0}));
    EXPECT_EQ(std::vector<uint8_t>(d, d + 18),
              std::vector<uint8_t>(sysfs.begin(), sysfs.begin() + 18));
    usbdevfs_ctrltransfer get_unknown = {0x80, 0x06, 0x0F00, 0, 5, 1000, d};
    EXPECT_EQ(call(a, USBDEVFS_CONTROL, &get_unknown), failed(EPIPE));
    uint8_t setup[8 + 18] = {0x80, 0x06, 0x00, 0x01, 0, 0, 18, 0};
    usbdevfs_urb urb;
    EXPECT_EQ(submit(a, urb, USBDEVFS_URB_TYPE_CONTROL, 0, setup, sizeof setup), DONE);
    expect_reaped(a, urb, 0, 18);
    EXPECT_EQ(std::vector<uint8_t>(setup + 8, setup + 26), std::vector<uint8_t>(d, d + 18));
    void* none = nullptr;
    EXPECT_EQ(call(a, USBDEVFS_REAPURBNDELAY, &none), failed(EAGAIN));
    EXPECT_EQ(submit(a, urb, USBDEVFS_URB_TYPE_BULK, 0x0F, d, 1), failed(ENOENT));
    EXPECT_EQ(call(a, USBDEVFS_DISCARDURB, &urb), failed(EINVAL));
    unsigned no_endpoint = 0x8F;
    EXPECT_EQ(call(a, USBDEVFS_RESETEP, &no_endpoint), failed(ENOENT));
    std::vector<uint8_t> node(sysfs.size() + 8);
    EXPECT_EQ(read(a, node.data(), node.size()), ssize_t(sysfs.size()));  // the node reads as sysfs
    node.resize(sysfs.size());
    EXPECT_EQ(node, sysfs);

    // The firmware takes the adapter off the bus; it comes back under a new number.
    HANDLE link = INVALID_HANDLE_VALUE;
    ASSERT_EQ(connect_adapter(0, &link, firmware_image, "ZEMA", "Z100"), 0);
    close_adapter(&link);
    EXPECT_EQ(call(a, USBDEVFS_GET_CAPABILITIES, &caps), failed(ENODEV));
    EXPECT_EQ(call(a, USBDEVFS_REAPURBNDELAY, &none), failed(ENODEV));
    close(a);
    close(b);
}

TEST(Usbfs, FirmwareEndpointsBulkAndPendingUrbs) {
    int c = open_node(3);
    ASSERT_GE(c, 0);
    EXPECT_EQ(driver(c), "(ENODATA)");  // the kernel driver knows only the bare chip
    uint8_t read_register[2] = {0x03, 0x9D}, reply[64];
    usbdevfs_bulktransfer command = {0x01, 2, 1000, read_register},
                          answer = {0x81, 64, 1000, reply};
    EXPECT_EQ(call(c, USBDEVFS_BULK, &command), (Outcome{2, 0}));
    EXPECT_EQ(call(c, USBDEVFS_BULK, &answer), (Outcome{1, 0}));

    // Nothing to answer: the IN URB stays pending until it is discarded.
    usbdevfs_urb in, out;
    void* none = nullptr;
    EXPECT_EQ(submit(c, in, USBDEVFS_URB_TYPE_INTERRUPT, 0x81, reply, 64), DONE);
    EXPECT_EQ(call(c, USBDEVFS_REAPURBNDELAY, &none), failed(EAGAIN));
    EXPECT_EQ(call(c, USBDEVFS_DISCARDURB, &in), DONE);
    expect_reaped(c, in, -ENOENT, 0);
    EXPECT_EQ(call(c, USBDEVFS_DISCARDURB, &in), failed(EINVAL));

    // A bulk URB on the interrupt endpoint is a single interrupt transfer; SHORT_NOT_OK
    // turns its one-byte reply into -EREMOTEIO.
    EXPECT_EQ(submit(c, out, USBDEVFS_URB_TYPE_INTERRUPT, 0x01, read_register, 2), failed(EINVAL));
    EXPECT_EQ(submit(c, out, USBDEVFS_URB_TYPE_BULK, 0x01, read_register, 2), DONE);
    EXPECT_EQ(submit(c, in, USBDEVFS_URB_TYPE_BULK, 0x81, reply, 64, USBDEVFS_URB_SHORT_NOT_OK),
              DONE);
    expect_reaped(c, out, 0, 2);
    expect_reaped(c, in, -EREMOTEIO, 1);

    unsigned endpoint = 0x81;
    EXPECT_EQ(call(c, USBDEVFS_CLEAR_HALT, &endpoint), DONE);
    usbdevfs_setinterface first = {0, 0}, missing = {0, 1};
    EXPECT_EQ(call(c, USBDEVFS_SETINTERFACE, &first), DONE);
    EXPECT_EQ(call(c, USBDEVFS_SETINTERFACE, &missing), failed(EINVAL));
    close(c);
}

}  // namespace
