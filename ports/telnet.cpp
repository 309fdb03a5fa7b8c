#include "ports/telnet.h"

#include "core/fmt.h"
#include "core/start.h"
#include "core/term.h"
#include "emulators/emulate.h"
#include "ports/com.h"
#include "screen/vscreen.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

TelnetState tn;

namespace {
int device = 0; // variant of the open connection: 0 telnet, 1 telnetb, 2 telnete

// Subnegotiation data longer than this is not a terminal-type or window-size exchange: the
// filter gives up on it and goes back to data, so a peer that never ends one cannot blank the
// session for good.
constexpr int SBMAX = 4096;
constexpr int MAXTERMNAME = 40;

const char* const optnames[25] = {"Transmit Binary",
                                  "Echo",
                                  "",
                                  "Suppress Go Ahead",
                                  "",
                                  "Status",
                                  "Timing Mark",
                                  "",
                                  "",
                                  "",
                                  "",
                                  "",
                                  "",
                                  "",
                                  "",
                                  "",
                                  "",
                                  "",
                                  "",
                                  "",
                                  "",
                                  "",
                                  "",
                                  "",
                                  "Terminal Type"};

const char* optname(int opt) {
    if (opt < 25) return optnames[opt];
    return opt == TO_NAWS ? "Window Size" : "";
}

const char* cmdword(int cmd) {
    switch (cmd) {
    case T_WILL:
        return "will";
    case T_WONT:
        return "wont";
    case T_DO:
        return "do";
    case T_DONT:
        return "dont";
    default:
        return "sb";
    }
}

void trace(const char* dir, int cmd, int opt) {
    if (vtdebug >= 1)
        zzprintf("%s: %s %s (%u)\r\n", dir, cmdword(cmd), optname(opt), static_cast<unsigned>(opt));
}

// Negotiation bytes never wait: a peer that floods requests and reads nothing back would
// otherwise fill the socket and stop the program in a write. What does not fit waits in a small
// buffer, sent before anything else; an answer that would overflow it is dropped whole (the
// peer is not reading anyway), so the stream never carries half a command.
constexpr size_t PENDMAX = 512;
std::string pending;

bool sendsome(const uint8_t*& buf, size_t& len, bool wait) {
    while (len > 0) {
        ssize_t n = send(comfd, buf, len, (wait ? 0 : MSG_DONTWAIT) | MSG_NOSIGNAL);
        if (n < 0 && errno == ENOTSOCK) n = write(comfd, buf, len);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        buf += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

// Sends what is pending; with `wait` (before user data) as a blocking write would.
void flushpending(bool wait) {
    if (pending.empty() || comfd < 0) return;
    const uint8_t* p = reinterpret_cast<const uint8_t*>(pending.data());
    size_t len = pending.size();
    bool all = sendsome(p, len, wait);
    pending.erase(0, pending.size() - len);
    if (!all && wait) pending.clear(); // the line is broken: the read side will notice
}

void netsend(const uint8_t* buf, size_t len) {
    if (comfd < 0) return;
    flushpending(false);
    if (!pending.empty()) {
        if (pending.size() + len <= PENDMAX)
            pending.append(reinterpret_cast<const char*>(buf), len);
        return;
    }
    if (!sendsome(buf, len, false) && len > 0 && errno != EPIPE)
        pending.append(reinterpret_cast<const char*>(buf), len);
}

bool filtering() {
    return (COM->flags & COMF_TELNET) != 0;
}

// Options this side agrees to: the peer may do BINARY, ECHO, SGA and TTYPE; this side does
// BINARY, SGA, TTYPE and NAWS.
bool hisok(int opt) {
    return opt == TO_BINARY || opt == TO_ECHO || opt == TO_SGA || opt == TO_TTYPE;
}
bool myok(int opt) {
    return opt == TO_BINARY || opt == TO_SGA || opt == TO_TTYPE || opt == TO_NAWS;
}

constexpr uint8_t ASKED_DO = 1, ASKED_WILL = 2;

void sendnaws() {
    uint8_t buf[16];
    size_t n = 0;
    buf[n++] = T_IAC;
    buf[n++] = T_SB;
    buf[n++] = TO_NAWS;
    int cols = vcols < 0 ? 0 : vcols, rows = vlines < 0 ? 0 : vlines;
    for (int v : {cols >> 8, cols & 255, rows >> 8, rows & 255}) {
        buf[n++] = static_cast<uint8_t>(v);
        if (v == T_IAC) buf[n++] = T_IAC;
    }
    buf[n++] = T_IAC;
    buf[n++] = T_SE;
    tn.nawsrows = vlines;
    tn.nawscols = vcols;
    trace("SENT", T_SB, TO_NAWS);
    netsend(buf, n);
}

void suboption() {
    if (tn.sbopt != TO_TTYPE || !tn.hisdo[TO_TTYPE]) return;
    // Only a request (SEND) is answered; a peer's own IS is not echoed back.
    if (tn.sblen < 1 || tn.sbdata[0] != 1) return;
    trace("RECV", T_SB, TO_TTYPE);
    std::string name = getemname(vemode);
    std::string out = {static_cast<char>(T_IAC), static_cast<char>(T_SB),
                       static_cast<char>(TO_TTYPE), 0};
    out += name;
    out += static_cast<char>(T_IAC);
    out += static_cast<char>(T_SE);
    trace("SENT", T_SB, TO_TTYPE);
    netsend(reinterpret_cast<const uint8_t*>(out.data()), out.size());
}

void gotwill(int opt) {
    trace("RECV", T_WILL, opt);
    if (!hisok(opt)) {
        telanswer(T_DONT, opt);
        return;
    }
    bool acked = tn.asked[opt] & ASKED_DO;
    tn.asked[opt] &= static_cast<uint8_t>(~ASKED_DO);
    if (opt == TO_ECHO) dupmode = 1; // the host echoes: full duplex
    if (tn.hiswill[opt]) return;
    tn.hiswill[opt] = 1;
    if (!acked) telanswer(T_DO, opt);
}

void gotwont(int opt) {
    trace("RECV", T_WONT, opt);
    if (!tn.hiswill[opt]) return; // never on: nothing to acknowledge
    tn.hiswill[opt] = 0;
    if (opt == TO_ECHO) dupmode = 2; // the host stopped echoing: half duplex
    bool refused = tn.asked[opt] & ASKED_DO;
    tn.asked[opt] &= static_cast<uint8_t>(~ASKED_DO);
    if (!refused) telanswer(T_DONT, opt);
}

void gotdo(int opt) {
    trace("RECV", T_DO, opt);
    if (!myok(opt)) {
        telanswer(T_WONT, opt);
        return;
    }
    bool acked = tn.asked[opt] & ASKED_WILL;
    tn.asked[opt] &= static_cast<uint8_t>(~ASKED_WILL);
    if (tn.hisdo[opt]) return;
    tn.hisdo[opt] = 1;
    if (!acked) telanswer(T_WILL, opt);
    if (opt == TO_NAWS) sendnaws();
}

void gotdont(int opt) {
    trace("RECV", T_DONT, opt);
    if (!tn.hisdo[opt]) return;
    tn.hisdo[opt] = 0;
    bool refused = tn.asked[opt] & ASKED_WILL;
    tn.asked[opt] &= static_cast<uint8_t>(~ASKED_WILL);
    if (!refused) telanswer(T_WONT, opt);
}

// The byte after an IAC outside a subnegotiation.
int aftiac(int byte) {
    switch (byte) {
    case T_IAC:
        tn.state = 0;
        return T_IAC;
    case T_SB:
        tn.state = 6;
        break;
    case T_WILL:
    case T_WONT:
    case T_DO:
    case T_DONT:
        tn.state = 2 + (byte - T_WILL);
        break;
    default:
        tn.state = 0; // other commands (GA, NOP, DM, ...) carry nothing for us
        break;
    }
    return -1;
}

void sbbyte(int byte) {
    if (tn.sblen < static_cast<int>(sizeof tn.sbdata))
        tn.sbdata[tn.sblen] = static_cast<uint8_t>(byte);
    if (++tn.sblen > SBMAX) tn.state = 0;
}

} // namespace

void telreset() {
    pending.clear();
    int keep = tn.userdup;
    tn = TelnetState{};
    tn.userdup = keep;
}

int telinput(int byte) {
    byte &= 255;
    if (vtdebug > 1) zzprintf("[%x,%d]\r\n", static_cast<unsigned>(byte), tn.state);
    switch (tn.state) {
    case 0:
        if (tn.hisdo[TO_NAWS]) telwinch();
        if (byte != T_IAC) return byte;
        tn.state = 1;
        return -1;
    case 1:
        return aftiac(byte);
    case 2:
    case 3:
    case 4:
    case 5: {
        int s = tn.state;
        tn.state = 0;
        if (s == 2) gotwill(byte);
        if (s == 3) gotwont(byte);
        if (s == 4) gotdo(byte);
        if (s == 5) gotdont(byte);
        return -1;
    }
    case 6:
        tn.sbopt = byte;
        tn.sblen = 0;
        tn.state = 7;
        return -1;
    case 7:
        if (byte == T_IAC)
            tn.state = 8;
        else
            sbbyte(byte);
        return -1;
    default: // 8: IAC inside a subnegotiation
        if (byte == T_SE) {
            tn.state = 0;
            suboption();
            return -1;
        }
        if (byte == T_IAC) {
            tn.state = 7; // an escaped 255 in the data
            sbbyte(byte);
            return -1;
        }
        // IAC and a command without SE: the peer forgot to end the subnegotiation. It is
        // dropped unanswered and the command is read as one, so the data after it shows.
        return aftiac(byte);
    }
}

void telanswer(int command, int option) {
    const uint8_t b[3] = {static_cast<uint8_t>(T_IAC), static_cast<uint8_t>(command),
                          static_cast<uint8_t>(option)};
    trace("SENT", command, option);
    netsend(b, 3);
}

void telwinch() {
    if (!tn.hisdo[TO_NAWS] || comfd < 0) return;
    if (tn.nawsrows != vlines || tn.nawscols != vcols) sendnaws();
}

void telinit(int variant) {
    telreset();
    if (variant & 2) {
        tn.hiswill[TO_ECHO] = tn.hiswill[TO_SGA] = 1;
        tn.asked[TO_ECHO] = tn.asked[TO_SGA] = ASKED_DO;
        tn.hisdo[TO_SGA] = 1;
        tn.asked[TO_SGA] |= ASKED_WILL;
        telanswer(T_DO, TO_ECHO);
        telanswer(T_DO, TO_SGA);
        telanswer(T_WILL, TO_SGA);
    }
    if (variant & 1) {
        COM->flags &= ~COMF_TELNET;
        tn.hisdo[TO_BINARY] = tn.hiswill[TO_BINARY] = 1;
        telanswer(T_WILL, TO_BINARY);
        telanswer(T_DO, TO_BINARY);
    }
}

// ---- output ----------------------------------------------------------------------------

int telout(int byte) {
    if (!filtering()) return fdout(byte);
    telwinch();
    flushpending(true);
    if ((byte & 255) != T_IAC) return fdout(byte);
    const uint8_t two[2] = {T_IAC, T_IAC};
    return fdbout(two, 2) == 2 ? 1 : -1;
}

int telbout(const uint8_t* buf, int len) {
    if (!filtering()) return fdbout(buf, len);
    telwinch();
    flushpending(true);
    if (len <= 0) return 0;
    uint8_t out[2 * COMBUFSIZ];
    int done = 0;
    while (done < len) {
        int n = 0;
        while (done < len && n < COMBUFSIZ) {
            uint8_t b = buf[done++];
            out[n++] = b;
            if (b == T_IAC) out[n++] = T_IAC;
        }
        int off = 0;
        while (off < n) {
            int w = fdbout(out + off, n - off);
            if (w <= 0) return done > 0 ? done : w;
            off += w;
        }
    }
    return len;
}

int bsdbrk() {
    if (filtering()) {
        flushpending(true);
        const uint8_t b[2] = {T_IAC, T_BRK};
        return fdbout(b, 2) == 2 ? 0 : -1;
    }
    if (brkchar >= 0 && brkchar <= 255) fdout(brkchar);
    return 0;
}

// ---- names -----------------------------------------------------------------------------

std::string getemname(int mode) {
    struct Name {
        int mode;
        const char* name;
    };
    static const Name names[] = {
        {EM_ANSI, "ansi"},     {EM_SCOANSI, "ansi"},         {EM_VT52, "vt52"},
        {EM_WYSE60, "wyse60"}, {EM_PCTERM, "wyse60"},        {EM_TV912, "tvi912"},
        {EM_WYSE50, "wyse50"}, {EM_TV925, "tvi925"},         {EM_VT2207, "vt220"},
        {EM_VT2208, "vt220"},  {EM_IB3101, "ibm3101"},       {EM_TV950, "tvi950"},
        {EM_ADM1, "adm1"},     {EM_XTERM, "xterm-256color"},
    };
    mode &= ~1;
    if (mode == EM_TTY) {
        // The user's own TERM goes to the host inside a negotiation: only a short printable
        // name is safe to put there.
        const char* t = std::getenv("TERM");
        std::string s = t ? t : "";
        bool ok = !s.empty() && s.size() <= MAXTERMNAME;
        for (char c : s)
            if (c <= ' ' || c > '~') ok = false;
        return ok ? s : "dumb";
    }
    for (const Name& n : names)
        if (n.mode == mode) return n.name;
    return "vt100";
}

std::string rloginstart(const std::string& user, int mode) {
    std::string s(1, '\0');
    s += user;
    s += '\0';
    s += user;
    s += '\0';
    s += getemname(mode) + "/9600";
    s += '\0';
    return s;
}

// ---- connecting ------------------------------------------------------------------------

int splitaddr(const char* address, std::string& host, int& port) {
    std::string a = address ? address : "";
    host.clear();
    port = 0;
    std::string portpart;
    bool hasport = false;
    if (!a.empty() && a[0] == '[') {
        size_t close = a.find(']');
        if (close == std::string::npos) return -1;
        host = a.substr(1, close - 1);
        std::string rest = a.substr(close + 1);
        if (!rest.empty()) {
            if (rest[0] != ':' && rest[0] != '#') return -1;
            portpart = rest.substr(1);
            hasport = true;
        }
    } else {
        size_t colon = a.rfind(':');
        bool v6 = colon != std::string::npos && a.find(':') != colon; // a bare IPv6 literal
        size_t sep = v6 || colon == std::string::npos ? a.find('#') : colon;
        if (sep != std::string::npos) {
            host = a.substr(0, sep);
            portpart = a.substr(sep + 1);
            hasport = true;
        } else {
            host = a;
        }
    }
    if (host.empty()) return -1;
    if (!hasport) return 0;
    if (portpart.empty() || portpart.size() > 5) return -1;
    long v = 0;
    for (char c : portpart) {
        if (c < '0' || c > '9') return -1;
        v = v * 10 + (c - '0');
    }
    if (v < 1 || v > 65535) return -1;
    port = static_cast<int>(v);
    return 0;
}

namespace {
// A socket bound to a reserved port below `from` (for rlogin), or a plain one; the port used
// is left in `from`.
int magicport(int family, int& from) {
    int fd = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -5;
    if (!(COM->flags & COMF_MAGICPORT)) return fd;
    for (int p = from - 1; p > 512; p--) {
        sockaddr_storage ss{};
        socklen_t len;
        if (family == AF_INET6) {
            auto* s6 = reinterpret_cast<sockaddr_in6*>(&ss);
            s6->sin6_family = AF_INET6;
            s6->sin6_port = htons(static_cast<uint16_t>(p));
            s6->sin6_addr = in6addr_any;
            len = sizeof *s6;
        } else {
            auto* s4 = reinterpret_cast<sockaddr_in*>(&ss);
            s4->sin_family = AF_INET;
            s4->sin_port = htons(static_cast<uint16_t>(p));
            s4->sin_addr.s_addr = htonl(INADDR_ANY);
            len = sizeof *s4;
        }
        if (bind(fd, reinterpret_cast<sockaddr*>(&ss), len) == 0) {
            from = p;
            return fd;
        }
        if (errno != EADDRINUSE && errno != EADDRNOTAVAIL) {
            close(fd);
            aberr("Can't get reserved socket, must run setuid root\r\n");
            return -3;
        }
    }
    close(fd);
    return -4;
}

int serviceport(const char* service) {
    if (servent* s = getservbyname(service, "tcp")) return ntohs(static_cast<uint16_t>(s->s_port));
    // Minimal systems may lack the services database.
    if (std::strcmp(service, "telnet") == 0) return 23;
    if (std::strcmp(service, "login") == 0) return 513;
    return -1;
}

// Connects without blocking for more than `waitconn` seconds (0: as long as it takes); a
// signal that ends the program is still seen within a second. 0, or an errno value.
int timedconnect(int fd, const sockaddr* sa, socklen_t len) {
    int fl = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, fl | O_NONBLOCK);
    int err = 0;
    if (connect(fd, sa, len) < 0) {
        err = errno;
        if (err == EINPROGRESS || err == EINTR) {
            auto end = std::chrono::steady_clock::now() + std::chrono::seconds(waitconn);
            err = ETIMEDOUT;
            for (;;) {
                pollfd p{fd, POLLOUT, 0};
                int r = poll(&p, 1, 1000);
                if (r > 0) {
                    socklen_t el = sizeof err;
                    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &el) < 0) err = errno;
                    break;
                }
                if (donesig) break;
                if (waitconn > 0 && std::chrono::steady_clock::now() >= end) break;
            }
        }
    }
    fcntl(fd, F_SETFL, fl);
    return err;
}
} // namespace

int isdconnect(const char* host, const char* service, int port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    if (!host || !*host || getaddrinfo(host, nullptr, &hints, &res) != 0 || !res) return -1;
    if (port <= 0) port = serviceport(service);
    if (port <= 0) {
        freeaddrinfo(res);
        zzprintf("Unknown service family\r\n");
        return -2;
    }
    int result = -5;
    for (addrinfo* ai = res; ai && result == -5; ai = ai->ai_next) {
        if (ai->ai_family == AF_INET)
            reinterpret_cast<sockaddr_in*>(ai->ai_addr)->sin_port =
                htons(static_cast<uint16_t>(port));
        else if (ai->ai_family == AF_INET6)
            reinterpret_cast<sockaddr_in6*>(ai->ai_addr)->sin6_port =
                htons(static_cast<uint16_t>(port));
        else
            continue;
        // A reserved port still in use towards this host from an earlier connection fails the
        // connect, not the bind: take the next lower one.
        for (int from = 1024;;) {
            int fd = magicport(ai->ai_family, from);
            if (fd < 0) {
                if (fd != -5) result = fd;
                break;
            }
            int on = 1;
            setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
            int err = timedconnect(fd, ai->ai_addr, ai->ai_addrlen);
            if (err == 0) {
                result = fd;
                break;
            }
            close(fd);
            if (!(COM->flags & COMF_MAGICPORT) || err != EADDRINUSE) break;
        }
    }
    freeaddrinfo(res);
    return result;
}

int bsdinit(int variant, const char*) {
    device = variant;
    if (!(COM->flags & COMF_MAGICPORT)) COM->flags |= COMF_TELNET;
    return 0;
}

int bsdvt(const char* address) {
    std::string host;
    int port = 0;
    const char* addr = address ? address : "";
    int fd = -1;
    if (splitaddr(addr, host, port) == 0) {
        if (port == 0 && netport >= 1 && netport <= 65535) port = netport;
        const bool rlogin = COM->flags & COMF_MAGICPORT;
        const char* service = rlogin ? "login" : (COM->flags & COMF_ACS) ? "acs" : "telnet";
        fd = isdconnect(host.c_str(), service, port);
    }
    if (fd < 0) {
        comexit();
        zzprintf("Can't connect to %s\r\n", addr);
        return -1;
    }
    comfd = fd;
    startcom(COMQSIZE);
    tn.userdup = dupmode;
    telreset();
    if (COM->flags & COMF_MAGICPORT) {
        const passwd* pw = getpwuid(getuid());
        std::string start = rloginstart(pw && pw->pw_name ? pw->pw_name : "", vemode);
        fdbout(reinterpret_cast<const uint8_t*>(start.data()), static_cast<int>(start.size()));
    } else if (COM->flags & COMF_TELNET) {
        telinit(device);
    }
    zzprintf("Connected to %s\r\n", addr);
    return 0;
}

int bsdexit() {
    closecom();
    if (tn.userdup >= 0) dupmode = tn.userdup;
    tn.userdup = -1;
    telreset();
    return 0;
}

// ---- driver tables ---------------------------------------------------------------------

namespace {
int zero() {
    return 0;
}
int three() {
    return 3;
}
int zeroi(int) {
    return 0;
}
} // namespace

// clang-format off
ComDriver bsdfuncs = {bsdinit, bsdvt, bsdexit, fdst, fdstnh, fdin, fdout, fdbout, zeroi, zeroi,
                      zero, three, bsdbrk, nullbauds, 7, COMBUFSIZ};
ComDriver tnetfuncs = {bsdinit, bsdvt, bsdexit, fdst, fdstnh, fdin, telout, telbout, zeroi, zeroi,
                       zero, three, bsdbrk, nullbauds, 11, COMBUFSIZ};
ComDriver acsfuncs = {bsdinit, bsdvt, bsdexit, fdst, fdstnh, fdin, fdout, fdbout, zeroi, zeroi,
                      zero, three, bsdbrk, nullbauds, 139, COMBUFSIZ};
// clang-format on
