#include "core/fmt.h"

#include "core/start.h"
#include "core/term.h"
#include "emulators/emulate.h"
#include "ports/com.h"
#include "ports/serial.h"
#include "screen/display.h"
#include "screen/keynames.h"
#include "script/cmd.h"
#include "script/lex.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <unistd.h>
#include <vector>

// clang-format off
const char* const ascnames[32] = {
    "NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL", "BS",  "TAB", "LF",  "VT",
    "FF",  "CR",  "SO",  "SI",  "DLE", "XON", "DC2", "XOF", "DC4", "NAK", "SYN", "ETB",
    "CAN", "EOM", "SUB", "ESC", "FS",  "GS",  "RS",  "US",
};
// clang-format on

namespace {

constexpr const char* hexdigits = "0123456789abcdef";
// A width from a format is a small number; anything larger is taken as this, so a runaway
// format cannot ask for megabytes of padding.
constexpr int MAXWIDTH = 1024;

// Decimal digits of the magnitude, most significant first, without leading zeros. Works on the
// unsigned magnitude so the most negative value prints its true digits.
void putdec(std::string& out, unsigned long mag) {
    char tmp[24];
    int n = 0;
    do {
        tmp[n++] = static_cast<char>('0' + mag % 10);
        mag /= 10;
    } while (mag);
    while (n)
        out += tmp[--n];
}

std::string decimal(long v) {
    std::string s;
    unsigned long mag = static_cast<unsigned long>(v);
    if (v < 0) {
        s += '-';
        mag = 0UL - mag;
    }
    putdec(s, mag);
    return s;
}

void puthex(std::string& out, unsigned long v, int digits) {
    for (int i = digits - 1; i >= 0; i--)
        out += hexdigits[(v >> (4 * i)) & 15];
}

void padded(std::string& out, const char* text, size_t len, int width, int left) {
    if (width <= 0) {
        out.append(text, len);
        return;
    }
    size_t w = static_cast<size_t>(width);
    if (len >= w) {
        out.append(text, w);
        return;
    }
    if (!left) out.append(w - len, ' ');
    out.append(text, len);
    if (left) out.append(w - len, ' ');
}

void padded(std::string& out, const std::string& s, int width, int left) {
    padded(out, s.data(), s.size(), width, left);
}

// The control form of a code below 256: ^X for 0-31, ^? for 127, else the character.
void controlform(char*& p, int c) {
    if (c < 32) {
        *p++ = '^';
        *p++ = static_cast<char>(c + 64);
    } else if (c == 127) {
        *p++ = '^';
        *p++ = '?';
    } else {
        *p++ = static_cast<char>(c);
    }
}

char namebuf[32];

// Writes the text for a failing server-mode error to the line, retrying short writes.
void writeline(const std::string& s) {
    const char* p = s.data();
    size_t left = s.size();
    while (left) {
        ssize_t n = write(comfd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        p += n;
        left -= static_cast<size_t>(n);
    }
}

} // namespace

const char* chname(int code, int mode) {
    char* p = namebuf;
    switch (mode) {
    case 3:
        *p++ = hexdigits[(code >> 4) & 15];
        *p++ = hexdigits[code & 15];
        *p++ = ' ';
        break;
    case 4: {
        int c = code & 0xff;
        if (c > 127) *p++ = '+', c -= 128;
        if (c < 32)
            p += snprintf(p, 8, "<%s>", ascnames[c]);
        else if (c == 127)
            p += snprintf(p, 8, "<DEL>");
        else
            *p++ = static_cast<char>(c);
        break;
    }
    case 5: {
        int c = code & 0xff;
        if (c > 127) *p++ = '+', c -= 128;
        controlform(p, c);
        break;
    }
    case 6: {
        if (code == -1) {
            p += snprintf(p, 8, "NONE");
            break;
        }
        if (code <= 0) {
            controlform(p, code & 0x7f);
            break;
        }
        // Within an entry the control number is tested first; entries in table order.
        for (const KeyName& k : keytrans) {
            bool ctl = k.ccode && k.ccode == code;
            if (!ctl && k.code != code) continue;
            if (ctl) *p++ = 'C', *p++ = '-';
            for (const char* s = k.name; *s; s++)
                *p++ = static_cast<char>(*s >= 'a' && *s <= 'z' ? *s - 32 : *s);
            *p = 0;
            return namebuf;
        }
        int n = 0;
        const char* f = nullptr;
        if (code < 256) {
            if (code >= 128)
                *p++ = static_cast<char>(code);
            else
                controlform(p, code);
            break;
        } else if (code <= 275) {
            f = "F%d", n = code - 255;
        } else if (code <= 328) {
            f = "K%d", n = code - 255;
        } else if (code <= 348) {
            f = "SF%d", n = code - 328;
        } else if (code <= 368) {
            f = "CF%d", n = code - 348;
        } else if (code <= 388) {
            f = "AF%d", n = code - 368;
        } else if (code <= 408) {
            f = "CSF%d", n = code - 388;
        } else if (code <= 434) {
            p += snprintf(p, 8, "ALT%c", code - 344);
            break;
        } else {
            f = "ALT%d", n = code - 434;
        }
        p += snprintf(p, sizeof namebuf - 1, f, n);
        break;
    }
    default:
        break;
    }
    *p = 0;
    return namebuf;
}

std::string vsfmt(const char* fmt, va_list ap) {
    std::string out;
    if (!fmt) return out;
    for (const char* f = fmt; *f; f++) {
        if (*f != '%') {
            out += *f;
            continue;
        }
        f++;
        int left = 0, width = 0;
        if (*f == '-') left = 1, f++;
        while (*f >= '0' && *f <= '9') {
            width = width * 10 + (*f - '0');
            if (width > MAXWIDTH) width = MAXWIDTH;
            f++;
        }
        switch (*f) {
        case 0:
            return out;
        case 'c':
            out += static_cast<char>(va_arg(ap, int));
            break;
        case 's': {
            const char* s = va_arg(ap, const char*);
            if (!s) s = "(null)";
            padded(out, s, strlen(s), width, left);
            break;
        }
        case 'd':
            padded(out, decimal(va_arg(ap, int)), width, left);
            break;
        case 'u': {
            std::string s;
            putdec(s, va_arg(ap, unsigned));
            padded(out, s, width, left);
            break;
        }
        case 'x':
            puthex(out, static_cast<unsigned>(va_arg(ap, int)), 2);
            break;
        case 'X':
            puthex(out, static_cast<unsigned>(va_arg(ap, int)), 4);
            break;
        case 'l':
            if (f[1] == 'x') {
                f++;
                puthex(out, static_cast<unsigned long>(va_arg(ap, long)), 8);
                break;
            }
            padded(out, decimal(va_arg(ap, long)), width, left);
            if (f[1] == 'd') f++;
            break;
        case 'k': {
            int code = va_arg(ap, int);
            int mode = dupmode;
            switch (f[1]) {
            case 'd':
                mode = 3;
                break;
            case 'm':
                mode = 4;
                break;
            case 'c':
                mode = 5;
                break;
            case 'k':
                mode = 6;
                break;
            default:
                break;
            }
            out += chname(code, mode);
            if (!f[1]) return out;
            f++;
            break;
        }
        default:
            break; // unknown letters, "%%" among them, print nothing
        }
    }
    return out;
}

std::string sfmt(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::string s = vsfmt(fmt, ap);
    va_end(ap);
    return s;
}

namespace {
std::vector<std::string> kept; // start-up and exit messages for standard error

int putmsg(int toerr, const std::string& s) {
    // Server mode on standard input has no console: errors go to the peer on the line.
    if (toerr && xflag && !qflag && comfd >= 0) {
        writeline(s);
        return static_cast<int>(s.size());
    }
    // Plain output while the message is written; flushed at the end unless the caller was
    // already batching.
    int save = vemode;
    vemode |= 1;
    for (char c : s)
        ttyout(static_cast<unsigned char>(c));
    vemode = save;
    if (!(save & 1)) oflush();
    return static_cast<int>(s.size());
}
} // namespace

int dofmt(int toerr, const char* fmt, va_list ap) {
    return putmsg(toerr, vsfmt(fmt, ap));
}

void keepmsg(const std::string& text) {
    // Bounded: a script looping on an error at start-up must not grow this without end.
    if (!msgkeep || xflag || text.empty() || kept.size() >= 32) return;
    std::string line;
    for (char c : text)
        if (c != '\r' && c != '\a') line += c;
    if (line.empty() || line == "\n") return;
    if (line.back() != '\n') line += '\n';
    kept.push_back(line);
}

size_t keptcount() {
    return kept.size();
}

void dropkept(size_t from) {
    if (from < kept.size()) kept.resize(from);
}

void showkept() {
    for (const std::string& m : kept) {
        const char* p = m.data();
        size_t left = m.size();
        while (left > 0) {
            ssize_t n = write(2, p, left);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            p += n;
            left -= static_cast<size_t>(n);
        }
    }
    kept.clear();
}

int zzprintf(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    int n = dofmt(0, fmt, ap);
    va_end(ap);
    return n;
}

int eprintf(const char* fmt, ...) {
    errmsgs++;
    va_list ap;
    va_start(ap, fmt);
    int n = dofmt(0, fmt, ap);
    va_end(ap);
    return n;
}

int aberr(const char* fmt, ...) {
    errmsgs++;
    va_list ap;
    va_start(ap, fmt);
    std::string s = vsfmt(fmt, ap);
    va_end(ap);
    keepmsg(s);
    putmsg(1, s);
    return 1;
}

int expaberr(const char* what) {
    eprintf("%s expected\r\n", what);
    return 1;
}

int numaberr(const char* fmt, const char* arg) {
    // The line is shown with its control bytes made visible, and the caret counts them as
    // shown.
    int col = std::clamp(errcolumn(), 0, 1024);
    if (flevel && !echoflag) eprintf("%s\r\n", visible(glinep).c_str());
    col = static_cast<int>(visible(std::string(glinep ? glinep : "", 0, col).c_str()).size());
    std::string caret(static_cast<size_t>(col), ' ');
    caret += "^\r\n";
    outs(caret.c_str());
    eprintf(fmt, arg);
    outs("\r\n");
    exprunwind(); // throws out of an expression being evaluated
    return 1;
}

int nomemory(int code) {
    return aberr("\aOut of RAM memory (Error #%d)\r\n", code);
}

void outs(const char* text) {
    if (!text) return;
    for (; *text; text++)
        ttyout(static_cast<unsigned char>(*text));
}

void _outs(const char* text) {
    if (text)
        for (; *text; text++)
            _ttyout(static_cast<unsigned char>(*text));
    poscursor();
}

void outprec(const char* text, int width, int left) {
    std::string s;
    if (!text) text = "(null)";
    padded(s, text, strlen(text), width, left);
    outs(s.c_str());
}

char* itoa(int value, char* buf) {
    return ltoa(value, buf);
}

char* ltoa(long value, char* buf) {
    std::string s = decimal(value);
    memcpy(buf, s.c_str(), s.size() + 1);
    return buf;
}

char* htoa(unsigned long value, int digits, char* buf) {
    if (digits < 0) digits = 0;
    if (digits > 8) digits = 8;
    std::string s;
    puthex(s, value, digits);
    memcpy(buf, s.c_str(), s.size() + 1);
    return buf;
}

char* pitoa(long value, char* buf, int width) {
    std::string s = decimal(value);
    size_t sign = value < 0 ? 1 : 0;
    if (width > 0 && s.size() < static_cast<size_t>(width))
        s.insert(sign, static_cast<size_t>(width) - s.size(), '0');
    memcpy(buf, s.data(), s.size());
    return buf + s.size();
}

int wchkstop() {
    if (!canabort) return 0;
    int k = chrdynh();
    if (k == abochar) return 1;
    if (k == 19) return chrin() == abochar ? 1 : 0;
    return 0;
}

void fastio(int on) {
    if (on) {
        vemode = 1;
        consxon(1);
    } else {
        oflush();
        vemode = ovemode;
        consxon(0);
    }
}
