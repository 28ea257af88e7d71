#include "scripted_driver.h"

#include "platform/winapi.h"

namespace script {

Driver driver;

void reset() { driver = Driver(); }

std::vector<Call> calls_of(uint32_t code) {
    std::vector<Call> found;
    for (const Call& call : driver.calls) {
        if (call.code == code) found.push_back(call);
    }
    return found;
}

}  // namespace script

static int handle_token;

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES, DWORD disposition,
                   DWORD flags, HANDLE) {
    auto& d = script::driver;
    bool ok = !d.open_succeeds || d.open_succeeds(static_cast<int>(d.opens.size()));
    d.opens.push_back({name, access, share, disposition, flags, d.now_ms, ok});
    return ok ? static_cast<HANDLE>(&handle_token) : INVALID_HANDLE_VALUE;
}

BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD in_size, LPVOID out,
                     DWORD out_size, LPDWORD returned, LPOVERLAPPED) {
    auto& d = script::driver;
    const uint8_t* bytes = static_cast<const uint8_t*>(in);
    d.calls.push_back({code, std::vector<uint8_t>(bytes, bytes + in_size), out_size, d.now_ms});
    if (device != static_cast<HANDLE>(&handle_token)) return FALSE;
    int count = d.reply ? d.reply(d.calls.back(), static_cast<uint8_t*>(out)) : 0;
    if (count < 0) return FALSE;
    *returned = static_cast<DWORD>(count);
    return TRUE;
}

BOOL CloseHandle(HANDLE) {
    ++script::driver.closes;
    return TRUE;
}

void Sleep(DWORD milliseconds) { script::driver.now_ms += milliseconds; }
