#include "trace/bus_vcd.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace emu {

namespace {
constexpr char CODES[4] = {'s', 'c', 'o', 'i'};
constexpr const char* NAMES[4] = {"select", "clock", "data_out", "data_in"};
}  // namespace

BusVcdTrace::BusVcdTrace(Cartridge* inner, const std::string& path)
    : inner_(inner), file_(std::fopen(path.c_str(), "w")) {
    if (!file_)
        throw std::runtime_error("cannot create bus trace " + path + ": " + std::strerror(errno));
    std::fprintf(file_, "$version pelkat-emu cartridge bus $end\n$timescale 1ns $end\n");
    std::fprintf(file_, "$scope module cartridge $end\n");
    for (int i = 0; i < 4; ++i) std::fprintf(file_, "$var wire 1 %c %s $end\n", CODES[i], NAMES[i]);
    std::fprintf(file_, "$upscope $end\n$enddefinitions $end\n");
    // Before the adapter drives anything the pins float high (pull-ups), the select
    // line among them: no chip is selected.
    std::fprintf(file_, "#0\n$dumpvars\n");
    for (int i = 0; i < 4; ++i) {
        levels_[i] = 1;
        std::fprintf(file_, "1%c\n", CODES[i]);
    }
    std::fprintf(file_, "$end\n");
    any_time_ = true;
    if (std::ferror(file_)) ok_ = false;
}

BusVcdTrace::~BusVcdTrace() { std::fclose(file_); }

bool BusVcdTrace::flush() {
    if (std::fflush(file_) != 0 || std::ferror(file_)) ok_ = false;
    return ok_;
}

void BusVcdTrace::change(int index, int level, uint64_t now_ns) {
    if (levels_[index] == level) return;
    levels_[index] = level;
    if (!any_time_ || now_ns != last_time_) {
        // Time never runs backwards in a dump; a late caller is written at the last time.
        if (now_ns < last_time_) now_ns = last_time_;
        std::fprintf(file_, "#%llu\n", static_cast<unsigned long long>(now_ns));
        last_time_ = now_ns;
        any_time_ = true;
    }
    if (std::fprintf(file_, "%d%c\n", level, CODES[index]) < 0) ok_ = false;
}

void BusVcdTrace::drive(BusLines lines, uint64_t now_ns) {
    change(0, lines.select, now_ns);
    change(1, lines.clock, now_ns);
    change(2, lines.data, now_ns);
    if (inner_) inner_->drive(lines, now_ns);
    // The chip changes its output only in answer to the bus: record it right away so the
    // dump shows each bit when it appears, not when the adapter samples it.
    output(now_ns);
}

int BusVcdTrace::output(uint64_t now_ns) {
    int level = inner_ ? inner_->output(now_ns) : -1;
    change(3, level < 0 ? 1 : level, now_ns);
    return level;
}

}  // namespace emu
