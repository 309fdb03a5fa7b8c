// Feeds arbitrary received bytes to the telnet option filter with the telnet driver current and
// its line a socket pair. The first byte picks the emulation, the trace level and the emulated
// size; the rest is what the host sends. Checks: the filter never returns more data bytes than
// it was given, its state stays in range, and everything it sends back is a well-formed
// sequence of telnet commands (IAC verb option, or IAC SB ... IAC SE).
#include "core/start.h"
#include "emulators/emulate.h"
#include "ports/com.h"
#include "ports/telnet.h"
#include "screen/display.h"
#include "screen/vscreen.h"

#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int peer = -1;

std::string drain() {
    std::string got;
    char buf[4096];
    for (ssize_t n; (n = read(peer, buf, sizeof buf)) > 0;)
        got.append(buf, static_cast<size_t>(n));
    return got;
}

void wellformed(const std::string& s) {
    size_t i = 0;
    while (i < s.size()) {
        if (static_cast<uint8_t>(s[i]) != T_IAC || i + 2 >= s.size()) std::abort();
        int verb = static_cast<uint8_t>(s[i + 1]);
        if (verb >= T_WILL && verb <= T_DONT) {
            i += 3;
            continue;
        }
        if (verb != T_SB) std::abort();
        size_t j = i + 3;
        for (;; j++) {
            if (j + 1 >= s.size()) std::abort();
            if (static_cast<uint8_t>(s[j]) != T_IAC) continue;
            int next = static_cast<uint8_t>(s[j + 1]);
            if (next == T_SE) break;
            if (next != T_IAC) std::abort();
            j++;
        }
        i = j + 2;
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    setconswriter([](const char*, size_t) {});
    if (peer < 0) {
        int sv[2];
        if (socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0) return 0;
        comfd = sv[0];
        peer = sv[1];
        fcntl(peer, F_SETFL, O_NONBLOCK);
    }
    if (size == 0) return 0;
    static const int modes[] = {EM_VT100,  EM_VT2207, EM_TTY,  EM_ANSI,
                                EM_WYSE60, EM_IB3101, EM_ADM1, EM_VT52};
    COM = &tnetfuncs;
    tnetfuncs.flags = 11;
    vemode = modes[data[0] & 7];
    vtdebug = (data[0] >> 3) & 3;
    vlines = (data[0] & 0x20) ? 255 : 24;
    vcols = (data[0] & 0x40) ? 132 : 80;
    telreset();
    size_t out = 0;
    for (size_t i = 1; i < size; i++) {
        int r = telinput(data[i]);
        if (r > 255 || r < -1) std::abort();
        if (r >= 0) out++;
        if (tn.state < 0 || tn.state > 8) std::abort();
        if ((i & 1023) == 0) wellformed(drain());
    }
    if (out > size) std::abort();
    wellformed(drain());
    if (data[0] & 0x80) {
        // User data after the answers: a window-size update may come first, then 255 twice.
        telout(255);
        std::string s = drain();
        if (s.size() < 2 || s.substr(s.size() - 2) != "\xff\xff") std::abort();
        wellformed(s.substr(0, s.size() - 2));
    }
    vtdebug = 0;
    return 0;
}
