#include "usbdevfs/bus.h"

#include "ezusb/adapter.h"

#include <umockdev.h>

#include <cerrno>
#include <stdexcept>

namespace usbdevfs {

namespace {

// Stands for a program outside the test bed that holds an interface (--busy).
const char kElsewhere = 0;

void check(gboolean done, GError* error, const std::string& what) {
    if (done) return;
    std::string message = what + ": " + (error != nullptr ? error->message : "failed");
    if (error != nullptr) g_error_free(error);
    throw std::runtime_error(message);
}

}  // namespace

Bus::Bus(emu::Adapter& adapter, const BusOptions& options)
    : adapter_(adapter), options_(options), testbed_(umockdev_testbed_new()),
      handler_(umockdev_ioctl_base_new()), last_activity_(std::chrono::steady_clock::now()) {
    g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(on_ioctl), this);
    g_signal_connect(handler_, "handle-read", G_CALLBACK(on_read), this);
    g_signal_connect(handler_, "handle-write", G_CALLBACK(on_write), this);
    g_signal_connect(handler_, "client-vanished", G_CALLBACK(on_vanished), this);
    std::lock_guard<std::mutex> lock(mutex_);
    show();
}

Bus::~Bus() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (shown_) remove_device();
        for (auto& entry : clients_) drop_urbs(entry.second);
        clients_.clear();
    }
    g_object_unref(handler_);
    g_object_unref(testbed_);  // removes the test bed's folder
}

void Bus::tick() {
    std::lock_guard<std::mutex> lock(mutex_);
    auto now = std::chrono::steady_clock::now();
    adapter_.sleep_ns(uint64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(now - last_activity_).count()));
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
        if (options_.busy) first->holder.client = &kElsewhere;
    }
    GError* error = nullptr;
    check(umockdev_testbed_add_from_string(testbed_, sysfs_description(device_).c_str(), &error), error,
          "adding " + device_.node + " to the test bed");
    check(umockdev_testbed_attach_ioctl(testbed_, device_.node.c_str(), handler_, &error), error,
          "serving " + device_.node);
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
    GError* error = nullptr;
    umockdev_testbed_detach_ioctl(testbed_, device_.node.c_str(), &error);
    if (error != nullptr) g_error_free(error);
    umockdev_testbed_remove_device(testbed_, device_.syspath.c_str());
    shown_ = false;
    for (UMockdevIoctlClient* handle : waiting_) umockdev_ioctl_client_complete(handle, -1, ENODEV);
    waiting_.clear();
    for (auto& entry : clients_) {
        Client& client = entry.second;
        if (client.node != device_.node) continue;
        for (Urb& urb : client.pending) g_object_unref(urb.held);
        client.pending.clear();
    }
    if (options_.log != nullptr) std::fprintf(options_.log, "%s remove\n", device_.node.c_str());
}

}  // namespace usbdevfs
