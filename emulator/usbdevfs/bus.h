// The emulated adapter on a mocked Linux USB bus, for unmodified programs run with
// umockdev's preload library: its sysfs, udev and /dev/bus/usb show the device, usbdevfs
// requests on its node are answered from the adapter (usbfs.cpp), and every time the
// adapter leaves the bus or comes back the node goes away or a new one, with a new
// device number and its own descriptors, comes in, each announced by a uevent.
//
// The program's waits are real time, the adapter's clock is virtual: whatever wall time
// passes between two requests passes on the adapter too, so a program that sleeps while
// the firmware leaves and rejoins the bus finds it back as on a real bus.
#pragma once

#include "usbdevfs/device.h"
#include "usbdevfs/peer.h"

#include <chrono>
#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <glib.h>

typedef struct _UMockdevTestbed UMockdevTestbed;
struct usbdevfs_urb;

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

// Everything runs on the thread of the default GLib main loop, which must be running for
// programs to get answers.
class Bus {
public:
    // Creates the test bed (setting UMOCKDEV_DIR for the programs started afterwards)
    // and shows the adapter as it is now.
    Bus(emu::Adapter& adapter, const BusOptions& options);
    ~Bus();
    Bus(const Bus&) = delete;
    Bus& operator=(const Bus&) = delete;

    // Every few milliseconds: lets the wall time since the last request pass on the
    // adapter and brings the bus in line with it.
    void tick();

private:
    // A URB that the adapter gave up on (NAKed to its timeout): pending until discarded.
    struct Urb {
        unsigned long address;  // the program's struct usbdevfs_urb
        uint8_t endpoint;
    };
    // One open file of a program on a device node.
    struct Client {
        std::unique_ptr<Peer> peer;
        std::string node;
        unsigned source = 0;
        std::deque<unsigned long> completed;  // URBs to reap, in the order they completed
        std::vector<Urb> pending;
        size_t read_offset = 0;  // reads of the node return the descriptors
        bool waiting = false;    // in REAPURB, answered when the device goes
    };

    // bus.cpp: presence and the node's socket.
    void show();
    void add_device();
    void remove_device();
    static gboolean on_connect(gint socket, GIOCondition, gpointer self);
    static gboolean on_call(gint socket, GIOCondition, gpointer self);
    void forget(Client& client);

    // usbfs.cpp: the calls.
    void answer(Client& client, Peer::Call call, unsigned long first, unsigned long second);
    bool connected(const Client& client) const;
    bool kernel_driver_matches(const Interface& i) const;
    int claim(Client& client, unsigned number);
    int release(Client& client, unsigned number);
    int check_interface(Client& client, unsigned number);
    int check_recipient(Client& client, uint8_t request_type, uint16_t index);
    void cancel(Client& client, int interface_number);
    int transfer(const Endpoint& endpoint, uint8_t* data, int length, bool zero_packet);
    Reply wait_for(unsigned timeout_ms, const std::function<int()>& transfer);
    // The requests; detail gathers what the log shows of them.
    Reply request(Client& client, unsigned long code, unsigned long arg, std::string& detail);
    Reply submit(Client& client, unsigned long arg, std::string& detail);
    Reply submit_control(Client& client, unsigned long arg, const usbdevfs_urb& u,
                         std::string& detail);
    Reply submit_data(Client& client, unsigned long arg, const usbdevfs_urb& u, const Endpoint& ep,
                      std::string& detail);
    Reply complete(Client& client, unsigned long arg, const usbdevfs_urb& u, const uint8_t* data,
                   unsigned long data_address, int wanted, int moved, std::string& detail);
    Reply reap(Client& client, unsigned long arg, bool wait);
    Reply discard(Client& client, unsigned long arg);
    Reply control(Client& client, unsigned long arg);
    Reply bulk(Client& client, unsigned long arg);
    Reply set_interface(Client& client, unsigned long arg);
    Reply endpoint_request(Client& client, unsigned long arg, bool clear_halt);
    Reply driver_request(Client& client, unsigned long code, unsigned long arg,
                         std::string& detail);
    void log(const Client& client, unsigned long code, const Reply& reply,
             const std::string& detail);

    emu::Adapter& adapter_;
    BusOptions options_;
    UMockdevTestbed* testbed_;
    bool shown_ = false;
    Device device_;
    int listener_ = -1;  // the socket of device_'s node
    unsigned listener_source_ = 0;
    std::string listener_path_;
    int next_devnum_ = 2;            // 1 is the root hub's
    uint32_t bare_identity_ = 0;     // the bare chip's vendor:product, for the kernel driver
    std::map<int, Client> clients_;  // by socket
    std::chrono::steady_clock::time_point last_activity_;
};

}  // namespace usbdevfs
