// The usbdevfs requests on the adapter's device node, answered as the Linux kernel's
// usbfs does (drivers/usb/core/devio.c: the claims, the checks of each request, the URB
// life cycle; include/uapi/linux/usbdevice_fs.h: the records). Transfers go to the
// adapter at once, so a URB can be reaped as soon as it is submitted; one that the
// adapter gave up on (NAKed to its timeout) stays pending until the program discards
// it, as a URB that never completes does on a real bus. URB status codes as
// Documentation/driver-api/usb/error-codes.rst names them: -EPIPE a stall, -ENODEV a
// device that left the bus, -EPROTO a failed transaction, -ENOENT a discarded URB,
// -EREMOTEIO a short IN transfer where SHORT_NOT_OK allowed none.
#include "usbdevfs/bus.h"

#include "ezusb/adapter.h"

#include <umockdev.h>

#include <sys/ioctl.h>
#include <linux/usb/ch9.h>
#include <linux/usbdevice_fs.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <functional>
#include <vector>

namespace usbdevfs {

namespace {

constexpr int kWaiting = -1;  // Reply::error of a request that completes later
constexpr uint32_t kCapabilities = USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                                   USBDEVFS_CAP_BULK_SCATTER_GATHER |
                                   USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
constexpr unsigned kUrbFlags = USBDEVFS_URB_SHORT_NOT_OK | USBDEVFS_URB_BULK_CONTINUATION |
                               USBDEVFS_URB_NO_FSBR | USBDEVFS_URB_ZERO_PACKET |
                               USBDEVFS_URB_NO_INTERRUPT;
constexpr uint16_t kPageSize = 4096;  // the longest data stage USBDEVFS_CONTROL takes
constexpr uint8_t kClearFeature = 0x01, kSetInterface = 0x0B;
const char* const kUsbfs = "usbfs";   // the driver name of a claim through usbdevfs

Reply ok(long value = 0) { return {value, 0}; }
Reply fail(int error) { return {-1, error}; }
Reply result(int r) { return r < 0 ? fail(-r) : ok(r); }

// A piece of the program's memory, copied here; what write() changes goes back to the
// program when the request completes.
struct Unref {
    void operator()(UMockdevIoctlData* d) const { g_object_unref(d); }
};
using Memory = std::unique_ptr<UMockdevIoctlData, Unref>;

Memory resolve(UMockdevIoctlData* parent, size_t offset, size_t length) {
    GError* error = nullptr;
    UMockdevIoctlData* d = umockdev_ioctl_data_resolve(parent, offset, length, &error);
    if (error != nullptr) g_error_free(error);
    return Memory(d);
}

template <class T>
T read(UMockdevIoctlData* d) {
    T value;
    std::memcpy(&value, d->data, sizeof value);
    return value;
}

// Bytes already changed in place (the transfers write straight into the copy) go
// through a second copy: the update copies them over themselves otherwise.
void write(UMockdevIoctlData* d, size_t offset, const void* from, size_t length) {
    std::vector<guint8> bytes(static_cast<const guint8*>(from), static_cast<const guint8*>(from) + length);
    umockdev_ioctl_data_update(d, offset, bytes.data(), int(length));
}

void finish_urb(UMockdevIoctlData* urb, int status, int actual) {
    write(urb, offsetof(usbdevfs_urb, status), &status, sizeof status);
    write(urb, offsetof(usbdevfs_urb, actual_length), &actual, sizeof actual);
}

// The setup packet at the start of a control URB's buffer (little-endian words).
emu::SetupPacket setup_of(const uint8_t* b) {
    return {b[0], b[1], uint16_t(b[2] | b[3] << 8), uint16_t(b[4] | b[5] << 8), uint16_t(b[6] | b[7] << 8)};
}

// USBDEVFS_CONTROL and USBDEVFS_BULK wait for their transfer as long as the record's
// timeout says (0: the adapter's own) and answer the bytes moved; the data stage is at
// the pointer at `offset` of the record.
Reply wait_for(emu::Adapter& adapter, UMockdevIoctlData* record, size_t offset, unsigned length,
               unsigned timeout_ms, bool in, const std::function<int(uint8_t*)>& transfer) {
    Memory data;
    if (length > 0) {
        data = resolve(record, offset, length);
        if (!data) return fail(EFAULT);
    }
    if (timeout_ms) adapter.set_timeout_ns(uint64_t(timeout_ms) * 1000000u);
    int moved = transfer(data ? data->data : nullptr);
    adapter.set_timeout_ns(emu::Adapter::default_timeout_ns);
    if (moved < 0) return fail(-adapter.last_status());
    if (in && moved > 0) write(data.get(), 0, data->data, size_t(moved));
    return ok(moved);
}

}  // namespace

bool Bus::connected(const Client& client) const {
    return shown_ && client.node == device_.node && adapter_.present() &&
           adapter_.enumeration() == device_.enumeration;
}

// claimintf(): an interface is claimed once; a kernel driver or another program's
// claim makes it busy.
int Bus::claim(Client& client, unsigned number) {
    if (number >= 32) return -EINVAL;
    Interface* i = device_.interface(number);
    if (i == nullptr) return -ENOENT;
    if (i->holder.client == &client) return 0;
    if (i->holder.bound()) return -EBUSY;
    i->holder.client = &client;
    return 0;
}

int Bus::release(Client& client, unsigned number) {
    Interface* i = number < 32 ? device_.interface(number) : nullptr;
    if (i == nullptr || i->holder.client != &client) return -EINVAL;
    i->holder.client = nullptr;
    cancel(client, int(number));
    return 0;
}

// checkintf(): a request on an interface the program has not claimed claims it.
int Bus::check_interface(Client& client, unsigned number) {
    Interface* i = number < 32 ? device_.interface(number) : nullptr;
    if (i != nullptr && i->holder.client == &client) return 0;
    return claim(client, number);
}

// check_ctrlrecip(): vendor requests and requests to the device pass; those to an
// interface or an endpoint need that interface.
int Bus::check_recipient(Client& client, uint8_t request_type, uint16_t index) {
    if ((request_type & USB_TYPE_MASK) == USB_TYPE_VENDOR) return 0;
    uint8_t low = uint8_t(index);
    switch (request_type & USB_RECIP_MASK) {
    case USB_RECIP_ENDPOINT: {
        if ((low & 0x7F) == 0) return 0;
        Interface* i = device_.interface_of(low);
        if (i == nullptr) i = device_.interface_of(low ^ 0x80);
        return i == nullptr ? -ENOENT : check_interface(client, i->number);
    }
    case USB_RECIP_INTERFACE: return check_interface(client, low);
    default: return 0;
    }
}

// Pending URBs of an interface (all: -1) end as discarded ones do.
void Bus::cancel(Client& client, int number) {
    for (size_t k = 0; k < client.pending.size();) {
        Urb& urb = client.pending[k];
        Interface* i = device_.interface_of(urb.endpoint);
        if (number >= 0 && (i == nullptr || i->number != number)) {
            ++k;
            continue;
        }
        finish_urb(urb.held, -ENOENT, 0);
        client.completed.push_back(urb);
        client.pending.erase(client.pending.begin() + long(k));
    }
}

int Bus::transfer(const Endpoint& endpoint, uint8_t* data, int length, bool zero_packet) {
    if (endpoint.address & USB_DIR_IN) return adapter_.bulk_in(endpoint.address, data, length);
    int sent = adapter_.bulk_out(endpoint.address, data, length);
    if (sent > 0 && zero_packet && endpoint.max_packet && sent % endpoint.max_packet == 0 &&
        adapter_.bulk_out(endpoint.address, nullptr, 0) < 0) {
        return -1;
    }
    return sent;
}

Reply Bus::submit(UMockdevIoctlData* arg, Client& client, std::string& detail) {
    Memory urb = resolve(arg, 0, sizeof(usbdevfs_urb));
    if (!urb) return fail(EFAULT);
    usbdevfs_urb u = read<usbdevfs_urb>(urb.get());
    bool control = u.type == USBDEVFS_URB_TYPE_CONTROL;
    char text[96];
    std::snprintf(text, sizeof text, "type %u ep 0x%02x length %d", u.type, u.endpoint, u.buffer_length);
    detail = text;
    if ((u.flags & ~kUrbFlags) != 0 || u.buffer_length < 0 || (u.buffer_length > 0 && u.buffer == nullptr))
        return fail(EINVAL);
    if (u.signr != 0) return fail(EINVAL);  // no completion signals are sent
    if (!control || (u.endpoint & 0x7F) != 0) {
        Interface* i = device_.interface_of(u.endpoint);
        if (i == nullptr) return fail(ENOENT);
        int r = check_interface(client, i->number);
        if (r != 0) return result(r);
    }
    Endpoint ep;
    if (!device_.endpoint(u.endpoint, ep)) return fail(ENOENT);
    unsigned type = ep.attributes & USB_ENDPOINT_XFERTYPE_MASK;
    if (control ? type != USB_ENDPOINT_XFER_CONTROL || u.buffer_length < 8
                : u.type == USBDEVFS_URB_TYPE_BULK
                      ? type != USB_ENDPOINT_XFER_BULK && type != USB_ENDPOINT_XFER_INT
                      : u.type != USBDEVFS_URB_TYPE_INTERRUPT || type != USB_ENDPOINT_XFER_INT) {
        return fail(EINVAL);  // isochronous transfers are not emulated
    }
    Memory buffer;
    uint8_t* bytes = nullptr;
    if (u.buffer_length > 0) {
        buffer = resolve(urb.get(), offsetof(usbdevfs_urb, buffer), size_t(u.buffer_length));
        if (!buffer) return fail(EFAULT);
        bytes = buffer->data;
    }
    bool in = (u.endpoint & USB_DIR_IN) != 0;
    int wanted = u.buffer_length, moved;
    if (control) {
        emu::SetupPacket setup = setup_of(bytes);
        if (setup.length + 8 > u.buffer_length) return fail(EINVAL);
        int r = check_recipient(client, setup.request_type, setup.index);
        if (r != 0) return result(r);
        in = (setup.request_type & USB_DIR_IN) != 0 && setup.length > 0;
        wanted = setup.length;
        moved = adapter_.control(setup, bytes + 8);
    } else {
        moved = transfer(ep, bytes, u.buffer_length, (u.flags & USBDEVFS_URB_ZERO_PACKET) != 0);
    }
    int status = adapter_.last_status();
    if (status == -ETIMEDOUT) {
        client.pending.push_back({urb->client_addr, u.endpoint, urb.release()});
        detail += ", pending";
        return ok();
    }
    if (moved >= 0 && in && (u.flags & USBDEVFS_URB_SHORT_NOT_OK) && moved < wanted) status = -EREMOTEIO;
    int actual = moved < 0 ? 0 : moved;
    if (in && actual > 0) write(buffer.get(), control ? 8 : 0, bytes + (control ? 8 : 0), size_t(actual));
    finish_urb(urb.get(), status, actual);
    client.completed.push_back({urb->client_addr, u.endpoint, nullptr});
    std::snprintf(text, sizeof text, ", status %d, actual %d", status, actual);
    detail += text;
    return ok();
}

Reply Bus::reap(UMockdevIoctlClient* handle, UMockdevIoctlData* arg, Client& client, bool wait) {
    if (!client.completed.empty()) {
        Memory slot = resolve(arg, 0, sizeof(void*));
        if (!slot) return fail(EFAULT);
        Urb urb = client.completed.front();
        client.completed.pop_front();
        if (urb.held != nullptr) {
            umockdev_ioctl_data_set_ptr(slot.get(), 0, urb.held);
            g_object_unref(urb.held);
        } else {
            write(slot.get(), 0, &urb.address, sizeof(void*));
        }
        return ok();
    }
    if (!connected(client)) return fail(ENODEV);
    if (!wait) return fail(EAGAIN);
    waiting_.push_back(handle);  // nothing will complete before the device leaves
    return fail(kWaiting);
}

Reply Bus::discard(UMockdevIoctlData* arg, Client& client) {
    unsigned long address = read<unsigned long>(arg);
    for (size_t k = 0; k < client.pending.size(); ++k) {
        Urb urb = client.pending[k];
        if (urb.address != address) continue;
        finish_urb(urb.held, -ENOENT, 0);
        client.pending.erase(client.pending.begin() + long(k));
        client.completed.push_back(urb);
        return ok();
    }
    return fail(EINVAL);
}

Reply Bus::control(UMockdevIoctlData* arg, Client& client) {
    Memory record = resolve(arg, 0, sizeof(usbdevfs_ctrltransfer));
    if (!record) return fail(EFAULT);
    usbdevfs_ctrltransfer c = read<usbdevfs_ctrltransfer>(record.get());
    int r = check_recipient(client, c.bRequestType, c.wIndex);
    if (r != 0) return result(r);
    if (c.wLength > kPageSize) return fail(EINVAL);
    return wait_for(adapter_, record.get(), offsetof(usbdevfs_ctrltransfer, data), c.wLength, c.timeout,
                    (c.bRequestType & USB_DIR_IN) != 0, [&](uint8_t* data) {
                        return adapter_.control({c.bRequestType, c.bRequest, c.wValue, c.wIndex, c.wLength},
                                                data);
                    });
}

Reply Bus::bulk(UMockdevIoctlData* arg, Client& client) {
    Memory record = resolve(arg, 0, sizeof(usbdevfs_bulktransfer));
    if (!record) return fail(EFAULT);
    usbdevfs_bulktransfer b = read<usbdevfs_bulktransfer>(record.get());
    if (b.ep & ~(USB_DIR_IN | 0x0Fu)) return fail(EINVAL);
    Interface* i = device_.interface_of(uint8_t(b.ep));
    if (i == nullptr) return fail(ENOENT);
    int r = check_interface(client, i->number);
    if (r != 0) return result(r);
    Endpoint ep;
    if (!device_.endpoint(uint8_t(b.ep), ep) || ep.max_packet == 0 || b.len > 0x7FFFFFFFu)
        return fail(EINVAL);
    return wait_for(adapter_, record.get(), offsetof(usbdevfs_bulktransfer, data), b.len, b.timeout,
                    (b.ep & USB_DIR_IN) != 0,
                    [&](uint8_t* data) { return transfer(ep, data, int(b.len), false); });
}

// usb_set_interface(): the device is asked; an interface with one setting may stall
// the request.
Reply Bus::set_interface(UMockdevIoctlData* arg, Client& client) {
    Memory record = resolve(arg, 0, sizeof(usbdevfs_setinterface));
    if (!record) return fail(EFAULT);
    usbdevfs_setinterface s = read<usbdevfs_setinterface>(record.get());
    int r = check_interface(client, s.interface);
    if (r != 0) return result(r);
    cancel(client, int(s.interface));
    Interface* i = device_.interface(s.interface);
    bool known = false;
    for (const AltSetting& alt : i->alts) known = known || alt.number == s.altsetting;
    if (!known || s.altsetting > 0xFF) return fail(EINVAL);
    if (adapter_.control({USB_RECIP_INTERFACE, kSetInterface, uint16_t(s.altsetting), uint16_t(s.interface), 0},
                         nullptr) < 0 &&
        !(adapter_.last_status() == -EPIPE && i->alts.size() == 1)) {
        return fail(-adapter_.last_status());
    }
    i->current_alt = uint8_t(s.altsetting);
    return ok();
}

// USBDEVFS_CLEAR_HALT asks the device (CLEAR_FEATURE ENDPOINT_HALT); USBDEVFS_RESETEP
// only resets the host's data toggle.
Reply Bus::endpoint_request(UMockdevIoctlData* arg, Client& client, bool clear_halt) {
    Memory record = resolve(arg, 0, sizeof(unsigned));
    if (!record) return fail(EFAULT);
    unsigned address = read<unsigned>(record.get());
    if (address & ~(USB_DIR_IN | 0x0Fu)) return fail(EINVAL);
    Interface* i = device_.interface_of(uint8_t(address));
    if (i == nullptr) return fail(ENOENT);
    int r = check_interface(client, i->number);
    if (r != 0 || !clear_halt) return result(r);
    if (adapter_.control({USB_RECIP_ENDPOINT, kClearFeature, USB_ENDPOINT_HALT, uint16_t(address), 0}, nullptr) < 0)
        return fail(-adapter_.last_status());
    return ok();
}

// GETDRIVER, IOCTL (a kernel driver let go of an interface or bound to it again) and
// DISCONNECT_CLAIM. The kernel driver of the test bed binds only to the bare chip.
Reply Bus::driver_request(UMockdevIoctlData* arg, Client& client, unsigned long code, std::string& detail) {
    if (code == USBDEVFS_GETDRIVER) {
        Memory record = resolve(arg, 0, sizeof(usbdevfs_getdriver));
        if (!record) return fail(EFAULT);
        Interface* i = device_.interface(read<usbdevfs_getdriver>(record.get()).interface);
        if (i == nullptr || !i->holder.bound()) return fail(ENODATA);
        char name[USBDEVFS_MAXDRIVERNAME + 1] = {};
        std::strncpy(name, i->holder.driver_name().c_str(), USBDEVFS_MAXDRIVERNAME);
        write(record.get(), offsetof(usbdevfs_getdriver, driver), name, sizeof name);
        return ok();
    }
    if (code == USBDEVFS_IOCTL) {
        Memory record = resolve(arg, 0, sizeof(usbdevfs_ioctl));
        if (!record) return fail(EFAULT);
        usbdevfs_ioctl c = read<usbdevfs_ioctl>(record.get());
        Interface* i = c.ifno >= 0 ? device_.interface(unsigned(c.ifno)) : nullptr;
        if (i == nullptr) return fail(EINVAL);
        detail = std::to_string(c.ifno);
        if (c.ioctl_code == int(USBDEVFS_DISCONNECT)) {
            detail += " DISCONNECT";
            if (!i->holder.bound()) return fail(ENODATA);
            detail += " (" + i->holder.driver_name() + " let go)";
            i->holder = Holder{};
            return ok();
        }
        if (c.ioctl_code != int(USBDEVFS_CONNECT)) return fail(ENOTTY);
        detail += " CONNECT";
        if (i->holder.bound()) return fail(EBUSY);
        if (!kernel_driver_matches(*i)) return ok(0);
        i->holder.kernel_driver = options_.kernel_driver;
        detail += " (" + options_.kernel_driver + " bound)";
        return ok(1);
    }
    Memory record = resolve(arg, 0, sizeof(usbdevfs_disconnect_claim));
    if (!record) return fail(EFAULT);
    usbdevfs_disconnect_claim d = read<usbdevfs_disconnect_claim>(record.get());
    d.driver[USBDEVFS_MAXDRIVERNAME] = '\0';
    detail = std::to_string(d.interface) + " flags " + std::to_string(d.flags) + " " + d.driver;
    Interface* i = device_.interface(d.interface);
    if (i == nullptr) return fail(EINVAL);
    if (i->holder.bound()) {
        bool same = i->holder.driver_name() == d.driver;
        if ((d.flags & USBDEVFS_DISCONNECT_CLAIM_IF_DRIVER) && !same) return fail(EBUSY);
        if ((d.flags & USBDEVFS_DISCONNECT_CLAIM_EXCEPT_DRIVER) && same) return fail(EBUSY);
        detail += " (" + i->holder.driver_name() + " let go)";
        i->holder = Holder{};
    }
    return result(claim(client, d.interface));
}

Reply Bus::request(UMockdevIoctlClient* handle, Client& client, unsigned long code, std::string& detail) {
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(handle);
    // Completed URBs can be reaped after the device has gone; nothing else can be done.
    if (code == USBDEVFS_REAPURB || code == USBDEVFS_REAPURBNDELAY)
        return reap(handle, arg, client, code == USBDEVFS_REAPURB);
    if (!connected(client)) return fail(ENODEV);
    switch (code) {
    case USBDEVFS_GET_CAPABILITIES: {
        Memory caps = resolve(arg, 0, sizeof kCapabilities);
        if (!caps) return fail(EFAULT);
        write(caps.get(), 0, &kCapabilities, sizeof kCapabilities);
        return ok();
    }
    case USBDEVFS_CLAIMINTERFACE:
    case USBDEVFS_RELEASEINTERFACE: {
        Memory number = resolve(arg, 0, sizeof(unsigned));
        if (!number) return fail(EFAULT);
        unsigned n = read<unsigned>(number.get());
        detail = std::to_string(n);
        return result(code == USBDEVFS_CLAIMINTERFACE ? claim(client, n) : release(client, n));
    }
    case USBDEVFS_CONNECTINFO: {
        Memory info = resolve(arg, 0, sizeof(usbdevfs_connectinfo));
        if (!info) return fail(EFAULT);
        usbdevfs_connectinfo c = {};
        c.devnum = unsigned(device_.devnum);
        c.slow = 0;  // full speed
        write(info.get(), 0, &c, sizeof c);
        return ok();
    }
    case USBDEVFS_GET_SPEED: return ok(USB_SPEED_FULL);
    case USBDEVFS_GETDRIVER:
    case USBDEVFS_IOCTL:
    case USBDEVFS_DISCONNECT_CLAIM: return driver_request(arg, client, code, detail);
    case USBDEVFS_SETINTERFACE: return set_interface(arg, client);
    case USBDEVFS_CLEAR_HALT:
    case USBDEVFS_RESETEP: return endpoint_request(arg, client, code == USBDEVFS_CLEAR_HALT);
    case USBDEVFS_CONTROL: return control(arg, client);
    case USBDEVFS_BULK: return bulk(arg, client);
    case USBDEVFS_SUBMITURB: return submit(arg, client, detail);
    case USBDEVFS_DISCARDURB: return discard(arg, client);
    default: return fail(ENOTTY);
    }
}

int Bus::on_ioctl(UMockdevIoctlBase*, UMockdevIoctlClient* handle, void* self) {
    Bus& bus = *static_cast<Bus*>(self);
    std::lock_guard<std::mutex> lock(bus.mutex_);
    Client& client = bus.client(handle);
    unsigned long code = umockdev_ioctl_client_get_request(handle);
    std::string detail;
    Reply reply = bus.request(handle, client, code, detail);
    bus.last_activity_ = std::chrono::steady_clock::now();
    if (bus.options_.log != nullptr) bus.log(client, code, reply, detail);
    if (reply.error != kWaiting) umockdev_ioctl_client_complete(handle, reply.value, reply.error);
    return TRUE;
}

// Reading the node gives the descriptors, from where the last read stopped.
int Bus::on_read(UMockdevIoctlBase*, UMockdevIoctlClient* handle, void* self) {
    Bus& bus = *static_cast<Bus*>(self);
    std::lock_guard<std::mutex> lock(bus.mutex_);
    Client& client = bus.client(handle);
    if (!bus.connected(client)) {
        umockdev_ioctl_client_complete(handle, -1, ENODEV);
        return TRUE;
    }
    UMockdevIoctlData* buffer = umockdev_ioctl_client_get_arg(handle);
    const std::vector<uint8_t>& d = bus.device_.descriptors;
    size_t n = std::min(size_t(buffer->data_len), d.size() - std::min(d.size(), client.read_offset));
    if (n > 0) write(buffer, 0, d.data() + client.read_offset, n);
    client.read_offset += n;
    umockdev_ioctl_client_complete(handle, long(n), 0);
    return TRUE;
}

int Bus::on_write(UMockdevIoctlBase*, UMockdevIoctlClient* handle, void*) {
    umockdev_ioctl_client_complete(handle, -1, EINVAL);  // usbfs nodes take no writes
    return TRUE;
}

// Closing the node gives up the program's claims; its URBs go with it.
void Bus::on_vanished(UMockdevIoctlBase*, UMockdevIoctlClient* handle, void* self) {
    Bus& bus = *static_cast<Bus*>(self);
    std::lock_guard<std::mutex> lock(bus.mutex_);
    auto found = bus.clients_.find(handle);
    if (found == bus.clients_.end()) return;
    Client& client = found->second;
    for (Interface& i : bus.device_.interfaces)
        if (i.holder.client == &client) i.holder.client = nullptr;
    bus.drop_urbs(client);
    bus.clients_.erase(found);
}

Bus::Client& Bus::client(UMockdevIoctlClient* handle) {
    Client& client = clients_[handle];
    if (client.node.empty()) client.node = umockdev_ioctl_client_get_devnode(handle);
    return client;
}

void Bus::drop_urbs(Client& client) {
    for (Urb& urb : client.pending) g_object_unref(urb.held);
    for (Urb& urb : client.completed)
        if (urb.held != nullptr) g_object_unref(urb.held);
    client.pending.clear();
    client.completed.clear();
}

bool Bus::kernel_driver_matches(const Interface& i) const {
    return !options_.kernel_driver.empty() && i.number == 0 && device_.identity() == bare_identity_;
}

void Bus::log(const Client& client, unsigned long code, const Reply& reply, const std::string& detail) {
    const char* name = "unknown request";
    switch (code) {
    case USBDEVFS_CONTROL: name = "CONTROL"; break;
    case USBDEVFS_BULK: name = "BULK"; break;
    case USBDEVFS_RESETEP: name = "RESETEP"; break;
    case USBDEVFS_SETINTERFACE: name = "SETINTERFACE"; break;
    case USBDEVFS_GETDRIVER: name = "GETDRIVER"; break;
    case USBDEVFS_SUBMITURB: name = "SUBMITURB"; break;
    case USBDEVFS_DISCARDURB: name = "DISCARDURB"; break;
    case USBDEVFS_REAPURB: name = "REAPURB"; break;
    case USBDEVFS_REAPURBNDELAY: name = "REAPURBNDELAY"; break;
    case USBDEVFS_CLAIMINTERFACE: name = "CLAIMINTERFACE"; break;
    case USBDEVFS_RELEASEINTERFACE: name = "RELEASEINTERFACE"; break;
    case USBDEVFS_CONNECTINFO: name = "CONNECTINFO"; break;
    case USBDEVFS_IOCTL: name = "IOCTL"; break;
    case USBDEVFS_CLEAR_HALT: name = "CLEAR_HALT"; break;
    case USBDEVFS_GET_CAPABILITIES: name = "GET_CAPABILITIES"; break;
    case USBDEVFS_DISCONNECT_CLAIM: name = "DISCONNECT_CLAIM"; break;
    case USBDEVFS_GET_SPEED: name = "GET_SPEED"; break;
    default: break;
    }
    std::fprintf(options_.log, "%s %s%s%s = ", client.node.c_str(), name, detail.empty() ? "" : " ",
                 detail.c_str());
    if (reply.error == kWaiting) std::fprintf(options_.log, "waiting\n");
    else if (reply.error != 0) std::fprintf(options_.log, "-1 %s\n", strerrorname_np(reply.error));
    else std::fprintf(options_.log, "%ld\n", reply.value);
}

}  // namespace usbdevfs
