// The network drivers in-process: the telnet option filter against a scripted peer on a socket
// pair, output escaping and break, addresses, terminal-type names, the rlogin start string,
// and real loopback connections (IPv4 and IPv6) including hostile peers.
#include "core/start.h"
#include "core/term.h"
#include "emulators/emulate.h"
#include "ports/com.h"
#include "ports/service.h"
#include "ports/telnet.h"
#include "screen/vscreen.h"
#include "support/console_fixture.h"
#include "support/portsupport.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <tuple>
#include <vector>

namespace {
std::string B(std::initializer_list<int> v) {
    std::string s;
    for (int c : v)
        s += static_cast<char>(c);
    return s;
}
constexpr int IAC = 255, SB = 250, SE = 240, WILL = 251, WONT = 252, DO = 253, DONT = 254;

// The filter wired to a socket-pair line with the telnet driver current.
struct Filter {
    ConsoleFixture fx;
    int keeprows = vlines, keepcols = vcols, keepmode = vemode;
    Filter() {
        COM = &tnetfuncs;
        tnetfuncs.flags = 11;
        telreset();
    }
    ~Filter() {
        vlines = keeprows;
        vcols = keepcols;
        vemode = keepmode;
        telreset();
        tnetfuncs.flags = 11;
    }
    // Feeds bytes as received; the data bytes the filter passes.
    std::string feed(const std::string& in) {
        std::string out;
        for (char c : in)
            if (int r = telinput(static_cast<uint8_t>(c)); r >= 0) out += static_cast<char>(r);
        return out;
    }
    // What the peer received; waits briefly only when something is expected.
    std::string sent(size_t atleast = 0) { return fx.received(atleast, atleast ? 5 : 0.05); }
};

TEST(TelnetFilter, NegotiationsAnswersAndData) {
    // received bytes; data shown, bytes sent back, duplex mode after (-1: unchanged).
    // clang-format off
    const std::tuple<const char*, std::string, std::string, std::string, int> cases[] = {
        {"DO TTYPE twice: one WILL", B({IAC, DO, 24, IAC, DO, 24}), "", B({IAC, WILL, 24}), -1},
        {"TTYPE SEND in VT220", B({IAC, DO, 24, IAC, SB, 24, 1, IAC, SE}), "",
         B({IAC, WILL, 24, IAC, SB, 24, 0}) + "vt220" + B({IAC, SE}), -1},
        {"TTYPE SEND before DO is not answered", B({IAC, SB, 24, 1, IAC, SE}), "", "", -1},
        {"a peer's own TTYPE IS is not echoed", B({IAC, DO, 24, IAC, SB, 24, 0, 'x', IAC, SE}), "",
         B({IAC, WILL, 24}), -1},
        {"WILL ECHO twice: one DO, full duplex", B({IAC, WILL, 1, IAC, WILL, 1}), "", B({IAC, DO, 1}), 1},
        {"WONT ECHO after WILL: half duplex", B({IAC, WILL, 1, IAC, WONT, 1}), "",
         B({IAC, DO, 1, IAC, DONT, 1}), 2},
        {"WILL ECHO after WONT ECHO: full again", B({IAC, WILL, 1, IAC, WONT, 1, IAC, WILL, 1}), "",
         B({IAC, DO, 1, IAC, DONT, 1, IAC, DO, 1}), 1},
        {"WONT for an option never on: silence", B({IAC, WONT, 1, IAC, DONT, 24}), "", "", -1},
        {"unknown options refused, their WONT/DONT ignored",
         B({IAC, DO, 200, IAC, WILL, 200, IAC, WONT, 200, IAC, DONT, 200, IAC, DO, 39}), "",
         B({IAC, WONT, 200, IAC, DONT, 200, IAC, WONT, 39}), -1},
        {"DONT after DO: WONT", B({IAC, DO, 3, IAC, DONT, 3}), "", B({IAC, WILL, 3, IAC, WONT, 3}), -1},
        {"IAC IAC is one 255", "a" + B({IAC, IAC}) + "b", "a\xff" "b", "", -1},
        {"other commands vanish", "a" + B({IAC, 241, IAC, 249, IAC, 243}) + "b", "ab", "", -1},
        {"IAC and a command inside SB ends it", B({IAC, SB, 24, 1, IAC, 'X'}) + "text", "text", "", -1},
        {"IAC DO inside SB is read as DO",
         B({IAC, SB, 24, 1, IAC, DO, 24}) + "ok", "ok", B({IAC, WILL, 24}), -1},
        {"escaped 255 inside SB stays inside", B({IAC, SB, 99, IAC, IAC, SE, IAC, SE}) + "z", "z", "", -1},
        {"0xF0 alone is data", "\xf0", "\xf0", "", -1},
    };
    // clang-format on
    for (auto [what, in, data, back, duplex] : cases) {
        Filter f;
        vemode = EM_VT2207;
        dupmode = 0;
        EXPECT_EQ(f.feed(in), data) << what;
        EXPECT_EQ(f.sent(back.size()), back) << what;
        EXPECT_EQ(dupmode, duplex < 0 ? 0 : duplex) << what;
        EXPECT_EQ(tn.state, 0) << what;
    }
}

TEST(TelnetFilter, DebugTraceNamesEachNegotiationAndAtLevelTwoEachByte) {
    Filter f;
    vtdebug = 1;
    f.feed(B({IAC, DO, 24, IAC, WILL, 77}));
    vtdebug = 2;
    f.feed("A");
    vtdebug = 0;
    EXPECT_EQ(f.fx.output(), "RECV: do Terminal Type (24)\r\nSENT: will Terminal Type (24)\r\n"
                             "RECV: will  (77)\r\nSENT: dont  (77)\r\n[41,0]\r\n");
}

TEST(TelnetFilter, StateCarriesAcrossReadsAndAnUnendedSubnegotiationIsBounded) {
    Filter f;
    vemode = EM_VT100;
    const std::string all = B({IAC, DO, 24, IAC, SB, 24, 1, IAC, SE}) + "hi";
    for (size_t cut = 1; cut < all.size(); cut++) {
        telreset();
        std::string got = f.feed(all.substr(0, cut));
        got += f.feed(all.substr(cut));
        EXPECT_EQ(got, "hi") << cut;
    }
    f.sent(); // drop the answers
    // A peer that opens a subnegotiation and never ends it blanks at most a few kilobytes.
    telreset();
    std::string flood = B({IAC, SB, 24}) + std::string(100000, 'x');
    std::string shown = f.feed(flood);
    EXPECT_GT(shown.size(), 90000u);
    EXPECT_EQ(tn.state, 0);
}

TEST(TelnetFilter, WindowSizeOnRequestAndAgainWhenItChanges) {
    Filter f;
    vlines = 24;
    vcols = 80;
    f.feed(B({IAC, DO, 31}));
    EXPECT_EQ(f.sent(12), B({IAC, WILL, 31, IAC, SB, 31, 0, 80, 0, 24, IAC, SE}));
    f.feed("x");
    EXPECT_EQ(f.sent(), B({IAC, WILL, 31, IAC, SB, 31, 0, 80, 0, 24, IAC, SE}));
    vcols = 255; // a 255 in the size is doubled
    vlines = 66;
    telout('a');
    EXPECT_EQ(f.sent(23).substr(12), B({IAC, SB, 31, 0, IAC, IAC, 0, 66, IAC, SE}) + "a");
    f.feed(B({IAC, DONT, 31}));
    vcols = 132;
    telout('b');
    EXPECT_EQ(f.sent(27).substr(23), B({IAC, WONT, 31}) + "b");
}

TEST(TelnetOutput, DoublesIacAndSendsBreakOnlyWhileFiltering) {
    {
        Filter f;
        std::string block = "a\xff"
                            "b\xff\xff";
        EXPECT_EQ(telout(255), 1);
        EXPECT_EQ(telbout(reinterpret_cast<const uint8_t*>(block.data()), 5), 5);
        EXPECT_EQ(bsdbrk(), 0);
        EXPECT_EQ(f.sent(12),
                  B({IAC, IAC}) + "a" + B({IAC, IAC}) + "b" + B({IAC, IAC, IAC, IAC, IAC, 243}));
        std::string big(3000, '\xff'); // larger than one escaped chunk
        EXPECT_EQ(telbout(reinterpret_cast<const uint8_t*>(big.data()), 3000), 3000);
        EXPECT_EQ(f.sent(12 + 6000).size(), 12u + 6000u);
    }
    {
        // "telnetb": the opening asks for binary, then the filter is off both ways.
        Filter f;
        telinit(1);
        brkchar = 2;
        telout(255);
        bsdbrk();
        EXPECT_EQ(f.sent(8), B({IAC, WILL, 0, IAC, DO, 0, 255, 2}));
        EXPECT_EQ(tnetfuncs.flags & COMF_TELNET, 0); // received bytes now bypass the filter
    }
    {
        // "telnete" asks for echo and go-ahead suppression; the peer's agreement is not
        // answered again, and its refusal of an option asked for is not acknowledged.
        Filter f;
        telinit(2);
        f.feed(B({IAC, WILL, 1, IAC, DO, 3, IAC, WONT, 3}));
        EXPECT_EQ(f.sent(9), B({IAC, DO, 1, IAC, DO, 3, IAC, WILL, 3}));
    }
}

TEST(TelnetNames, AddressesTerminalTypesAndTheRloginStart) {
    // clang-format off
    const std::tuple<const char*, int, const char*, int> addrs[] = {
        {"host", 0, "host", 0}, {"host:2323", 0, "host", 2323}, {"host#2323", 0, "host", 2323},
        {"host:65535", 0, "host", 65535}, {"host:99999", -1, "", 0}, {"host:0", -1, "", 0},
        {"host:", -1, "", 0}, {"host:23x", -1, "", 0}, {":23", -1, "", 0}, {"", -1, "", 0},
        {"[::1]:2323", 0, "::1", 2323}, {"[::1]", 0, "::1", 0}, {"::1", 0, "::1", 0},
        {"fe80::1#99", 0, "fe80::1", 99}, {"[::1", -1, "", 0}, {"[::1]x", -1, "", 0},
        {"1.2.3.4:1", 0, "1.2.3.4", 1}};
    // clang-format on
    for (auto [a, r, host, port] : addrs) {
        std::string h;
        int p = -7;
        EXPECT_EQ(splitaddr(a, h, p), r) << a;
        if (r == 0) {
            EXPECT_EQ(h + ":" + std::to_string(p), std::string(host) + ":" + std::to_string(port))
                << a;
        }
    }
    const std::pair<int, const char*> names[] = {
        {EM_VT100 | 1, "vt100"}, {EM_VT2208, "vt220"}, {EM_SCOANSI, "ansi"}, {EM_PCTERM, "wyse60"}};
    for (auto [mode, name] : names)
        EXPECT_EQ(getemname(mode), name) << mode;
    for (auto [term, name] : std::vector<std::pair<std::string, std::string>>{
             {"xterm-256color", "xterm-256color"},
             {std::string(41, 'a'), "dumb"},
             {std::string(40, 'a'), std::string(40, 'a')},
             {"vt\xff", "dumb"},
             {"a b", "dumb"},
             {"", "dumb"}}) {
        EnvGuard t("TERM", term.c_str());
        EXPECT_EQ(getemname(EM_TTY), name) << term;
    }
    EXPECT_EQ(rloginstart("alice", EM_VT2207), std::string("\0alice\0alice\0vt220/9600\0", 24));
}

TEST(TelnetConnect, VariantsOverIpv4AndIpv6AndTheHostClosing) {
    // transport, listener family, address form, opening bytes the peer must see first.
    // clang-format off
    const std::tuple<const char*, int, const char*, std::string> cases[] = {
        {"telnet", AF_INET, "127.0.0.1:%d", ""},
        {"telnete", AF_INET, "127.0.0.1#%d", B({IAC, DO, 1, IAC, DO, 3, IAC, WILL, 3})},
        {"telnetb", AF_INET6, "[::1]:%d", B({IAC, WILL, 0, IAC, DO, 0})},
        {"acs", AF_INET6, "::1#%d", ""},
    };
    // clang-format on
    for (auto [transport, family, form, opening] : cases) {
        Listener l(family);
        if (l.fd < 0 && family == AF_INET6) {
            GTEST_LOG_(INFO) << "no IPv6 loopback here; " << transport << " skipped";
            continue;
        }
        ASSERT_GE(l.fd, 0);
        ConsoleFixture fx(false);
        dupmode = 2;
        char addr[64];
        std::snprintf(addr, sizeof addr, form, l.port);
        std::string name = std::string(transport) + ":" + addr;
        ASSERT_EQ(connservice(name.c_str(), 0), 1) << fx.output();
        EXPECT_EQ(curnodename, addr);
        int peer = l.accept1();
        ASSERT_GE(peer, 0);
        EXPECT_EQ(readfor(peer, opening.size() + 1, opening.empty() ? 0.2 : 1), opening)
            << transport;
        // The host echoes, then closes: the line is lost and the user's duplex mode is back.
        writeall(peer, B({IAC, WILL, 1}) + "bye");
        std::string got;
        EXPECT_HAS(linefor(got, "bye"), "bye") << transport;
        close(peer);
        linefor(got, "never");
        EXPECT_EQ(comfd, -1) << transport;
        EXPECT_EQ(COM, &nulfunc) << transport;
        EXPECT_EQ(dupmode, 2) << transport;
        EXPECT_HAS(fx.output(), "Connected to " + std::string(addr) + "\r\n");
        EXPECT_HAS(fx.output(), "\r\n[Disconnected]\r\n");
    }
}

TEST(TelnetConnect, FailuresReportAndLeaveTheNullLine) {
    Listener closed;
    int port = closed.port;
    close(closed.fd); // nothing listens there now
    closed.fd = -1;
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"telnet:127.0.0.1:" + std::to_string(port), "Can't connect to 127.0.0.1:"},
        {"telnet:127.0.0.1:99999", "Can't connect to 127.0.0.1:99999\r\n"},
        {"telnet:no-such-host.invalid", "Can't connect to no-such-host.invalid\r\n"},
        {"acs:127.0.0.1", "Unknown service family\r\nCan't connect to 127.0.0.1\r\n"},
    };
    for (auto& [name, message] : cases) {
        ConsoleFixture fx(false);
        EXPECT_EQ(connservice(name.c_str(), 0), -1) << name;
        EXPECT_HAS(fx.output(), message);
        EXPECT_EQ(COM, &nulfunc);
        EXPECT_EQ(comfd, -1);
    }
}

TEST(TelnetConnect, HostileHostsNeitherHangNorGrow) {
    // A host that floods refusable requests and never reads what comes back, one that opens a
    // subnegotiation and never ends it, and one that refuses everything: the data that
    // follows still arrives, within the deadline.
    std::string flood;
    for (int i = 0; i < 200000; i++)
        flood += B({IAC, DO, 200 + i % 50, IAC, WILL, 100 + i % 50});
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"flood", flood},
        {"unended SB", B({IAC, SB, 24, 1}) + std::string(20000, 'q')},
        {"refuses all", B({IAC, DONT, 24, IAC, WONT, 1, IAC, DONT, 31, IAC, WONT, 3})},
    };
    for (auto& [what, bytes] : cases) {
        Listener l;
        ConsoleFixture fx(false);
        std::string name = "telnete:127.0.0.1:" + std::to_string(l.port);
        ASSERT_EQ(connservice(name.c_str(), 0), 1);
        int peer = l.accept1();
        ASSERT_GE(peer, 0);
        fcntl(peer, F_SETFL, 0);
        int small = 4096;
        setsockopt(peer, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        std::string all = bytes + "END-OF-TEST";
        size_t off = 0;
        std::string tail;
        bool done = pollfor(
            [&] {
                for (int i = 0; i < 200; i++) {
                    if (off < all.size()) {
                        ssize_t n =
                            send(peer, all.data() + off, std::min<size_t>(65536, all.size() - off),
                                 MSG_DONTWAIT | MSG_NOSIGNAL);
                        if (n > 0) off += static_cast<size_t>(n);
                    }
                    waitread(0);
                    while (!qempty(comq))
                        tail += static_cast<char>(unqchar(comq));
                    if (tail.size() > 64) tail.erase(0, tail.size() - 64);
                    if (off == all.size() && tail.find("END-OF-TEST") != std::string::npos)
                        return true;
                }
                return false;
            },
            20);
        EXPECT_TRUE(done) << what;
        EXPECT_EQ(comfd >= 0, true) << what;
        close(peer);
        comexit();
    }
}

TEST(TelnetConnect, AHostThatNeverAnswersTimesOut) {
    // A listener whose accept queue is full drops further connection requests, so a connect
    // to it waits like one to an unreachable host.
    Listener l(AF_INET, 0);
    ASSERT_GE(l.fd, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sa.sin_port = htons(static_cast<uint16_t>(l.port));
    std::vector<int> fillers;
    bool blocked = false;
    for (int i = 0; i < 8 && !blocked; i++) {
        int c = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        connect(c, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
        fillers.push_back(c);
        pollfd p{c, POLLOUT, 0};
        blocked = poll(&p, 1, 200) == 0;
    }
    if (blocked) {
        ConsoleFixture fx(false);
        waitconn = 1;
        std::string name = "telnet:127.0.0.1:" + std::to_string(l.port);
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(connservice(name.c_str(), 0), -1);
        auto took = std::chrono::steady_clock::now() - start;
        EXPECT_TRUE(took > std::chrono::milliseconds(900) && took < std::chrono::seconds(3));
        EXPECT_HAS(fx.output(), "Can't connect to 127.0.0.1:");
        waitconn = 30;
    } else {
        GTEST_LOG_(INFO) << "this system accepts every loopback connection; time-out not shown";
    }
    for (int c : fillers)
        close(c);
}
} // namespace
