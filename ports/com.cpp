#include "ports/com.h"

#include "core/fmt.h"
#include "core/start.h"
#include "core/term.h"
#include "ports/alarm.h"
#include "ports/console.h"
#include "ports/serial.h"
#include "ports/service.h"
#include "ports/settings.h"
#include "ports/trans.h"
#include "screen/display.h"
#include "screen/keyboard.h"
#include "script/cmd.h"
#include "script/window.h"
#include "transfer/capture.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <sys/select.h>
#include <unistd.h>

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
int canabort = 0;
int exitdisc = 0;

namespace {
constexpr int ESCLOOP_OPEN = 600; // ESC wait while a line competes with the console
int savedescloop = 120;
bool escraised = false;
int conseof = 0; // console reads in a row that gave end of file or an error

bool zmprot() {
    return errprot == 6 || errprot == 7;
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
    ssize_t n;
    while ((n = write(comfd, &b, 1)) < 0 && errno == EINTR) { // a signal must not drop the byte
    }
    return static_cast<int>(n);
}
int fdbout(const uint8_t* buf, int len) {
    if (len <= 0) return 0;
    ssize_t n;
    while ((n = write(comfd, buf, static_cast<size_t>(len))) < 0 && errno == EINTR) {
    }
    return static_cast<int>(n);
}
int netread(int fd, void* buf, int len) {
    return static_cast<int>(read(fd, buf, static_cast<size_t>(len)));
}

int comwait(int seconds) {
    AlarmGuard guard;
    bool armed = false;
    for (;;) {
        if (!qempty(comq)) return unqchar(comq);
        if (canabort) {
            // While aborting is allowed the keyboard is read, and every key but the abort key
            // is dropped.
            for (int k; (k = chrdynh()) != 0;)
                if (k == abochar) return -1;
            if (!qempty(comq)) continue;
        }
        if (comalarm) return -2;
        if (seconds <= 0) {
            waitread(0);
            if (!qempty(comq)) continue;
            return -2;
        }
        if (!armed) {
            guard.arm(static_cast<unsigned>(seconds));
            armed = true;
        }
        waitread(1);
    }
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

void readconsole() {
    uint8_t buf[TTYQSIZE];
    ssize_t n = read(ttyfd, buf, sizeof buf);
    if (n <= 0) {
        if (n < 0 && errno == EINTR) return;
        zzprintf("\r\n[selerdr: Eof/Error on console]\r\n");
        // A console that keeps answering end of file has hung up.
        if (++conseof >= 10) donesig = SIGHUP;
        return;
    }
    conseof = 0;
    for (ssize_t i = 0; i < n; i++)
        qchar(buf[i], ttyq);
}

void readline() {
    uint8_t buf[COMBUFSIZ];
    ssize_t n = read(comfd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) return;
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

void waitread(int block) {
    queuesready();
    for (;;) {
        if (donesig) doneterm(donesig);
        fd_set set;
        FD_ZERO(&set);
        int nfds = 0;
        bool line = comfd >= 0 && comfd < FD_SETSIZE && qempty(comq);
        bool cons = !xorqflag && ttyfd >= 0 && ttyfd < FD_SETSIZE && qempty(ttyq);
        if (line) {
            FD_SET(comfd, &set);
            nfds = comfd + 1;
        }
        if (cons) {
            FD_SET(ttyfd, &set);
            if (ttyfd + 1 > nfds) nfds = ttyfd + 1;
        }
        // A blocking wait sleeps in slices, so a signal that lands just before select is
        // still seen within a second.
        struct timeval tv {
            block ? 1 : 0, 0
        };
        int r = select(nfds, &set, nullptr, nullptr, &tv);
        if (r < 0) {
            if (errno == EINTR && donesig) doneterm(donesig);
            return;
        }
        if (r == 0) {
            if (!block || comalarm) return;
            continue;
        }
        if (cons && FD_ISSET(ttyfd, &set)) readconsole();
        if (line && comfd >= 0 && FD_ISSET(comfd, &set)) readline();
        return;
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

int xchrdy(int flush) {
    queuesready();
    while (qempty(iqueue)) {
        flushwindow();
        int c = _chrdy(flush);
        if (c == 0) return 0;
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
// An ACK in remote command mode: the bytes up to a carriage return become typed keys after the
// command key. The abort key, a time-out, or a command that would not leave room for its
// terminator in the 80-entry buffer discards it.
void remotecmd() {
    int n = 0;
    consbuf[n++] = static_cast<uint16_t>(cmdchar);
    for (;;) {
        int c = comwait(5);
        if (c < 0 || c == abochar) return;
        if (n >= 79) return;
        consbuf[n++] = static_cast<uint16_t>(c);
        if (c == 13) {
            consbuf[n] = 0;
            consp = 0;
            return;
        }
    }
}
} // namespace

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
    canabort = 0;
    exitdisc = 0;
    conseof = 0;
    comalarm = 0;
    trinit(itrans, iqueue);
}
