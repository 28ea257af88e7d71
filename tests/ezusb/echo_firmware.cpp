#include "echo_firmware.h"

#include <fstream>
#include <iterator>

#include "ezusb_registers.h"

namespace ezusb_test {

std::vector<uint8_t> echo_image() {
    std::ifstream file(ECHO_FIRMWARE, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {});
}

bool download(emu::Adapter& adapter, const std::vector<uint8_t>& image) {
    uint8_t hold = 1, run = 0;
    if (adapter.control({0x40, 0xA0, CPUCS, 0, 1}, &hold) != 1) return false;
    for (size_t at = 0; at < image.size(); at += 64) {
        uint16_t n = uint16_t(image.size() - at < 64 ? image.size() - at : 64);
        std::vector<uint8_t> chunk(image.begin() + long(at), image.begin() + long(at + n));
        if (adapter.control({0x40, 0xA0, uint16_t(at), 0, n}, chunk.data()) != n) return false;
    }
    return adapter.control({0x40, 0xA0, CPUCS, 0, 1}, &run) == 1;
}

bool start_echo(emu::Adapter& adapter) {
    uint32_t before = adapter.enumeration();
    if (!download(adapter, echo_image())) return false;
    for (int i = 0; i < 300 && !(adapter.present() && adapter.enumeration() != before); ++i)
        adapter.sleep_ns(10000000);
    return adapter.present() && adapter.enumeration() != before;
}

int get_descriptor(emu::Adapter& adapter, uint8_t type, uint8_t index, uint16_t length,
                   uint8_t* data) {
    return adapter.control({0x80, 0x06, uint16_t(type << 8 | index), 0, length}, data);
}

std::vector<uint8_t> interrupt_log(emu::Adapter& adapter) {
    uint8_t data[64];
    int n = adapter.control({0xC0, 0x52, 0, 0, 64}, data);
    if (n < 1) return {0xFF};
    return std::vector<uint8_t>(data + 1, data + 1 + data[0]);
}

}  // namespace ezusb_test
