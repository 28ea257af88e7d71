// The emulated adapter on a mocked Linux USB bus, for unmodified programs run under
// umockdev-wrapper: umockdev's sysfs, udev and /dev/bus/usb show the device, usbdevfs
// requests on its node are answered from the adapter (usbfs.cpp), and every time the
// adapter leaves the bus or comes back the node goes away or a new one, with a new
// device number and its own descriptors, comes in, each announced by a uevent.
//
// The program's waits are real time, the adapter's clock is virtual: whatever wall time
// passes between two requests passes on the adapter too, so a program that sleeps while
// the firmware leaves and rejoins the bus finds it back as on a real bus.
#pragma once

#include "usbdevfs/device.h"

#include <chrono>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

typedef struct _UMockdevTestbed UMockdevTestbed;
typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;
typedef struct _UMockdevIoctlData UMockdevIoctlData;

namespace emu {
class Adapter;
}

namespace usbdevfs {

struct BusOptions {
    std::string kernel_driver;  // bound to interface 0 of the bare chip; empty: none
    bool busy = false;          // interface 0 of every device is claimed by another program
    std::FILE* log = nullptr;   // one line per usbdevfs request; nullptr: none
};

// The result of a request: the value the program's ioctl returns, or -1 with errno.
struct Reply {
    long value;
    int error;
};

class Bus {
public:
    // Creates the test bed (setting UMOCKDEV_DIR for the programs started afterwards)
    // and shows the adapter as it is now.
    Bus(emu::Adapter& adapter, const BusOptions& options);
    ~Bus();
    Bus(const Bus&) = delete;
    Bus& operator=(const Bus&) = delete;

    // From the main loop, every few milliseconds: lets the wall time since the last
    // request pass on the adapter and brings the bus in line with it.
    void tick();

private:
    // A URB the program has submitted and not reaped yet. Completed at once unless the
    // adapter gave up on it (NAKed to its timeout): it is then pending until discarded,
    // and its memory is held to be written at that time.
    struct Urb {
        unsigned long address;  // the program's struct usbdevfs_urb
        uint8_t endpoint;
        UMockdevIoctlData* held;  // pending ones: their usbdevfs_urb; else nullptr
    };
    // One open file of a program on a device node.
    struct Client {
        std::string node;
        std::deque<Urb> completed;
        std::vector<Urb> pending;
        size_t read_offset = 0;  // reads of the node return the descriptors
    };
    // bus.cpp: presence.
    void show();
    void add_device();
    void remove_device();

    // usbfs.cpp: the requests.
    static int on_ioctl(UMockdevIoctlBase*, UMockdevIoctlClient* handle, void* self);
    static int on_read(UMockdevIoctlBase*, UMockdevIoctlClient* handle, void* self);
    static int on_write(UMockdevIoctlBase*, UMockdevIoctlClient* handle, void* self);
    static void on_vanished(UMockdevIoctlBase*, UMockdevIoctlClient* handle, void* self);
    Client& client(UMockdevIoctlClient* handle);
    void drop_urbs(Client& client);
    bool connected(const Client& client) const;
    bool kernel_driver_matches(const Interface& i) const;
    int claim(Client& client, unsigned number);
    int release(Client& client, unsigned number);
    int check_interface(Client& client, unsigned number);
    int check_recipient(Client& client, uint8_t request_type, uint16_t index);
    void cancel(Client& client, int interface_number);
    int transfer(const Endpoint& endpoint, uint8_t* data, int length, bool zero_packet);
    // The requests; detail gathers what the log shows of them.
    Reply request(UMockdevIoctlClient* handle, Client& client, unsigned long code, std::string& detail);
    Reply submit(UMockdevIoctlData* arg, Client& client, std::string& detail);
    Reply reap(UMockdevIoctlClient* handle, UMockdevIoctlData* arg, Client& client, bool wait);
    Reply discard(UMockdevIoctlData* arg, Client& client);
    Reply control(UMockdevIoctlData* arg, Client& client);
    Reply bulk(UMockdevIoctlData* arg, Client& client);
    Reply set_interface(UMockdevIoctlData* arg, Client& client);
    Reply endpoint_request(UMockdevIoctlData* arg, Client& client, bool clear_halt);
    Reply driver_request(UMockdevIoctlData* arg, Client& client, unsigned long code, std::string& detail);
    void log(const Client& client, unsigned long code, const Reply& reply, const std::string& detail);

    emu::Adapter& adapter_;
    BusOptions options_;
    std::mutex mutex_;
    UMockdevTestbed* testbed_;
    UMockdevIoctlBase* handler_;
    bool shown_ = false;
    Device device_;
    int next_devnum_ = 2;  // 1 is the root hub's
    uint32_t bare_identity_ = 0;  // the bare chip's vendor:product, for the kernel driver
    std::map<UMockdevIoctlClient*, Client> clients_;
    std::vector<UMockdevIoctlClient*> waiting_;  // blocked in REAPURB until the device goes
    std::chrono::steady_clock::time_point last_activity_;
};

}  // namespace usbdevfs
