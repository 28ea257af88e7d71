// A program's open device node as umockdev's preload library hands it over: a Unix
// socket at $UMOCKDEV_DIR/ioctl/<node> that the library connects to when the program
// opens the node, and on which every ioctl(), read() and write() of the program arrives
// as a call. The answer may read and write the program's memory before it completes the
// call (umockdev 0.16 and later, src/libumockdev-preload.c, remote_emulate(): records of
// three unsigned longs; READ_MEM and WRITE_MEM followed by the bytes; DONE with the
// result and errno). Writes wait and go out with the completion in one piece, so that a
// call costs the program as few round trips as the answer needs reads.
#pragma once

#include <cstddef>
#include <string>

namespace usbdevfs {

class Peer {
public:
    enum class Call { ioctl, read, write };

    explicit Peer(int socket) : socket_(socket) {}
    ~Peer();
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;
    int socket() const { return socket_; }

    // The program's next call: ioctl (request, argument), read or write (buffer, length).
    // False when the program has closed the node.
    bool receive(Call& call, unsigned long& first, unsigned long& second);
    // The program's memory: read at once; written when the call completes.
    bool read(unsigned long address, void* to, size_t length);
    void write(unsigned long address, const void* from, size_t length);
    template <class T>
    bool read(unsigned long address, T& value) {
        return read(address, &value, sizeof value);
    }
    template <class T>
    void write(unsigned long address, const T& value) {
        write(address, &value, sizeof value);
    }
    // Completes the call: its result, or -1 with errno.
    void complete(long result, int error);

private:
    void queue(unsigned long kind, unsigned long first, unsigned long second);
    bool flush();

    int socket_;
    std::string queued_;
};

}  // namespace usbdevfs
