#include "usbdevfs/bus.h"

#include "ezusb/adapter.h"

#include <glib-unix.h>
#include <umockdev.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace usbdevfs {

namespace {

// Stands for a program outside the test bed that holds an interface (--busy).
const char ELSEWHERE = 0;

// A listening Unix socket at path, its folders made first.
int listen_at(const std::string& path) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1))
        mkdir(path.substr(0, slash).c_str(), 0755);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        throw std::runtime_error("socket path too long: " + path);
    std::strcpy(address.sun_path, path.c_str());
    int s = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0 || bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(s, 16) != 0)
        throw std::runtime_error("cannot listen at " + path + ": " + std::strerror(errno));
    return s;
}

}  // namespace

Bus::Bus(emu::Adapter& adapter, const BusOptions& options)
    : adapter_(adapter),
      options_(options),
      testbed_(umockdev_testbed_new()),
      last_activity_(std::chrono::steady_clock::now()) {
    show();
}

Bus::~Bus() {
    while (!clients_.empty()) forget(clients_.begin()->second);
    if (shown_) remove_device();
    g_object_unref(testbed_);  // removes the test bed's folder
}

void Bus::tick() {
    auto now = std::chrono::steady_clock::now();
    adapter_.sleep_ns(uint64_t(
        std::chrono::duration_cast<std::chrono::nanoseconds>(now - last_activity_).count()));
    last_activity_ = now;
    show();
}

// The node follows the adapter: gone when it has left the bus, new when it has come back.
void Bus::show() {
    bool present = adapter_.present();
    if (shown_ && (!present || adapter_.enumeration() != device_.enumeration)) remove_device();
    if (present && !shown_) add_device();
}

// Device numbers go up with every new device and wrap after 127, as the kernel's
// choose_devnum() hands them out (drivers/usb/core/hub.c).
void Bus::add_device() {
    device_ = take_in(adapter_, 1, next_devnum_);
    next_devnum_ = next_devnum_ % 127 + 1;
    if (next_devnum_ == 1) next_devnum_ = 2;
    if (bare_identity_ == 0) bare_identity_ = device_.identity();  // the adapter powers up bare
    if (Interface* first = device_.interface(0)) {
        if (kernel_driver_matches(*first)) first->holder.kernel_driver = options_.kernel_driver;
        if (options_.busy) first->holder.client = &ELSEWHERE;
    }
    GError* error = nullptr;
    if (!umockdev_testbed_add_from_string(testbed_, sysfs_description(device_).c_str(), &error)) {
        std::string message = "adding " + device_.node + " to the test bed: " + error->message;
        g_error_free(error);
        throw std::runtime_error(message);
    }
    gchar* root = umockdev_testbed_get_root_dir(testbed_);
    listener_path_ = std::string(root) + "/ioctl" + device_.node;
    g_free(root);
    listener_ = listen_at(listener_path_);
    listener_source_ = g_unix_fd_add(listener_, G_IO_IN, on_connect, this);
    umockdev_testbed_uevent(testbed_, device_.syspath.c_str(), "add");
    shown_ = true;
    if (options_.log != nullptr)
        std::fprintf(options_.log, "%s add %04x:%04x\n", device_.node.c_str(), device_.vendor_id(),
                     device_.product_id());
}

// The kernel announces the removal, then the node and the sysfs entry go. A program
// blocked in REAPURB on it wakes up with ENODEV; pending URBs are lost.
void Bus::remove_device() {
    umockdev_testbed_uevent(testbed_, device_.syspath.c_str(), "remove");
    g_source_remove(listener_source_);
    close(listener_);
    unlink(listener_path_.c_str());
    umockdev_testbed_remove_device(testbed_, device_.syspath.c_str());
    shown_ = false;
    for (auto& entry : clients_) {
        Client& client = entry.second;
        if (client.node != device_.node) continue;
        client.pending.clear();
        if (client.waiting) client.peer->complete(-1, ENODEV);
        client.waiting = false;
    }
    if (options_.log != nullptr) std::fprintf(options_.log, "%s remove\n", device_.node.c_str());
}

gboolean Bus::on_connect(gint listener, GIOCondition, gpointer self) {
    Bus& bus = *static_cast<Bus*>(self);
    int s = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (s < 0) return G_SOURCE_CONTINUE;
    Client& client = bus.clients_[s];
    client.peer = std::make_unique<Peer>(s);
    client.node = bus.device_.node;
    client.source = g_unix_fd_add(s, G_IO_IN, on_call, self);
    return G_SOURCE_CONTINUE;
}

gboolean Bus::on_call(gint socket, GIOCondition, gpointer self) {
    Bus& bus = *static_cast<Bus*>(self);
    Client& client = bus.clients_.at(socket);
    Peer::Call call;
    unsigned long first, second;
    if (!client.peer->receive(call, first, second)) {
        client.source = 0;  // the source ends with this call
        bus.forget(client);
        return G_SOURCE_REMOVE;
    }
    bus.answer(client, call, first, second);
    bus.last_activity_ = std::chrono::steady_clock::now();
    return G_SOURCE_CONTINUE;
}

// The program closed the node: its claims are given up, its URBs go with it.
void Bus::forget(Client& client) {
    for (Interface& i : device_.interfaces)
        if (i.holder.client == &client) i.holder.client = nullptr;
    if (client.source != 0) g_source_remove(client.source);
    clients_.erase(client.peer->socket());
}

}  // namespace usbdevfs
