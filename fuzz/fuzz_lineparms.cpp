// Line settings and lock names under hostile input: the fuzzer's bytes, split at NUL, become
// a lock-file name format, a port name and a parameter string such as "2400,E,7,1". The lock
// name is only built (no file is made); the parameters go to a driver that records nothing.
#include "ports/com.h"
#include "ports/lock.h"
#include "ports/settings.h"
#include "screen/display.h"

#include <cstdint>
#include <string>

namespace {
int zero() {
    return 0;
}
int zeroi(int) {
    return 0;
}
int zeroinit(int, const char*) {
    return 0;
}
int zerovt(const char*) {
    return 0;
}
int zerobout(const uint8_t*, int) {
    return 0;
}
ComDriver sink = {zeroinit, zerovt, zero, zero, zero, zero,      zeroi, zerobout,
                  zeroi,    zeroi,  zero, zero, zero, nullbauds, 0,     COMBUFSIZ};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    setconswriter([](const char*, size_t) {});
    std::string in(reinterpret_cast<const char*>(data), size);
    std::string part[3];
    size_t pos = 0;
    for (int i = 0; i < 3 && pos <= in.size(); i++) {
        size_t end = i == 2 ? in.size() : in.find('\0', pos);
        if (end == std::string::npos) end = in.size();
        part[i] = in.substr(pos, end - pos);
        pos = end + 1;
    }

    lockreset();
    lockpre = part[0];
    chkdev(part[1].c_str());
    if (devnam.size() > 1024) __builtin_trap(); // long by-id names are kept, up to a bound
    std::string name;
    if (makelockstr(name) == 0 && name.size() > 1024 + devpre.size() + 2) __builtin_trap();

    ComDriver* keep = COM;
    COM = &sink;
    settingsreset();
    if (setparms(part[2].c_str()) == 0) {
        if (parity < 0 || parity > 4 || wdlen < 5 || wdlen > 8 || stopbits < 1 || stopbits > 2)
            __builtin_trap();
    }
    COM = keep;
    settingsreset();
    lockreset();
    oflush();
    return 0;
}
