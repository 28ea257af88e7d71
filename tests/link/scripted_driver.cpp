#include "scripted_driver.h"

// On Windows the scripted functions stand in for kernel32's own (below).
#ifdef _WIN32
#include <windows.h>
#else
#include "platform/winapi.h"
#endif

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

namespace {

int handle_token;

}  // namespace

// Elsewhere the link calls these four functions by name. On Windows it calls pelkat.exe's
// driver entry points, which call kernel32 through the import table: the scripted ones
// take the table's four slots over (below), and a handle of the runtime's own goes on to
// kernel32. Where an open fails, the entry points go on to WinUSB, which finds no adapter.
#ifdef _WIN32
namespace scripted {
#else
#define WINAPI
#endif

HANDLE WINAPI CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES,
                          DWORD disposition, DWORD flags, HANDLE) {
    auto& d = script::driver;
    bool ok = !d.open_succeeds || d.open_succeeds(static_cast<int>(d.opens.size()));
    d.opens.push_back({name, access, share, disposition, flags, d.now_ms, ok});
    return ok ? static_cast<HANDLE>(&handle_token) : INVALID_HANDLE_VALUE;
}

BOOL WINAPI DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD in_size, LPVOID out,
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

BOOL WINAPI CloseHandle(HANDLE handle) {
#ifdef _WIN32
    if (handle != static_cast<HANDLE>(&handle_token) && handle != INVALID_HANDLE_VALUE) {
        static auto kernel32_close =
            reinterpret_cast<BOOL(WINAPI*)(HANDLE)>(reinterpret_cast<void*>(
                GetProcAddress(GetModuleHandleA("kernel32.dll"), "CloseHandle")));
        return kernel32_close(handle);
    }
#else
    (void)handle;
#endif
    ++script::driver.closes;
    return TRUE;
}

void WINAPI Sleep(DWORD milliseconds) { script::driver.now_ms += milliseconds; }

#ifdef _WIN32
}  // namespace scripted

extern "C" {
decltype(&::CreateFileA) __imp_CreateFileA = scripted::CreateFileA;
decltype(&::DeviceIoControl) __imp_DeviceIoControl = scripted::DeviceIoControl;
decltype(&::CloseHandle) __imp_CloseHandle = scripted::CloseHandle;
decltype(&::Sleep) __imp_Sleep = scripted::Sleep;
}
#endif
