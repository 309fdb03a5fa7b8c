// The port layer: opening lists of ports, the timed line read, remote command mode, console
// key strings, and the console's own settings.
#include "core/start.h"
#include "core/term.h"
#include "ports/com.h"
#include "ports/console.h"
#include "ports/trans.h"
#include "support/console_fixture.h"
#include "support/harness.h"
#include "support/portsupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <termios.h>
#include <unistd.h>

namespace {
using Clock = std::chrono::steady_clock;
double since(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// Every key chwait hands out until a line byte arrives; that byte is left in `byte`.
std::vector<int> keysuntilbyte(int* byte) {
    std::vector<int> keys;
    for (int k; (k = chwait(byte)) != -1;)
        keys.push_back(k);
    return keys;
}

termios termsof(int fd) {
    termios t{};
    return tcgetattr(fd, &t), t;
}
} // namespace

TEST(Cominit, NullLineAndFailures) {
    struct Case {
        const char* list;
        int result;
        const char* message;
    };
    const Case cases[] = {
        {nullptr, 0, ""},
        {"nul:", 0, ""},
        {"bogus", -1, "Unknown transport: bogus\r\n"},
        {"bogus;nul:", 0, "Unknown transport: bogus\r\n"},
        {"Nul:", -1, "Unknown transport: Nul:\r\n"}, // transport prefixes are case-sensitive
        {"telnet:a;telnet:b", -1,
         "Telnet transport is not built yet\r\nTelnet transport is not built yet\r\n"
         "All VORN devices busy: telnet:a;telnet:b\r\n"},
    };
    for (const Case& c : cases) {
        ConsoleFixture f(false);
        EXPECT_EQ(cominit(c.list), c.result) << (c.list ? c.list : "nil");
        EXPECT_EQ(COM, &nulfunc); // a failure falls back to the null line
        EXPECT_EQ(connected, c.result == 0 ? 1 : 0);
        EXPECT_EQ(f.output(), c.message);
    }
    ConsoleFixture f(false);
    curtransport = "telnet:x";
    reinit = 1; // a reopen keeps the transport's name
    cominit("nul:");
    EXPECT_EQ(curtransport, "telnet:x");
}

TEST(Comwait, QueuedByteAtOnceElseTimesOutRestoringThePreviousAlarmOrTheAbortKey) {
    ConsoleFixture f;
    f.send("A");
    auto t = Clock::now();
    EXPECT_EQ(comwait(5), 'A');
    EXPECT_LT(since(t), 2.0);
    using Action = struct sigaction;
    Action mine{}, prev{}, now{};
    mine.sa_handler = [](int) {};
    sigaction(SIGALRM, &mine, &prev);
    alarm(100);
    t = Clock::now();
    EXPECT_EQ(comwait(1), -2);
    EXPECT_GE(since(t), 0.9);
    EXPECT_GE(alarm(0), 97u);
    sigaction(SIGALRM, &prev, &now);
    EXPECT_EQ(now.sa_handler, mine.sa_handler);
    // The abort key answers -1 at once; other keys typed before it are lost. Without canabort
    // the keyboard is left alone and the wait times out.
    canabort = 1;
    f.type("xy\x03z");
    EXPECT_EQ(comwait(5), -1);
    canabort = 0;
    f.type("\x03");
    EXPECT_EQ(comwait(1), -2);
    EXPECT_EQ(chrdynh(), 'z');
}

// Remote command mode: Ack, at most 77 characters and a return come out as typed keys;
// longer or aborted commands are dropped; Ack is data outside the mode or under Zmodem.
TEST(Chwait, RemoteCommandMode) {
    const std::string c77(77, 'r');
    std::vector<int> typed(79, 'r');
    typed.front() = 5, typed.back() = 13;
    struct Case {
        int cflag, errprot;
        std::string sent;
        std::vector<int> keys;
        int byte;
    };
    const Case cases[] = {{1, 0, "\x06" + c77 + "\rZ", typed, 'Z'},
                          {1, 0, "\x06" + c77 + "r\rZ", {}, 'Z'},
                          {1,
                           0,
                           "\x06"
                           "ab\x03"
                           "Z",
                           {},
                           'Z'},
                          {0, 0, "\x06", {}, 6},
                          {1, 6, "\x06", {}, 6},
                          {1, 7, "\x06", {}, 6}};
    for (const Case& c : cases) {
        ConsoleFixture f;
        cflag = c.cflag, errprot = c.errprot;
        f.send(c.sent);
        int byte = 0;
        EXPECT_EQ(keysuntilbyte(&byte), c.keys) << c.sent.size() << " " << c.errprot;
        EXPECT_EQ(byte, c.byte) << c.sent.size() << " " << c.errprot;
    }
}

// Console key strings arrive as key codes; a prefix that is not completed goes out as typed
// once nothing more comes.
TEST(Chwait, PendingKeysThenLineBytesThenNewKeysDecoded) {
    ConsoleFixture f;
    ASSERT_EQ(traddstr(itrans, "\x1b[B", {277}), 1);
    consbuf[0] = 'p', consbuf[1] = 0, consp = 0;
    f.send("L");
    int byte = 0;
    EXPECT_EQ(chwait(&byte), 'p');
    while (qempty(comq)) // the line byte is queued before the keys are typed
        waitread(1);
    f.type("x\x1b[B\x1b[");
    EXPECT_EQ(chwait(&byte), -1);
    EXPECT_EQ(byte, 'L');
    for (int k : {int('x'), 277, 27, int('[')})
        EXPECT_EQ(chwait(&byte), k);
    trinit(itrans, iqueue);
}

TEST(Console, RawModeAndBackExactlyAndOnlyTheFirstSaveCounts) {
    PtyPair c; // standing in for the console
    comreset();
    consreset();
    ttyfd = c.slave;
    termios before = termsof(c.slave);
    ASSERT_EQ(savecons(), 0);
    ASSERT_EQ(setraw(c.slave), 0);
    termios raw = termsof(c.slave);
    EXPECT_EQ((raw.c_lflag & (ECHO | ICANON | ISIG | IEXTEN)) | (raw.c_oflag & OPOST) |
                  (raw.c_iflag & (ICRNL | IXON | ISTRIP)),
              0u);
    EXPECT_EQ(raw.c_cc[VMIN], 1);
    // Later saves come while the console is already raw; keeping them would leave it raw.
    EXPECT_EQ(savecons(), 0);
    consnorm();
    EXPECT_TRUE(sameTermios(termsof(c.slave), before));
    consraw();
    EXPECT_FALSE(sameTermios(termsof(c.slave), before));
    ASSERT_EQ(unsavecons(), 0);
    EXPECT_TRUE(sameTermios(termsof(c.slave), before));
    consreset();
    comreset();
}
