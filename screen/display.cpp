#include "screen/display.h"

#include <unistd.h>

// Interim output buffer until the termcap-driven driver is written.
namespace {
char obuf[1200];
size_t olen = 0;
} // namespace

void _ttyout(int byte) {
    if (olen == sizeof obuf) oflush();
    obuf[olen++] = static_cast<char>(byte);
}

void oflush() {
    if (olen) bttyout(obuf, olen);
    olen = 0;
}

int bttyout(const void* buf, size_t count) { return static_cast<int>(write(1, buf, count)); }
