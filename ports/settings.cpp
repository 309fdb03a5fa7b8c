#include "ports/settings.h"

#include "core/escape.h"
#include "core/fmt.h"
#include "ports/com.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>

#include <poll.h>
#include <sys/ioctl.h>

// ---- state -----------------------------------------------------------------------------

long baud = 9600;
int parity = 0;
int wdlen = 8;
int stopbits = 1;
int prot = 1;
int dtr = 1;
int rts = 1;
int resetixon = 0;
int insysfile = 0;
int savparity = 0, savwdlen = 0, savstopbits = 0, savprot = 0, saved = 0;

int quiet = 0;
int dcdchk = 0;
int vmaskpar = 0;

int amode = 0;
int addcr = 0;
int addlf = 0;
unsigned char* outrtab = nullptr;
unsigned char* intrtab = nullptr;
unsigned char ouigtab[256];
unsigned char inigtab[256];
unsigned char* disptab = nullptr;

int cdelay = 0;
int ldelay = 0;
int tdelay = 0;

namespace {
unsigned char outrbuf[256];
unsigned char intrbuf[256];
unsigned char dispbuf[256];

int parexpect() {
    std::string s;
    for (const SelEntry* p = parlist; p->name[0]; p++) {
        if (p != parlist) s += p[1].name[0] ? ", " : " or ";
        s += p->name;
    }
    eprintf("%s expected\r\n", s.c_str());
    return -1;
}

// Applies the word unless the system start-up script is running.
int applyword() {
    return insysfile ? 0 : COM->set(linestat());
}

// A decimal field of a parameter string: empty keeps `keep`; digits beyond what a long holds
// saturate instead of overflowing.
long numfield(const std::string& f, long keep) {
    if (f.empty()) return keep;
    long v = 0;
    size_t i = 0;
    while (i < f.size() && f[i] == ' ')
        i++;
    for (; i < f.size() && f[i] >= '0' && f[i] <= '9'; i++)
        v = v > 100000000 ? 1000000000 : v * 10 + (f[i] - '0');
    return v;
}
} // namespace

// ---- tables ----------------------------------------------------------------------------

unsigned char* mktrtab(int which) {
    unsigned char*& tab = which == 2 ? disptab : which ? intrtab : outrtab;
    if (!tab) {
        tab = which == 2 ? dispbuf : which ? intrbuf : outrbuf;
        for (int i = 0; i < 256; i++)
            tab[i] = static_cast<unsigned char>(i);
    }
    return tab;
}

void cleartrans() {
    outrtab = intrtab = disptab = nullptr;
}

void cleartrtab() {
    cleartrans();
    std::memset(ouigtab, 0, sizeof ouigtab);
    std::memset(inigtab, 0, sizeof inigtab);
}

// ---- pacing ----------------------------------------------------------------------------

void delayunits(long units) {
    if (units <= 0) return;
    timespec start{}, now{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    const long long want = static_cast<long long>(units) * DELAYUNIT_NS;
    do {
        clock_gettime(CLOCK_MONOTONIC, &now);
    } while ((now.tv_sec - start.tv_sec) * 1000000000LL + (now.tv_nsec - start.tv_nsec) < want);
}

// ---- settings --------------------------------------------------------------------------

int linestat() {
    int w;
    switch (wdlen) {
    case 5:
        w = 0;
        break;
    case 6:
        w = 128;
        break;
    case 7:
        w = 64;
        break;
    default:
        w = 192;
        break;
    }
    if (dtr) w += 32;
    if (rts || prot == 3) w += 16;
    w += stopbits == 2 ? 12 : 4;
    if (parity == 1)
        w += 1;
    else if (parity == 2)
        w += 3;
    if (prot == 1)
        w += 256;
    else if (prot == 4)
        w += 512;
    if (resetixon) w += 1024;
    return w;
}

int setstat() {
    return COM->set(linestat());
}

int baudcode(long rate) {
    for (const BaudEntry* b = COM->bauds; b && b->rate; b++)
        if (b->rate == rate) return b->code;
    return -1;
}

int setbaud(long rate) {
    switch (rate) {
    case 9:
        rate = 9600;
        break;
    case 19:
        rate = 19200;
        break;
    case 38:
        rate = 38400;
        break;
    case 57:
        rate = 57600;
        break;
    case 115:
        rate = 115200;
        break;
    default:
        if (rate < 50) rate *= 100;
    }
    const BaudEntry* b = COM->bauds;
    while (b && b->rate && b->rate != rate)
        b++;
    if (!b || !b->rate) {
        aberr("Invalid baud rate, try one of:\r\n");
        for (b = COM->bauds; b && b->rate; b++)
            aberr("%u, ", static_cast<unsigned>(b->rate));
        aberr("\r\n");
        return -1;
    }
    baud = rate;
    if (insysfile) return 0;
    int r = COM->set(linestat());
    COM->baud(b->code);
    return r;
}

int setparity(int p) {
    if (p < 0 || p > 4) return parexpect();
    parity = p;
    return applyword();
}

int setwdlen(int n) {
    if (n < 5 || n > 8) {
        eprintf("%s expected\r\n", "Invalid word length, (5-8)");
        return -1;
    }
    wdlen = n;
    return applyword();
}

int setstbits(int n) {
    if (n < 1 || n > 2) {
        eprintf("%s expected\r\n", "Invalid stop bits, (1-2)");
        return -1;
    }
    stopbits = n;
    return applyword();
}

int setprot(int p) {
    prot = p;
    return applyword();
}

int setparms(const char* text) {
    if (!text || !*text) {
        eprintf("%s expected\r\n", "Baud rate");
        return -1;
    }
    // Split into at most four fields; anything after a fourth comma is ignored.
    std::string f[4];
    int n = 0;
    for (const char* p = text; *p && n < 4; p++) {
        if (*p == ',')
            n++;
        else if (f[n].size() < 32)
            f[n] += *p;
    }
    long speed = numfield(f[0], baud);
    if (!f[1].empty()) {
        int p;
        switch (f[1][0]) {
        case 'E':
        case 'e':
            p = 2;
            break;
        case 'M':
        case 'm':
            p = 3;
            break;
        case 'N':
        case 'n':
            p = 0;
            break;
        case 'O':
        case 'o':
            p = 1;
            break;
        case 'S':
        case 's':
            p = 4;
            break;
        default:
            return parexpect();
        }
        parity = p;
    }
    if (!f[2].empty()) {
        long w = numfield(f[2], wdlen);
        if (w < 5 || w > 8) {
            eprintf("%s expected\r\n", "Invalid word length, (5-8)");
            return -1;
        }
        wdlen = static_cast<int>(w);
    }
    if (!f[3].empty()) {
        long s = numfield(f[3], stopbits);
        if (s < 1 || s > 2) {
            eprintf("%s expected\r\n", "Invalid stop bits, (1-2)");
            return -1;
        }
        stopbits = static_cast<int>(s);
    }
    return setbaud(speed) < 0 ? -1 : 0;
}

int xferprot() {
    if (saved) return 0;
    savparity = parity, savwdlen = wdlen, savstopbits = stopbits, savprot = prot;
    saved = 1;
    parity = 0, wdlen = 8, stopbits = 1, prot = 0;
    return applyword();
}

int restprot() {
    if (!saved) return 0;
    parity = savparity, wdlen = savwdlen, stopbits = savstopbits, prot = savprot;
    resetixon = 1;
    int r = applyword();
    resetixon = 0;
    saved = 0;
    return r;
}

// ---- sending ---------------------------------------------------------------------------

int tcomout(int c) {
    int r = COM->out(c);
    if (ldelay && c == '\n') delayunits(ldelay);
    if (tdelay && c == '\t') delayunits(tdelay);
    delayunits(cdelay);
    return r;
}

int dcomout(int c) {
    int r = COM->out(c);
    delayunits(cdelay);
    return r;
}

int xcomout(int c) {
    c &= 255;
    if (amode == 1) {
        if (ouigtab[c]) return 0;
        if (outrtab) c = outrtab[c];
        if (c == '\n' && addcr) {
            dcomout('\r');
        } else if (c == '\r' && addlf) {
            dcomout('\r');
            c = '\n';
        }
    }
    return tcomout(c);
}

int qcomout(const uint8_t* buf, int len, int show) {
    if (!buf || len <= 0) return 0;
    if (COM->flags & COMF_CONNECTION) return COM->bout(buf, len);
    if (!show && !cdelay && !ldelay && !tdelay) return COM->bout(buf, len);
    for (int i = 0; i < len; i++) {
        if (show) zzprintf("%kc", buf[i]);
        tcomout(buf[i]);
    }
    return len;
}

int scmd(const char* text) {
    for (; text && *text; text++)
        dcomout(static_cast<unsigned char>(*text));
    return 0;
}

int carrier() {
    if (COM == &nulfunc || comfd < 0) return 0;
    int bits = 0;
    if (!(COM->flags & COMF_CONNECTION) && ioctl(comfd, TIOCMGET, &bits) == 0)
        return (bits & TIOCM_CD) != 0;
    pollfd p{comfd, POLLIN, 0};
    while (poll(&p, 1, 0) < 0 && errno == EINTR) {
    }
    return !(p.revents & (POLLHUP | POLLERR | POLLNVAL));
}

void settingsreset() {
    baud = 9600, parity = 0, wdlen = 8, stopbits = 1, prot = 1, dtr = 1, rts = 1;
    resetixon = 0, insysfile = 0;
    savparity = savwdlen = savstopbits = savprot = saved = 0;
    quiet = dcdchk = vmaskpar = 0;
    amode = addcr = addlf = 0;
    cleartrtab();
    cdelay = ldelay = tdelay = 0;
}
