// A scripted stand-in for the EZ-USB driver: it records what the link asks of it and
// answers as each test scripts, so the link's own rules can be checked call by call.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace script {

struct Call {
    uint32_t code;
    std::vector<uint8_t> input;
    uint32_t output_length;
    uint64_t at_ms;  // scripted time of the call
};

struct Open {
    std::string path;
    uint32_t access, share, disposition, flags;
    uint64_t at_ms;
    bool succeeded;
};

struct Driver {
    // Decides each request: the byte count to report, or -1 to fail it. By default
    // every request succeeds with no bytes.
    std::function<int(const Call& call, uint8_t* output)> reply;
    // Decides each open by its number (0 for the first); by default all succeed.
    std::function<bool(int number)> open_succeeds;
    std::vector<Call> calls;
    std::vector<Open> opens;
    int closes = 0;
    uint64_t now_ms = 0;  // advanced by Sleep only
};

extern Driver driver;
void reset();
// The calls with this code, in order.
std::vector<Call> calls_of(uint32_t code);

}  // namespace script
