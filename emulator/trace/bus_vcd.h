// A bus trace in Value Change Dump format: the four save-memory lines as the adapter sees
// them (select, clock, data out to the chip, data in from the chip, the latter with the
// pull-up applied), in nanoseconds of virtual time. Sits between the adapter and the
// cartridge and forwards everything unchanged.
#pragma once

#include "chips/cartridge.h"

#include <cstdio>
#include <string>

namespace emu {

class BusVcdTrace : public Cartridge {
public:
    // Creates (truncates) the file and writes the header; throws std::runtime_error with
    // the path and reason when it cannot. inner may be null (an empty slot).
    BusVcdTrace(Cartridge* inner, const std::string& path);
    ~BusVcdTrace() override;
    BusVcdTrace(const BusVcdTrace&) = delete;
    BusVcdTrace& operator=(const BusVcdTrace&) = delete;

    void drive(BusLines lines, uint64_t now_ns) override;
    int output(uint64_t now_ns) override;
    // Pushes buffered changes to the file; false once any write has failed.
    bool flush();

private:
    void change(int index, int level, uint64_t now_ns);
    Cartridge* inner_;
    std::FILE* file_;
    int levels_[4] = {-1, -1, -1, -1};  // select, clock, data out, data in; -1 before the first
    uint64_t last_time_ = 0;
    bool any_time_ = false;
    bool ok_ = true;
};

}  // namespace emu
