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

#include <linux/usb/ch9.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <vector>

namespace usbdevfs {

namespace {

constexpr uint32_t CAPABILITIES = USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                                  USBDEVFS_CAP_BULK_SCATTER_GATHER |
                                  USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
constexpr unsigned URB_FLAGS = USBDEVFS_URB_SHORT_NOT_OK | USBDEVFS_URB_BULK_CONTINUATION |
                               USBDEVFS_URB_NO_FSBR | USBDEVFS_URB_ZERO_PACKET |
                               USBDEVFS_URB_NO_INTERRUPT;
constexpr uint16_t CONTROL_DATA_MAX = 4096;  // the longest data stage USBDEVFS_CONTROL takes
constexpr uint8_t CLEAR_FEATURE = 0x01, SET_INTERFACE = 0x0B;
constexpr int WAITING = -1;  // Reply::error of a call answered later

Reply ok(long value = 0) { return {value, 0}; }
Reply fail(int error) { return {-1, error}; }
Reply result(int r) { return r < 0 ? fail(-r) : ok(r); }

unsigned long address_of(const void* pointer) { return reinterpret_cast<unsigned long>(pointer); }

void finish_urb(Peer& peer, unsigned long urb, int status, int actual) {
    peer.write(urb + offsetof(usbdevfs_urb, status), status);
    peer.write(urb + offsetof(usbdevfs_urb, actual_length), actual);
}

// The setup packet at the start of a control URB's buffer (little-endian words).
emu::SetupPacket setup_of(const uint8_t* b) {
    return {b[0], b[1], uint16_t(b[2] | b[3] << 8), uint16_t(b[4] | b[5] << 8),
            uint16_t(b[6] | b[7] << 8)};
}

const char* request_name(unsigned long code) {
    switch (code) {
    case USBDEVFS_CONTROL: return "CONTROL";
    case USBDEVFS_BULK: return "BULK";
    case USBDEVFS_RESETEP: return "RESETEP";
    case USBDEVFS_SETINTERFACE: return "SETINTERFACE";
    case USBDEVFS_GETDRIVER: return "GETDRIVER";
    case USBDEVFS_SUBMITURB: return "SUBMITURB";
    case USBDEVFS_DISCARDURB: return "DISCARDURB";
    case USBDEVFS_REAPURB: return "REAPURB";
    case USBDEVFS_REAPURBNDELAY: return "REAPURBNDELAY";
    case USBDEVFS_CLAIMINTERFACE: return "CLAIMINTERFACE";
    case USBDEVFS_RELEASEINTERFACE: return "RELEASEINTERFACE";
    case USBDEVFS_CONNECTINFO: return "CONNECTINFO";
    case USBDEVFS_IOCTL: return "IOCTL";
    case USBDEVFS_CLEAR_HALT: return "CLEAR_HALT";
    case USBDEVFS_GET_CAPABILITIES: return "GET_CAPABILITIES";
    case USBDEVFS_DISCONNECT_CLAIM: return "DISCONNECT_CLAIM";
    case USBDEVFS_GET_SPEED: return "GET_SPEED";
    default: return "unknown request";
    }
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

// Pending URBs of an interface end as discarded ones do.
void Bus::cancel(Client& client, int number) {
    for (size_t k = 0; k < client.pending.size();) {
        Interface* i = device_.interface_of(client.pending[k].endpoint);
        if (i == nullptr || i->number != number) {
            ++k;
            continue;
        }
        finish_urb(*client.peer, client.pending[k].address, -ENOENT, 0);
        client.completed.push_back(client.pending[k].address);
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

// proc_do_submiturb(): the checks that every URB passes, then those of its transfer
// type, each type with its own way to the adapter.
Reply Bus::submit(Client& client, unsigned long arg, std::string& detail) {
    usbdevfs_urb u;
    if (!client.peer->read(arg, u)) return fail(EFAULT);
    char text[96];
    std::snprintf(text, sizeof text, "type %u ep 0x%02x length %d", u.type, u.endpoint,
                  u.buffer_length);
    detail = text;
    if ((u.flags & ~URB_FLAGS) != 0 || u.buffer_length < 0 ||
        (u.buffer_length > 0 && u.buffer == nullptr))
        return fail(EINVAL);
    if (u.signr != 0) return fail(EINVAL);  // no completion signals are sent
    if (u.type != USBDEVFS_URB_TYPE_CONTROL || (u.endpoint & 0x7F) != 0) {
        Interface* i = device_.interface_of(u.endpoint);
        if (i == nullptr) return fail(ENOENT);
        int r = check_interface(client, i->number);
        if (r != 0) return result(r);
    }
    Endpoint ep;
    if (!device_.endpoint(u.endpoint, ep)) return fail(ENOENT);
    unsigned type = ep.attributes & USB_ENDPOINT_XFERTYPE_MASK;
    switch (u.type) {
    case USBDEVFS_URB_TYPE_CONTROL:
        if (type != USB_ENDPOINT_XFER_CONTROL) return fail(EINVAL);
        return submit_control(client, arg, u, detail);
    case USBDEVFS_URB_TYPE_BULK:
        // A bulk URB on an interrupt endpoint goes as an interrupt URB.
        if (type != USB_ENDPOINT_XFER_BULK && type != USB_ENDPOINT_XFER_INT) return fail(EINVAL);
        return submit_data(client, arg, u, ep, detail);
    case USBDEVFS_URB_TYPE_INTERRUPT:
        if (type != USB_ENDPOINT_XFER_INT) return fail(EINVAL);
        return submit_data(client, arg, u, ep, detail);
    default: return fail(EINVAL);  // isochronous transfers are not emulated
    }
}

// A control URB: the setup packet at the start of its buffer names the recipient, the
// direction and the length of the data stage that follows it there.
Reply Bus::submit_control(Client& client, unsigned long arg, const usbdevfs_urb& u,
                          std::string& detail) {
    if (u.buffer_length < 8) return fail(EINVAL);
    Peer& peer = *client.peer;
    std::vector<uint8_t> bytes(size_t(u.buffer_length));
    unsigned long buffer = address_of(u.buffer);
    if (!peer.read(buffer, bytes.data(), 8)) return fail(EFAULT);
    emu::SetupPacket setup = setup_of(bytes.data());
    if (setup.length + 8 > u.buffer_length) return fail(EINVAL);
    int r = check_recipient(client, setup.request_type, setup.index);
    if (r != 0) return result(r);
    bool in = (setup.request_type & USB_DIR_IN) != 0 && setup.length > 0;
    if (!in && !peer.read(buffer + 8, bytes.data() + 8, setup.length)) return fail(EFAULT);
    int moved = adapter_.control(setup, bytes.data() + 8);
    return complete(client, arg, u, in ? bytes.data() + 8 : nullptr, buffer + 8, setup.length,
                    moved, detail);
}

// A bulk or interrupt URB: its whole buffer is the data, its endpoint the direction.
Reply Bus::submit_data(Client& client, unsigned long arg, const usbdevfs_urb& u, const Endpoint& ep,
                       std::string& detail) {
    std::vector<uint8_t> bytes(size_t(u.buffer_length));
    unsigned long buffer = address_of(u.buffer);
    bool in = (u.endpoint & USB_DIR_IN) != 0;
    if (!in && !client.peer->read(buffer, bytes.data(), bytes.size())) return fail(EFAULT);
    int moved =
        transfer(ep, bytes.data(), u.buffer_length, (u.flags & USBDEVFS_URB_ZERO_PACKET) != 0);
    return complete(client, arg, u, in ? bytes.data() : nullptr, buffer, u.buffer_length, moved,
                    detail);
}

// The end of a submitted URB: pending when the adapter gave up on it, otherwise
// completed with its status and, for one that came in (data not null), its bytes copied
// to the program's buffer at data_address.
Reply Bus::complete(Client& client, unsigned long arg, const usbdevfs_urb& u, const uint8_t* data,
                    unsigned long data_address, int wanted, int moved, std::string& detail) {
    int status = adapter_.last_status();
    if (status == -ETIMEDOUT) {
        client.pending.push_back({arg, u.endpoint});
        detail += ", pending";
        return ok();
    }
    if (moved >= 0 && data != nullptr && (u.flags & USBDEVFS_URB_SHORT_NOT_OK) && moved < wanted)
        status = -EREMOTEIO;
    int actual = moved < 0 ? 0 : moved;
    if (data != nullptr) client.peer->write(data_address, data, size_t(actual));
    finish_urb(*client.peer, arg, status, actual);
    client.completed.push_back(arg);
    char text[64];
    std::snprintf(text, sizeof text, ", status %d, actual %d", status, actual);
    detail += text;
    return ok();
}

Reply Bus::reap(Client& client, unsigned long arg, bool wait) {
    if (!client.completed.empty()) {
        client.peer->write(arg, client.completed.front());
        client.completed.pop_front();
        return ok();
    }
    if (!connected(client)) return fail(ENODEV);
    if (!wait) return fail(EAGAIN);
    client.waiting = true;  // nothing will complete before the device leaves
    return fail(WAITING);
}

Reply Bus::discard(Client& client, unsigned long arg) {
    for (size_t k = 0; k < client.pending.size(); ++k) {
        if (client.pending[k].address != arg) continue;
        finish_urb(*client.peer, arg, -ENOENT, 0);
        client.pending.erase(client.pending.begin() + long(k));
        client.completed.push_back(arg);
        return ok();
    }
    return fail(EINVAL);
}

// USBDEVFS_CONTROL and USBDEVFS_BULK wait for their transfer as long as the record's
// timeout says (0: the adapter's own) and answer the bytes moved.
Reply Bus::wait_for(unsigned timeout_ms, const std::function<int()>& transfer) {
    if (timeout_ms) adapter_.set_timeout_ns(uint64_t(timeout_ms) * 1000000u);
    int moved = transfer();
    adapter_.set_timeout_ns(emu::Adapter::DEFAULT_TIMEOUT_NS);
    return moved < 0 ? fail(-adapter_.last_status()) : ok(moved);
}

Reply Bus::control(Client& client, unsigned long arg) {
    usbdevfs_ctrltransfer c;
    if (!client.peer->read(arg, c)) return fail(EFAULT);
    int r = check_recipient(client, c.bRequestType, c.wIndex);
    if (r != 0) return result(r);
    if (c.wLength > CONTROL_DATA_MAX) return fail(EINVAL);
    std::vector<uint8_t> data(c.wLength);
    bool in = (c.bRequestType & USB_DIR_IN) != 0;
    if (!in && !client.peer->read(address_of(c.data), data.data(), data.size()))
        return fail(EFAULT);
    Reply reply = wait_for(c.timeout, [&] {
        return adapter_.control({c.bRequestType, c.bRequest, c.wValue, c.wIndex, c.wLength},
                                data.data());
    });
    if (in && reply.value > 0)
        client.peer->write(address_of(c.data), data.data(), size_t(reply.value));
    return reply;
}

Reply Bus::bulk(Client& client, unsigned long arg) {
    usbdevfs_bulktransfer b;
    if (!client.peer->read(arg, b)) return fail(EFAULT);
    if (b.ep & ~(USB_DIR_IN | 0x0Fu)) return fail(EINVAL);
    Interface* i = device_.interface_of(uint8_t(b.ep));
    if (i == nullptr) return fail(ENOENT);
    int r = check_interface(client, i->number);
    if (r != 0) return result(r);
    Endpoint ep;
    if (!device_.endpoint(uint8_t(b.ep), ep) || ep.max_packet == 0 || b.len > 0x7FFFFFFFu)
        return fail(EINVAL);
    std::vector<uint8_t> data(b.len);
    bool in = (b.ep & USB_DIR_IN) != 0;
    if (!in && !client.peer->read(address_of(b.data), data.data(), data.size()))
        return fail(EFAULT);
    Reply reply = wait_for(b.timeout, [&] { return transfer(ep, data.data(), int(b.len), false); });
    if (in && reply.value > 0)
        client.peer->write(address_of(b.data), data.data(), size_t(reply.value));
    return reply;
}

// usb_set_interface(): the device is asked; an interface with one setting may stall
// the request.
Reply Bus::set_interface(Client& client, unsigned long arg) {
    usbdevfs_setinterface s;
    if (!client.peer->read(arg, s)) return fail(EFAULT);
    int r = check_interface(client, s.interface);
    if (r != 0) return result(r);
    cancel(client, int(s.interface));
    Interface* i = device_.interface(s.interface);
    bool known = false;
    for (const AltSetting& alt : i->alts) known = known || alt.number == s.altsetting;
    if (!known || s.altsetting > 0xFF) return fail(EINVAL);
    if (adapter_.control(
            {USB_RECIP_INTERFACE, SET_INTERFACE, uint16_t(s.altsetting), uint16_t(s.interface), 0},
            nullptr) < 0 &&
        !(adapter_.last_status() == -EPIPE && i->alts.size() == 1)) {
        return fail(-adapter_.last_status());
    }
    i->current_alt = uint8_t(s.altsetting);
    return ok();
}

// USBDEVFS_CLEAR_HALT asks the device (CLEAR_FEATURE ENDPOINT_HALT); USBDEVFS_RESETEP
// only resets the host's data toggle.
Reply Bus::endpoint_request(Client& client, unsigned long arg, bool clear_halt) {
    unsigned address;
    if (!client.peer->read(arg, address)) return fail(EFAULT);
    if (address & ~(USB_DIR_IN | 0x0Fu)) return fail(EINVAL);
    Interface* i = device_.interface_of(uint8_t(address));
    if (i == nullptr) return fail(ENOENT);
    int r = check_interface(client, i->number);
    if (r != 0 || !clear_halt) return result(r);
    if (adapter_.control(
            {USB_RECIP_ENDPOINT, CLEAR_FEATURE, USB_ENDPOINT_HALT, uint16_t(address), 0}, nullptr) <
        0)
        return fail(-adapter_.last_status());
    return ok();
}

// GETDRIVER, IOCTL (a kernel driver let go of an interface or bound to it again) and
// DISCONNECT_CLAIM. The kernel driver of the test bed binds only to the bare chip.
Reply Bus::driver_request(Client& client, unsigned long code, unsigned long arg,
                          std::string& detail) {
    Peer& peer = *client.peer;
    if (code == USBDEVFS_GETDRIVER) {
        unsigned number;
        if (!peer.read(arg, number)) return fail(EFAULT);
        Interface* i = device_.interface(number);
        if (i == nullptr || !i->holder.bound()) return fail(ENODATA);
        char name[USBDEVFS_MAXDRIVERNAME + 1] = {};
        std::strncpy(name, i->holder.driver_name().c_str(), USBDEVFS_MAXDRIVERNAME);
        peer.write(arg + offsetof(usbdevfs_getdriver, driver), name);
        return ok();
    }
    if (code == USBDEVFS_IOCTL) {
        usbdevfs_ioctl c;
        if (!peer.read(arg, c)) return fail(EFAULT);
        Interface* i = c.ifno >= 0 ? device_.interface(unsigned(c.ifno)) : nullptr;
        detail = std::to_string(c.ifno);
        if (i == nullptr) return fail(EINVAL);
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
    usbdevfs_disconnect_claim d;
    if (!peer.read(arg, d)) return fail(EFAULT);
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

Reply Bus::request(Client& client, unsigned long code, unsigned long arg, std::string& detail) {
    // Completed URBs can be reaped after the device has gone; nothing else can be done.
    if (code == USBDEVFS_REAPURB || code == USBDEVFS_REAPURBNDELAY)
        return reap(client, arg, code == USBDEVFS_REAPURB);
    if (!connected(client)) return fail(ENODEV);
    Peer& peer = *client.peer;
    switch (code) {
    case USBDEVFS_GET_CAPABILITIES: peer.write(arg, CAPABILITIES); return ok();
    case USBDEVFS_CLAIMINTERFACE:
    case USBDEVFS_RELEASEINTERFACE: {
        unsigned n;
        if (!peer.read(arg, n)) return fail(EFAULT);
        detail = std::to_string(n);
        return result(code == USBDEVFS_CLAIMINTERFACE ? claim(client, n) : release(client, n));
    }
    case USBDEVFS_CONNECTINFO: {
        usbdevfs_connectinfo c = {};
        c.devnum = unsigned(device_.devnum);
        c.slow = 0;  // full speed
        peer.write(arg, c);
        return ok();
    }
    case USBDEVFS_GET_SPEED: return ok(USB_SPEED_FULL);
    case USBDEVFS_GETDRIVER:
    case USBDEVFS_IOCTL:
    case USBDEVFS_DISCONNECT_CLAIM: return driver_request(client, code, arg, detail);
    case USBDEVFS_SETINTERFACE: return set_interface(client, arg);
    case USBDEVFS_CLEAR_HALT:
    case USBDEVFS_RESETEP: return endpoint_request(client, arg, code == USBDEVFS_CLEAR_HALT);
    case USBDEVFS_CONTROL: return control(client, arg);
    case USBDEVFS_BULK: return bulk(client, arg);
    case USBDEVFS_SUBMITURB: return submit(client, arg, detail);
    case USBDEVFS_DISCARDURB: return discard(client, arg);
    default: return fail(ENOTTY);
    }
}

// An ioctl() is a request; read() gives the descriptors, from where the last read
// stopped; usbfs nodes take no write().
void Bus::answer(Client& client, Peer::Call call, unsigned long first, unsigned long second) {
    if (call == Peer::Call::ioctl) {
        std::string detail;
        Reply reply = request(client, first, second, detail);
        if (options_.log != nullptr) log(client, first, reply, detail);
        if (reply.error != WAITING) client.peer->complete(reply.value, reply.error);
    } else if (call == Peer::Call::write) {
        client.peer->complete(-1, EINVAL);
    } else if (!connected(client)) {
        client.peer->complete(-1, ENODEV);
    } else {
        const std::vector<uint8_t>& d = device_.descriptors;
        size_t from = std::min(d.size(), client.read_offset),
               n = std::min(size_t(second), d.size() - from);
        client.peer->write(first, d.data() + from, n);
        client.read_offset = from + n;
        client.peer->complete(long(n), 0);
    }
}

bool Bus::kernel_driver_matches(const Interface& i) const {
    return !options_.kernel_driver.empty() && i.number == 0 && device_.identity() == bare_identity_;
}

void Bus::log(const Client& client, unsigned long code, const Reply& reply,
              const std::string& detail) {
    std::fprintf(options_.log, "%s %s%s%s = ", client.node.c_str(), request_name(code),
                 detail.empty() ? "" : " ", detail.c_str());
    if (reply.error == WAITING)
        std::fprintf(options_.log, "waiting\n");
    else if (reply.error != 0)
        std::fprintf(options_.log, "-1 %s\n", strerrorname_np(reply.error));
    else
        std::fprintf(options_.log, "%ld\n", reply.value);
}

}  // namespace usbdevfs
