// Times USB transfers through the usbdevfs test bed: the tool's own link and libusb
// driver backend load the firmware, then send register reads on EP1 OUT and fetch each
// reply on EP1 IN. Every transfer is a URB submitted, reaped and answered by the
// emulated adapter in the test bed process. Started by itself, the program runs itself
// again inside the test bed.
//
// Usage: bench_usbdevfs [pairs]   (default 2000 command/reply pairs)
#include <unistd.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "firmware_image.h"
#include "link/link.h"

int main(int argc, char** argv) {
    if (std::getenv("UMOCKDEV_DIR") == nullptr) {
        char self[4096] = {};
        if (readlink("/proc/self/exe", self, sizeof self - 1) < 0) return 2;
        execl(PELKAT_TESTBED, PELKAT_TESTBED, "--", self, argc > 1 ? argv[1] : nullptr,
              static_cast<char*>(nullptr));
        std::perror(PELKAT_TESTBED);
        return 2;
    }
    int pairs = argc > 1 ? std::atoi(argv[1]) : 2000;
    HANDLE adapter = INVALID_HANDLE_VALUE;
    auto started = std::chrono::steady_clock::now();
    if (connect_adapter(0, &adapter, firmware_image, "ZEMA", "Z100") != 0) {
        std::printf("no adapter\n");
        return 1;
    }
    auto connected = std::chrono::steady_clock::now();
    const unsigned char read_register[] = {0x03, 0x9D};  // OP_READ_REG of PINSC
    unsigned char reply[64];
    int failed = 0;
    for (int i = 0; i < pairs; ++i) {
        if (bulk_write(&adapter, EP1_OUT_PIPE, read_register, sizeof read_register) != 0 ||
            bulk_read(&adapter, EP1_IN_PIPE, reply, sizeof reply) != 1) {
            ++failed;
        }
    }
    auto done = std::chrono::steady_clock::now();
    close_adapter(&adapter);
    double us = std::chrono::duration<double, std::micro>(done - connected).count() / (2.0 * pairs);
    std::printf("firmware download and re-enumeration: %.2f s wall\n",
                std::chrono::duration<double>(connected - started).count());
    std::printf("%d command/reply pairs, %d failed: %.1f us wall per transfer (goal: under 500)\n",
                pairs, failed, us);
    return failed == 0 ? 0 : 1;
}
