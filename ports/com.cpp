#include "ports/com.h"

#include "core/fmt.h"
#include "core/start.h"
#include "core/term.h"
#include "ports/alarm.h"
#include "ports/console.h"
#include "ports/pty.h"
#include "ports/serial.h"
#include "ports/service.h"
#include "ports/settings.h"
#include "ports/trans.h"
#include "screen/display.h"
#include "screen/keyboard.h"
#include "script/cmd.h"
#include "script/window.h"
#include "transfer/capture.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

// ---- driver tables ---------------------------------------------------------------------

// clang-format off
const BaudEntry nullbauds[] = {
    {115200, 1}, {57600, 1}, {38400, 1}, {19200, 1}, {9600, 1}, {4800, 1}, {2400, 1},
    {1800, 1},   {1200, 1},  {600, 1},   {300, 1},   {200, 1},  {150, 1},  {134, 1},
    {110, 1},    {75, 1},    {50, 1},    {0, 0},
};
// clang-format on

namespace {
int nulinit(int, const char*) {
    return 0;
}
int nulvt(const char*) {
    zzprintf("Connected to NUL Driver\r\n");
    return 0;
}
int nulzero() {
    return 0;
}
int nulzeroi(int) {
    return 0;
}
} // namespace

ComDriver nulfunc = {nulinit,  nulvt,    nulzero, fdst,    fdstnh,  fdin,      fdout, fdbout,
                     nulzeroi, nulzeroi, nulzero, nulzero, nulzero, nullbauds, 0,     COMBUFSIZ};

// Searched in order; the first prefix of the port name wins, so "telnete" and "telnetb" must
// come before "telnet".
// clang-format off
const Transport ilist[] = {
    {"rlogin",  0, &bsdfuncs},
    {"telnete", 2, &tnetfuncs},
    {"telnetb", 1, &tnetfuncs},
    {"telnet",  0, &tnetfuncs},
    {"acs",     0, &acsfuncs},
    {"pty",     0, &ptyfuncs},
    {"nul",     0, &nulfunc},
    {"NUL",     0, &nulfunc},
    {"tty",     0, &asyfuncs},
    {"/dev/",   0, &asyfuncs},
    {nullptr,   0, nullptr},
};
// clang-format on

// ---- line state ------------------------------------------------------------------------

ComDriver* COM = &nulfunc;
int comfd = -1;
int ttyfd = 0;
CharQueue comq, ttyq, iqueue;
uint8_t connected = 0;
std::string comline;
std::string curtransport;
int reinit = 0;
int selmaxfd = 1;
uint16_t consbuf[81];
int consp = -1;
int escloop = 120;
int xorqflag = 0;
int canabort = 1;
int exitdisc = 0;

namespace {
constexpr int ESCLOOP_OPEN = 600; // ESC wait while a line competes with the console
int savedescloop = 120;
bool escraised = false;
int conseof = 0; // console reads in a row that gave end of file or an error
int nbfd = -1;   // the line descriptor while a LineNonblock holds it non-blocking

bool zmprot() {
    return errprot == 6 || errprot == 7;
}

// The line output queue (see lineput).
std::string outq;       // bytes the line has not taken yet, from outhead on
size_t outhead = 0;     // first byte of outq not yet written
bool outgaveup = false; // a stuck send was ended by a signal: the exit path never waits again

size_t outcount() {
    return outq.size() - outhead;
}

void outdiscard() {
    outq.clear();
    outhead = 0;
}
} // namespace

const Transport* findtransport(const char* name) {
    if (!name) return nullptr;
    for (const Transport* t = ilist; t->prefix; t++)
        if (std::strncmp(t->prefix, name, std::strlen(t->prefix)) == 0) return t;
    return nullptr;
}

// ---- opening and closing ---------------------------------------------------------------

int cominit(const char* list) {
    connected = 0;
    zflag = 0;
    const std::string all = list ? list : "nul:";
    std::string name;
    int tried = 0;
    bool ok = false;
    size_t pos = 0;
    while (pos <= all.size()) {
        size_t end = all.find(';', pos);
        if (end == std::string::npos) end = all.size();
        std::string one = all.substr(pos, end - pos);
        pos = end + 1;
        tried++;
        const Transport* t = findtransport(one.c_str());
        if (!t) {
            aberr("Unknown transport: %s\r\n", one.c_str());
            continue;
        }
        COM = t->driver;
        if (COM->init(t->variant, one.c_str()) >= 0) {
            name = one;
            ok = true;
            break;
        }
        COM = &nulfunc;
    }
    if (COM == &nulfunc) {
        zflag = 1;
        startcom(0);
        name = "nul:";
        if (tried > 1 && !ok) aberr("All VORN devices busy: %s\r\n", all.c_str());
    }
    comline = name;
    if (!reinit) curtransport = name;
    if (!ok) return -1;
    connected = 1;
    return 0;
}

int comexit() {
    COM->exit();
    return cominit(nullptr);
}

int startcom(int size) {
    if (comfd >= 0 && !escraised) {
        savedescloop = escloop;
        escloop = ESCLOOP_OPEN;
        escraised = true;
    }
    startsel(!xorqflag);
    if (size && qinit(comq, size) < 0) return -1;
    return 0;
}

void startsel(int console) {
    int m = -1;
    if (comfd >= 0 && !zflag) m = comfd;
    if (console && ttyfd > m) m = ttyfd;
    selmaxfd = m + 1;
}

void closecom() {
    if (comfd >= 0) {
        AlarmGuard guard;
        guard.arm(10);
        if (close(comfd) < 0 && errno == EINTR && comalarm)
            aberr("Timeout on VORN communications port close: check cable or disable port\r\n");
    }
    comfd = -1;
    nbfd = -1;
    outdiscard();
    if (escraised) escloop = savedescloop;
    escraised = false;
}

int doxqz() {
    if (!xflag && !qflag) {
        zflag = 1;
        startcom(0);
        return 0;
    }
    xorqflag = 1;
    int null = open("/dev/null", O_WRONLY);
    if (null >= 0) {
        // Nothing is drawn: standard output goes nowhere and becomes the console descriptor,
        // which is never read in these modes (in server mode descriptor 0 is the line).
        dup2(null, 1);
        close(null);
        ttyfd = 1;
    }
    if (qflag && !xflag) return 0;
    comfd = 0;
    setraw(0);
    serset(0, 244);
    if (!parmptr.empty()) {
        // The null driver would only record the parameters; the serial driver's set and baud
        // put them on standard input, which is the line now.
        ComDriver* keep = COM;
        COM = &asyfuncs;
        int r = setparms(parmptr.c_str());
        COM = keep;
        if (r < 0) return -1;
    }
    baud = sergbaud(0, 1);
    return startcom(COMQSIZE);
}

int setdtr(int on) {
    dtr = on ? 1 : 0;
    setstat();
    if (!on) {
        COM->baud(0);
        sleep(2);
        COM->baud(baudcode(baud));
    }
    return 0;
}

void dodisconnect() {
    zzprintf("\r\n[Disconnected]\r\n");
    if (exitdisc) doneterm(0);
    comexit();
    qchar(KC_LOSTLINE, ttyq);
}

// ---- line I/O --------------------------------------------------------------------------

int _comin() {
    while (qempty(comq))
        waitread(1);
    return unqchar(comq);
}

int _comst(int wait) {
    if (!qempty(comq)) return 1;
    if (wait) {
        oflush();
        waitread(1);
    } else {
        waitread(0);
    }
    return !qempty(comq);
}

int fdin() {
    return _comin();
}
int fdst() {
    return _comst(1);
}
int fdstnh() {
    return _comst(0);
}
int fdout(int byte) {
    uint8_t b = static_cast<uint8_t>(byte);
    return lineput(&b, 1, true);
}
int fdbout(const uint8_t* buf, int len) {
    if (len <= 0) return 0;
    return lineput(buf, len, true);
}
int netread(int fd, void* buf, int len) {
    return static_cast<int>(read(fd, buf, static_cast<size_t>(len)));
}

void comflush() {
    qclear(comq);
    waitread(0);
    qclear(comq);
}

namespace {
// The line gave end of file or an error: it is lost.
void lostline() {
    dodisconnect();
}

// The queues exist from the first wait on, whoever waits first.
void queuesready() {
    if (ttyq.size == 0) qinit(ttyq, TTYQSIZE);
    if (iqueue.size == 0) qinit(iqueue, TTYQSIZE);
    if (comq.size == 0) qinit(comq, COMQSIZE);
}

// Keys read while the console ring was full (only while a send waits for the line, so the
// command key behind a long paste is still seen); they go to the ring first.
std::string consextra;
constexpr size_t CONSEXTRAMAX = 1 << 20;

void refillconsole() {
    size_t k = std::min(consextra.size(), static_cast<size_t>(qroom(ttyq)));
    if (k == 0) return;
    qwrite(ttyq, reinterpret_cast<const unsigned char*>(consextra.data()), static_cast<int>(k));
    consextra.erase(0, k);
}

// Takes what the console has, at most what the ring can still hold, so no key is lost; with
// `overflow` what does not fit is kept in consextra.
void readconsole(bool overflow = false) {
    uint8_t buf[CONSREAD];
    refillconsole();
    int room = consextra.empty() ? qroom(ttyq) : 0;
    if (overflow) room = CONSREAD;
    if (room <= 0) return;
    ssize_t n = read(ttyfd, buf, static_cast<size_t>(room < CONSREAD ? room : CONSREAD));
    if (n <= 0) {
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
        zzprintf("\r\n[selerdr: Eof/Error on console]\r\n");
        // A console that keeps answering end of file has hung up.
        if (++conseof >= 10) donesig = SIGHUP;
        return;
    }
    conseof = 0;
    int in = consextra.empty() ? qwrite(ttyq, buf, static_cast<int>(n)) : 0;
    consextra.append(reinterpret_cast<const char*>(buf) + in, static_cast<size_t>(n - in));
}

// True when `key` (a byte) waits in the console ring or behind it.
bool keypending(int key) {
    if (key < 0 || key > 255) return false;
    for (int i = ttyq.rpos; ttyq.buf && i != ttyq.wpos; i = i + 1 == ttyq.size ? 0 : i + 1)
        if (ttyq.buf[i] == key) return true;
    return consextra.find(static_cast<char>(key)) != std::string::npos;
}

// The keys typed before the first `key` are dropped: the command key that ends a stuck send
// ends the paste queued ahead of it too, so the prompt it asks for comes at once.
void dropbefore(int key) {
    std::vector<uint16_t> keys;
    for (int c; (c = unqchar(ttyq)) >= 0;)
        keys.push_back(static_cast<uint16_t>(c));
    keys.insert(keys.end(), consextra.begin(), consextra.end());
    consextra.clear();
    auto at = std::find(keys.begin(), keys.end(), static_cast<uint16_t>(key));
    if (at != keys.end()) keys.erase(keys.begin(), at);
    size_t i = 0;
    while (i < keys.size() && qchar(keys[i], ttyq) == 0)
        i++;
    for (; i < keys.size(); i++)
        consextra += static_cast<char>(keys[i]);
}

// ---- line output queue -----------------------------------------------------------------

// One write that never blocks, whatever mode the descriptor is in (a serial line is opened
// blocking so its reads honour VMIN and VTIME).
ssize_t nbwrite(int fd, const uint8_t* p, size_t n) {
    ssize_t r;
    if (fd == nbfd) { // held non-blocking by a LineNonblock: no mode switch needed
        while ((r = write(fd, p, n)) < 0 && errno == EINTR) {
        }
        return r;
    }
    int fl = fcntl(fd, F_GETFL);
    bool toggle = fl >= 0 && !(fl & O_NONBLOCK);
    if (toggle) fcntl(fd, F_SETFL, fl | O_NONBLOCK);
    while ((r = write(fd, p, n)) < 0 && errno == EINTR) { // a signal must not drop the bytes
    }
    int e = errno;
    if (toggle) fcntl(fd, F_SETFL, fl);
    errno = e;
    return r;
}

bool wouldblock(int e) {
    return e == EAGAIN || e == EWOULDBLOCK;
}

// Writes as much of the queue as the line takes now; -1 when the line failed.
int outpush() {
    while (outcount() > 0 && comfd >= 0) {
        ssize_t n =
            nbwrite(comfd, reinterpret_cast<const uint8_t*>(outq.data()) + outhead, outcount());
        if (n < 0) {
            if (wouldblock(errno)) break;
            outdiscard();
            return -1;
        }
        if (n == 0) break;
        outhead += static_cast<size_t>(n);
    }
    if (outhead == outq.size())
        outdiscard();
    else if (outhead >= static_cast<size_t>(OUTQMAX)) {
        outq.erase(0, outhead);
        outhead = 0;
    }
    return 0;
}

// Waits until the line takes some of the queue. Keys typed meanwhile are read into the console
// ring, so none is lost; the command key (or, where aborting is allowed, the abort key) ends
// the wait with -1 and stays queued for terminal mode. SIGTERM and SIGHUP end the program.
int outwait() {
    if (keypending(cmdchar) || (canabort && keypending(abochar))) {
        dropbefore(keypending(cmdchar) ? cmdchar : abochar);
        outdiscard();
        return -1;
    }
    for (;;) {
        if (donesig) {
            outdiscard();
            outgaveup = true;
            doneterm(donesig);
        }
        if (comfd < 0) return -1;
        pollfd p[2] = {{comfd, POLLOUT, 0}, {ttyfd, POLLIN, 0}};
        const bool cons = !xorqflag && ttyfd >= 0 && consextra.size() < CONSEXTRAMAX;
        // Slices, so a signal that lands just before poll is still seen soon.
        int r = poll(p, cons ? 2 : 1, 250);
        if (r < 0 && errno != EINTR) return -1;
        if (r <= 0) continue;
        if (cons && (p[1].revents & (POLLIN | POLLHUP | POLLERR))) readconsole(true);
        if (keypending(cmdchar) || (canabort && keypending(abochar))) {
            dropbefore(keypending(cmdchar) ? cmdchar : abochar);
            outdiscard();
            return -1;
        }
        if (p[0].revents & (POLLERR | POLLNVAL)) {
            outdiscard();
            return -1;
        }
        if (p[0].revents & (POLLOUT | POLLHUP)) return outpush();
    }
}
void readline() {
    // Called only while comq is empty: one read takes what the line holds, up to the queue.
    static uint8_t buf[COMQBIG]; // not on the stack: waitread runs deep in many callers
    const int room = std::min<int>(qroom(comq), static_cast<int>(sizeof buf));
    ssize_t n = read(comfd, buf, static_cast<size_t>(room > 0 ? room : 1));
    if (n < 0 && (errno == EINTR || wouldblock(errno))) return; // a non-blocking line raced
    if (n <= 0) {
        lostline();
        return;
    }
    if (!(COM->flags & COMF_TELNET)) {
        qwrite(comq, buf, static_cast<int>(n));
        return;
    }
    for (ssize_t i = 0; i < n; i++) {
        int c = telinput(buf[i]);
        if (c >= 0) qchar(c, comq);
    }
}
} // namespace

namespace {
// The end of the current comwait on the monotonic clock, in ms, or -1: a blocking waitread
// sleeps no further than that, so the time-out needs no alarm and no signal handler.
long waitdeadline = -1;

long monoms() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<long>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

// Keys already read from the console, so the abort key can be looked for without a call.
bool keysqueued() {
    return !qempty(iqueue) || !qempty(ttyq) || !consextra.empty();
}
} // namespace

int comwait(int seconds) {
    const bool hadline = comfd >= 0;
    const long deadline = seconds > 0 ? monoms() + 1000L * seconds : 0;
    const long outer = waitdeadline;
    struct Restore {
        long v;
        ~Restore() { waitdeadline = v; }
    } restore{outer};
    for (;;) {
        if (!qempty(comq)) return unqchar(comq);
        // A line that hangs up while we wait brings nothing more: no use waiting the time out.
        if (hadline && comfd < 0) return -2;
        // While aborting is allowed the keyboard is read, and every key but the abort key is
        // dropped. Keys typed during the wait are read by the wait itself; only what is already
        // queued is looked at here.
        if (canabort && keysqueued()) {
            for (int k; (k = chrdynh()) != 0;)
                if (k == abochar) return -1;
            if (!qempty(comq)) continue;
        }
        if (seconds <= 0) {
            waitread(0);
            if (!qempty(comq)) continue;
            if (canabort && keysqueued()) {
                for (int k; (k = chrdynh()) != 0;)
                    if (k == abochar) return -1;
                if (!qempty(comq)) continue;
            }
            return -2;
        }
        if (monoms() >= deadline) return -2;
        waitdeadline = deadline;
        waitread(1);
        waitdeadline = outer;
    }
}

int lineput(const uint8_t* buf, int len, bool wait) {
    if (comfd < 0 || len < 0) return -1;
    const int total = len;
    if (outcount() == 0) {
        ssize_t n = nbwrite(comfd, buf, static_cast<size_t>(len));
        if (n == len) return total;
        if (n < 0 && !wouldblock(errno)) return -1;
        if (n > 0) buf += n, len -= static_cast<int>(n);
    }
    if (!wait && outcount() + static_cast<size_t>(len) > static_cast<size_t>(OUTQMAX)) return -1;
    outq.append(reinterpret_cast<const char*>(buf), static_cast<size_t>(len));
    if (outpush() < 0) return -1;
    while (wait && outcount() > static_cast<size_t>(OUTQMAX)) {
        if (outgaveup) {
            outdiscard();
            return -1;
        }
        if (outwait() < 0) return -1;
    }
    return total;
}

void linesettle(double seconds) {
    if (comfd < 0) return;
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    auto elapsed = [&] {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        return static_cast<double>(now.tv_sec - start.tv_sec) +
               static_cast<double>(now.tv_nsec - start.tv_nsec) / 1e9;
    };
    for (;;) {
        int driver = 0;
        if (ioctl(comfd, TIOCOUTQ, &driver) < 0) driver = 0;
        if ((outcount() == 0 && driver == 0) || outgaveup || elapsed() >= seconds) break;
        pollfd p{comfd, POLLOUT, 0};
        if (poll(&p, 1, 50) > 0 && (p.revents & POLLOUT)) outpush();
        if (p.revents & (POLLERR | POLLNVAL | POLLHUP)) break;
    }
    int driver = 0;
    if (outcount() || outgaveup || (ioctl(comfd, TIOCOUTQ, &driver) == 0 && driver > 0))
        tcflush(comfd, TCOFLUSH);
    outdiscard();
}

LineNonblock::LineNonblock() {
    if (comfd < 0 || nbfd >= 0) return;
    fl_ = fcntl(comfd, F_GETFL);
    if (fl_ < 0 || (!(fl_ & O_NONBLOCK) && fcntl(comfd, F_SETFL, fl_ | O_NONBLOCK) < 0)) return;
    nbfd = fd_ = comfd;
}

LineNonblock::~LineNonblock() {
    if (fd_ < 0 || nbfd != fd_) return;
    nbfd = -1;
    if (comfd == fd_ && !(fl_ & O_NONBLOCK)) fcntl(fd_, F_SETFL, fl_);
}

int linepending() {
    return static_cast<int>(outcount());
}

int comreply(const uint8_t* buf, int len) {
    if (len <= 0) return 0;
    if (comfd >= 0 && COM->out == fdout && !cdelay) return lineput(buf, len, false);
    for (int i = 0; i < len; i++)
        dcomout(buf[i]);
    return len;
}

void waitread(int block) {
    queuesready();
    for (;;) {
        if (donesig) doneterm(donesig);
        if (!consextra.empty() && qempty(ttyq)) {
            refillconsole();
            return;
        }
        if (ptyended() && qempty(comq)) {
            // The program on the line has ended: what it wrote last is shown, then the line ends
            // even when a job it left behind still holds the slave open.
            pollfd p{comfd, POLLIN, 0};
            if (poll(&p, 1, 0) <= 0 || !(p.revents & POLLIN)) {
                lostline();
                return;
            }
        }
        fd_set set, wset;
        FD_ZERO(&set);
        FD_ZERO(&wset);
        int nfds = 0;
        bool line = comfd >= 0 && comfd < FD_SETSIZE && qempty(comq);
        bool cons = !xorqflag && ttyfd >= 0 && ttyfd < FD_SETSIZE && qempty(ttyq);
        bool out = comfd >= 0 && comfd < FD_SETSIZE && outcount() > 0;
        if (line) {
            FD_SET(comfd, &set);
            nfds = comfd + 1;
        }
        if (out) {
            FD_SET(comfd, &wset);
            nfds = comfd + 1;
        }
        if (cons) {
            FD_SET(ttyfd, &set);
            if (ttyfd + 1 > nfds) nfds = ttyfd + 1;
        }
        // A blocking wait sleeps in slices, so a signal that lands just before select is
        // still seen within a second; within a comwait, no further than its end.
        struct timeval tv {
            block ? 1 : 0, 0
        };
        if (block && waitdeadline >= 0) {
            const long left = std::max(0L, std::min(1000L, waitdeadline - monoms()));
            tv = {static_cast<time_t>(left / 1000), static_cast<suseconds_t>(left % 1000 * 1000)};
        }
        int r = select(nfds, &set, &wset, nullptr, &tv);
        if (r < 0) {
            if (errno == EINTR && donesig) doneterm(donesig);
            return;
        }
        if (r == 0) {
            if (!block || comalarm || (waitdeadline >= 0 && monoms() >= waitdeadline)) return;
            continue;
        }
        bool got = false;
        if (out && FD_ISSET(comfd, &wset)) outpush();
        if (cons && FD_ISSET(ttyfd, &set)) readconsole(), got = true;
        if (line && comfd >= 0 && FD_ISSET(comfd, &set)) readline(), got = true;
        // Only output went: a blocking wait goes on waiting for input.
        if (got || !block || comalarm) return;
    }
}

// ---- console input ---------------------------------------------------------------------

int _chrdy(int flush) {
    if (qflag) return 0;
    if (qempty(ttyq)) {
        if (flush) oflush();
        waitread(flush);
        if (qempty(ttyq)) return 0;
    }
    // Typed bytes are never masked: parity masking is for what the line receives, and a
    // masked UTF-8 byte would become a command key ("\xc3\x85" would open the escape prompt).
    return unqchar(ttyq);
}

namespace {
void tomatcher(int byte) {
    trans(byte, itrans);
}

// A key string started but its next byte is not coming (the bytes were typed by hand, or the
// console sent only a prefix): after escloop empty polls the held bytes go out as typed.
void stalledmatch() {
    while (qempty(iqueue) && trheld(itrans) > 0) {
        int next = 0;
        for (int i = 0; i < escloop && !next; i++)
            next = _chrdy(0);
        if (!next) {
            trflush(itrans);
            return;
        }
        tomatcher(next);
    }
}

// Next entry of the pending key string, or 0.
int pendkey() {
    if (consp < 0) return 0;
    if (consp >= 80 || consbuf[consp] == 0) {
        consp = -1;
        return 0;
    }
    return consbuf[consp++];
}

// Expands a key's mapped string into the pending key string: "@" is the command key and "\"
// takes the next character literally.
void expandmap(const std::string& s) {
    int n = 0;
    for (size_t i = 0; i < s.size() && n < 80; i++) {
        int c = static_cast<unsigned char>(s[i]);
        if (c == '\\' && i + 1 < s.size())
            c = static_cast<unsigned char>(s[++i]);
        else if (c == '@')
            c = cmdchar;
        if (c <= 0) continue;
        consbuf[n++] = static_cast<uint16_t>(c);
    }
    consbuf[n] = 0;
    consp = n ? 0 : -1;
}
} // namespace

namespace {
// One byte or key from the console into the key-sequence matcher (or straight into the
// decoded-key queue).
void keyin(int c) {
    if (c > 255) {
        qchar(c, iqueue);
    } else if (c == 27) {
        // An ESC alone is the ESC key only when nothing follows it soon.
        int next = 0;
        for (int i = 0; i < escloop && !next; i++)
            next = _chrdy(0);
        if (!next) {
            qchar(27, iqueue);
        } else {
            tomatcher(27);
            tomatcher(next);
        }
    } else {
        tomatcher(c);
    }
    stalledmatch();
}
} // namespace

void keysahead() {
    queuesready();
    if (xorqflag || qflag) return;
    while (int c = _chrdy(0))
        keyin(c);
}

int xchrdy(int flush) {
    queuesready();
    while (qempty(iqueue)) {
        flushwindow();
        int c = _chrdy(flush);
        if (c == 0) return 0;
        keyin(c);
    }
    int k = unqchar(iqueue);
    if (k >= 0 && k < 449 && !map_key[k].empty() && !gold) {
        const std::string& m = map_key[k];
        if (static_cast<unsigned char>(m[0]) == 255) {
            // An `on key` marker: the key raises the event in the top-level command file;
            // anywhere else (no script, a nested file, inside a handler) it is an ordinary key.
            if (flevel != 1 || inoncmd) return k;
            ev_keyseek = std::strtol(m.c_str() + 1, nullptr, 10);
            ev_key = 1;
            return 0;
        }
        if (m.size() >= 2 && m[0] == '@' && m[1] == '@') {
            gerrno = docmd(m.c_str() + 2);
            return 0;
        }
        if (kbtype == 4) return k;
        expandmap(m);
        if (int p = pendkey()) return p;
        return 0;
    }
    return k;
}

int chrdy() {
    return xchrdy(1);
}
int chrdynh() {
    return xchrdy(0);
}

int chrin() {
    if (int k = pendkey()) return k;
    if (xorqflag) return 13;
    for (;;) {
        oflush();
        if (int k = chrdy()) return k;
        // Quiet mode never reads the console, so chrdy did not wait: wait for the line here.
        if (qflag && qempty(comq)) waitread(1);
    }
}

namespace {
bool pathok(const std::string& w) {
    if (w.empty() || w[0] == '/' || w[0] == '~' || w[0] == '-') return false;
    size_t start = 0;
    for (;;) {
        size_t end = w.find('/', start);
        if (w.substr(start, end == std::string::npos ? end : end - start) == "..") return false;
        if (end == std::string::npos) return true;
        start = end + 1;
    }
}

std::vector<std::string> blankwords(const std::string& s) {
    std::vector<std::string> v;
    size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t'))
            i++;
        size_t j = i;
        while (j < s.size() && s[j] != ' ' && s[j] != '\t')
            j++;
        if (j > i) v.push_back(s.substr(i, j - i));
        i = j;
    }
    return v;
}

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// An ACK in remote command mode: the letter and the bytes up to a carriage return become typed
// keys after the command key, when remoteok allows them. A letter other than R, S and ":" is
// discarded with the ACK. The abort key, a time-out, or a command that would not leave room
// for its terminator in the 80-entry buffer discards it.
void remotecmd() {
    int n = 0;
    consbuf[n++] = static_cast<uint16_t>(cmdchar);
    std::string request;
    for (;;) {
        int c = comwait(5);
        if (c < 0 || c == abochar) return;
        if (n >= 79) return;
        if (n == 1 && !ctlfull && c != 'R' && c != 'S' && c != ':') return;
        if (c == 13) break;
        consbuf[n++] = static_cast<uint16_t>(c);
        request += static_cast<char>(c);
    }
    if (!remoteok(request)) {
        zzprintf("\r\n[Remote command refused]\r\n");
        return;
    }
    consbuf[n++] = 13;
    consbuf[n] = 0;
    consp = 0;
}
} // namespace

bool remoteok(const std::string& request) {
    if (request.empty()) return false;
    const char letter = request[0];
    const std::string text = request.substr(1);
    std::vector<std::string> words = blankwords(text);
    if (ctlfull) {
        // Anything, but never the remote-command setting itself.
        return !(letter == ':' && words.size() >= 2 && lower(words[0]) == "set" &&
                 lower(words[1]).compare(0, 3, "con") == 0);
    }
    if (letter != 'R' && letter != 'S' && letter != ':') return false;
    // Names only: no quoting, variables, command separators or redirections get through.
    for (char c : text)
        if (!std::isalnum(static_cast<unsigned char>(c)) && !std::strchr(" \t._-+,=@*?()/", c))
            return false;
    size_t first = 0;
    if (letter == ':') {
        static const char* const allowed[] = {"xfer", "send", "get", "rcv", "cd"};
        if (words.empty()) return false;
        const std::string cmd = lower(words[0]);
        if (std::none_of(std::begin(allowed), std::end(allowed),
                         [&](const char* a) { return cmd == a; }))
            return false;
        if (cmd == "cd" && words.size() != 2) return false;
        first = 1;
    }
    for (size_t i = first; i < words.size(); i++)
        if (!pathok(words[i])) return false;
    return true;
}

int remotebyte() {
    return cflag && !printing() && !zmprot() ? 6 : -1;
}

int chwait(int* byte) {
    for (;;) {
        if (winchsig) return 0; // terminal mode takes the new window size first
        if (int k = pendkey()) return k;
        if (!qempty(iqueue))
            if (int k = chrdy()) return k;
        if (!qempty(comq)) {
            int c = unqchar(comq);
            if (c == remotebyte()) {
                remotecmd();
                continue;
            }
            *byte = c;
            return -1;
        }
        if (int k = chrdy()) return k;
        // Quiet mode never reads the console, so chrdy did not wait: wait for the line here.
        if (qflag && qempty(comq)) waitread(1);
    }
}

void comreset() {
    COM = &nulfunc;
    nulfunc.combufsiz = COMBUFSIZ;
    comfd = -1;
    nbfd = -1;
    ttyfd = 0;
    qinit(comq, COMQSIZE);
    qinit(ttyq, TTYQSIZE);
    qinit(iqueue, TTYQSIZE);
    connected = 0;
    comline.clear();
    curtransport.clear();
    reinit = 0;
    selmaxfd = 1;
    consbuf[0] = 0;
    consp = -1;
    escloop = 120;
    savedescloop = 120;
    escraised = false;
    xorqflag = 0;
    canabort = 1;
    exitdisc = 0;
    conseof = 0;
    comalarm = 0;
    outdiscard();
    outgaveup = false;
    consextra.clear();
    ctlfull = 0;
    trinit(itrans, iqueue);
}
