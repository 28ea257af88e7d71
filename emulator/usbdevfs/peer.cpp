#include "usbdevfs/peer.h"

#include <sys/socket.h>
#include <unistd.h>

namespace usbdevfs {

namespace {

// The record kinds of the preload library.
enum : unsigned long {
    kIoctlCall = 1,
    DONE = 3,
    kReadMemory = 5,
    kWriteMemory = 6,
    kReadCall = 7,
    kWriteCall = 8,
};

struct Record {
    unsigned long kind, first, second;
};

bool receive_all(int socket, void* to, size_t length) {
    char* at = static_cast<char*>(to);
    while (length > 0) {
        ssize_t n = recv(socket, at, length, 0);
        if (n <= 0) return false;
        at += n;
        length -= size_t(n);
    }
    return true;
}

}  // namespace

Peer::~Peer() { close(socket_); }

bool Peer::receive(Call& call, unsigned long& first, unsigned long& second) {
    Record r;
    if (!receive_all(socket_, &r, sizeof r)) return false;
    call = r.kind == kIoctlCall ? Call::ioctl : r.kind == kReadCall ? Call::read : Call::write;
    first = r.first;
    second = r.second;
    return r.kind == kIoctlCall || r.kind == kReadCall || r.kind == kWriteCall;
}

bool Peer::read(unsigned long address, void* to, size_t length) {
    if (length == 0) return true;
    queue(kReadMemory, address, length);
    return flush() && receive_all(socket_, to, length);
}

void Peer::write(unsigned long address, const void* from, size_t length) {
    if (length == 0) return;
    queue(kWriteMemory, address, length);
    queued_.append(static_cast<const char*>(from), length);
}

void Peer::complete(long result, int error) {
    queue(DONE, static_cast<unsigned long>(result), static_cast<unsigned long>(error));
    flush();
}

void Peer::queue(unsigned long kind, unsigned long first, unsigned long second) {
    Record r{kind, first, second};
    queued_.append(reinterpret_cast<const char*>(&r), sizeof r);
}

bool Peer::flush() {
    size_t sent = 0;
    while (sent < queued_.size()) {
        ssize_t n = send(socket_, queued_.data() + sent, queued_.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += size_t(n);
    }
    bool done = sent == queued_.size();
    queued_.clear();
    return done;
}

}  // namespace usbdevfs
