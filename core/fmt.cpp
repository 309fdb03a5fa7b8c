#include "core/fmt.h"

#include "core/start.h"
#include "emulators/emulate.h"
#include "script/cmd.h"
#include "script/lex.h"

#include <cstdarg>
#include <cstdio>

// Interim formatter on vsnprintf until the program's own conversions (%k and friends) exist.
namespace {
int vout(const char* fmt, va_list ap) {
    char buf[1024];
    int n = vsnprintf(buf, sizeof buf, fmt, ap);
    outs(buf);
    return n;
}
} // namespace

int zzprintf(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    int n = vout(fmt, ap);
    va_end(ap);
    return n;
}

int eprintf(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    int n = vout(fmt, ap);
    va_end(ap);
    return n;
}

int aberr(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    vout(fmt, ap);
    va_end(ap);
    return 1;
}

void outs(const char* text) {
    for (; *text; text++)
        ttyout(static_cast<unsigned char>(*text));
}

int numaberr(const char* fmt, const char* arg) {
    if (flevel && !echoflag) zzprintf("%s\r\n", glinep);
    for (int i = errcolumn(); i > 0; i--)
        outs(" ");
    outs("^\r\n");
    zzprintf(fmt, arg);
    outs("\r\n");
    exprunwind();
    return 1;
}
