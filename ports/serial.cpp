#include "ports/serial.h"

#include "core/fmt.h"
#include "core/start.h"
#include "ports/alarm.h"
#include "ports/com.h"
#include "ports/lock.h"
#include "ports/settings.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

int exitdtr = 0;
int preoflag = 0;
int cfloflag = 0;
std::string partopen;
int vmin = 1;
int vtime = 1;
int ixonset = 0;
int tospeed = B9600;

// clang-format off
const BaudEntry serbauds[] = {
    {115200, B115200}, {57600, B57600}, {38400, B38400}, {19200, B19200}, {9600, B9600},
    {4800, B4800},     {2400, B2400},   {1800, B1800},   {1200, B1200},   {600, B600},
    {300, B300},       {200, B200},     {150, B150},     {134, B134},     {110, B110},
    {75, B75},         {50, B50},       {0, 0},
};
// clang-format on

namespace {
int answer0() {
    return 0;
}
int answer3() {
    return 3;
}

bool startswith(const std::string& s, const std::string& prefix) {
    return !prefix.empty() && s.compare(0, prefix.size(), prefix) == 0;
}

// Unix98 pseudo-terminal slaves have majors 136 to 143.
bool ispty(int fd) {
    struct stat st {};
    return fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && major(st.st_rdev) >= 136 &&
           major(st.st_rdev) <= 143;
}

cc_t ccval(int v) {
    return static_cast<cc_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}
} // namespace

ComDriver asyfuncs = {asyinit, asyvt,   asyexit, fdst,    fdstnh, fdin,     fdout, fdbout,
                      asyset,  asybaud, answer0, answer3, asybrk, serbauds, 0,     COMBUFSIZ};

// ---- low-level routines ----------------------------------------------------------------

int readwait(int fd, int blocking) {
    int fl = fcntl(fd, F_GETFL);
    if (fl < 0) return -1;
    return fcntl(fd, F_SETFL, blocking ? fl & ~O_NONBLOCK : fl | O_NONBLOCK);
}

int getio(int fd, termios* t) {
    return tcgetattr(fd, t);
}

int setio(int fd, const termios* t) {
    return tcsetattr(fd, fd == 0 ? TCSADRAIN : TCSAFLUSH, t);
}

int serraw(int fd) {
    readwait(fd, 1);
    termios t{};
    if (getio(fd, &t) < 0) return -1;
    t.c_cc[VINTR] = t.c_cc[VQUIT] = t.c_cc[VERASE] = t.c_cc[VKILL] = 0;
    t.c_cc[VMIN] = ccval(vmin);
    t.c_cc[VTIME] = ccval(vtime);
    t.c_lflag = 0;
    t.c_oflag = 0;
    t.c_iflag = 0;
    t.c_cflag |= CLOCAL | CREAD;
    if (exitdtr)
        t.c_cflag &= ~HUPCL;
    else
        t.c_cflag |= HUPCL;
    return tcsetattr(fd, TCSAFLUSH, &t);
}

void serword(termios& t, int word) {
    t.c_cflag &= ~(CSIZE | CSTOPB | PARENB | PARODD | CRTSCTS);
    t.c_iflag &= ~(IXON | IXANY | IXOFF);
    switch (word & 192) {
    case 0:
        t.c_cflag |= CS5;
        break;
    case 64:
        t.c_cflag |= CS7;
        break;
    case 128:
        t.c_cflag |= CS6;
        break;
    default:
        t.c_cflag |= CS8;
        break;
    }
    if ((word & 12) != 4) t.c_cflag |= CSTOPB;
    if (word & 1) {
        t.c_cflag |= PARENB;
        if (!(word & 2)) t.c_cflag |= PARODD;
    }
    if (word & 256) t.c_iflag |= IXOFF;
    if (word & 512) t.c_iflag |= IXON;
    if ((word & 1024) && xflag && cfloflag) t.c_iflag |= static_cast<tcflag_t>(ixonset);
    // The word has no bit for hardware flow control; the line protocol says it.
    if (prot == 3) t.c_cflag |= CRTSCTS;
    t.c_cc[VMIN] = ccval(vmin);
    t.c_cc[VTIME] = ccval(vtime);
}

int serset(int fd, int word) {
    termios t{};
    if (getio(fd, &t) < 0) return -1;
    serword(t, word);
    return tcsetattr(fd, TCSADRAIN, &t);
}

int sersbaud(int fd, int code) {
    termios t{};
    if (getio(fd, &t) < 0) return -1;
    cfsetospeed(&t, static_cast<speed_t>(code));
    cfsetispeed(&t, static_cast<speed_t>(code));
    tospeed = code;
    return tcsetattr(fd, TCSADRAIN, &t);
}

long sergbaud(int fd, int remember) {
    termios t{};
    if (getio(fd, &t) < 0) return 9600;
    int code = static_cast<int>(cfgetospeed(&t));
    if (remember) tospeed = code;
    for (const BaudEntry* b = serbauds; b->rate; b++)
        if (b->code == code) return b->rate;
    return 9600;
}

int serbrk(int fd) {
    int r = tcsendbreak(fd, 0);
    // A pseudo-terminal has no break condition; its peer gets what a receiver with ordinary
    // input settings reads for a break: one NUL.
    if (r == 0 && ispty(fd)) {
        const char nul = 0;
        if (write(fd, &nul, 1) != 1) r = -1;
    }
    return r;
}

void consxon(int on) {
    if (!ixonset || xflag || qflag || cfloflag) return;
    termios t{};
    if (getio(ttyfd, &t) < 0) return;
    if (on)
        t.c_iflag |= static_cast<tcflag_t>(ixonset);
    else
        t.c_iflag &= ~static_cast<tcflag_t>(ixonset);
    tcsetattr(ttyfd, TCSADRAIN, &t);
}

int guardedopen(const char* path, int flags, unsigned seconds, bool* timedout) {
    AlarmGuard guard;
    guard.arm(seconds);
    int fd = open(path, flags);
    if (timedout) *timedout = fd < 0 && guard.fired();
    return fd;
}

// ---- driver operations -----------------------------------------------------------------

int asyinit(int, const char* name) {
    const char* locked = dolock(name);
    if (!locked) return -1;
    const std::string path = locked;
    const bool part = startswith(path, partopen);
    const bool node = startswith(path, "//");
    const int base = O_RDWR | O_NOCTTY;

    if (preoflag) {
        int fd = guardedopen(path.c_str(), base, 2, nullptr);
        if (fd >= 0) close(fd);
    }

    int fd = -1;
    bool timedout = false, ok = false;
    {
        AlarmGuard guard;
        guard.arm(node ? 30 : 10);
        fd = open(path.c_str(), part ? base : base | O_NONBLOCK);
        if (fd >= 0 && serraw(fd) == 0) {
            if (part) {
                ok = true;
            } else {
                // The second open keeps the descriptor that did not wait for carrier.
                int fd2 = open(path.c_str(), node ? base : base | O_NONBLOCK);
                close(fd);
                fd = fd2;
                ok = fd >= 0 && serraw(fd) == 0;
            }
        }
        timedout = !ok && guard.fired();
    }
    if (timedout)
        aberr("Timeout on VORN communications port close: check cable or disable port\r\n");
    if (ok) {
        comfd = fd;
        if (startcom(COMQSIZE) == 0) return 0;
        comfd = -1;
    }
    if (fd >= 0) close(fd);
    delock();
    aberr("Can't open %s\r\n", path.c_str());
    return -1;
}

int asyvt(const char* parameters) {
    int r = parameters && *parameters ? setparms(parameters) : setbaud(baud);
    if (r < 0) return -1;
    if (!reinit) zzprintf("Connected %u on %s\r\n", static_cast<unsigned>(baud), comline.c_str());
    return 0;
}

int asyexit() {
    linesettle();
    if (!exitdtr && comfd >= 0) {
        sersbaud(comfd, B0);
        sleep(1);
    }
    closecom();
    if (enabled) sleep(2);
    if (!reinit) delock();
    return 0;
}

int asyset(int word) {
    serset(comfd, word);
    return 0;
}

int asybaud(int code) {
    return sersbaud(comfd, code);
}

int asybrk() {
    return serbrk(comfd);
}

void serreset() {
    exitdtr = preoflag = cfloflag = 0;
    partopen.clear();
    vmin = vtime = 1;
    tospeed = B9600;
}
