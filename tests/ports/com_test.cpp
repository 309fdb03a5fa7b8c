// The port layer: transport lookup, opening lists of ports, the timed line read, remote
// command mode, a lost line, and the precedence of terminal mode's wait.
#include "core/start.h"
#include "core/term.h"
#include "ports/com.h"
#include "ports/trans.h"
#include "support/console_fixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <unistd.h>

namespace {
using Clock = std::chrono::steady_clock;
double since(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}
} // namespace

TEST(Transport, FirstPrefixOfThePortNameWins) {
    struct Case {
        const char* name;
        const ComDriver* driver;
        int variant;
    };
    const Case cases[] = {
        {"telnetb:host", &tnetfuncs, 1}, {"telnete:host", &tnetfuncs, 2},
        {"telnet:host", &tnetfuncs, 0},  {"rlogin:host", &bsdfuncs, 0},
        {"acs:host", &acsfuncs, 0},      {"pty:/bin/sh", &ptyfuncs, 0},
        {"nul:", &nulfunc, 0},           {"NUL", &nulfunc, 0},
        {"ttyS0", &asyfuncs, 0},         {"/dev/ttyUSB0", &asyfuncs, 0},
    };
    for (const Case& c : cases) {
        const Transport* t = findtransport(c.name);
        ASSERT_NE(t, nullptr) << c.name;
        EXPECT_EQ(t->driver, c.driver) << c.name;
        EXPECT_EQ(t->variant, c.variant) << c.name;
    }
    EXPECT_EQ(findtransport("Telnet:host"), nullptr); // prefixes are case-sensitive
    EXPECT_EQ(findtransport("modem"), nullptr);
    EXPECT_EQ(findtransport(""), nullptr);
}

TEST(Transport, EveryDriverSharesTheBlockSizeAndTheNullLineAnswersZero) {
    for (const Transport* t = ilist; t->prefix; t++)
        EXPECT_EQ(t->driver->combufsiz, 1200) << t->prefix;
    EXPECT_EQ(nulfunc.flags, 0);
    EXPECT_EQ(tnetfuncs.flags, 11);
    EXPECT_EQ(bsdfuncs.flags, 7);
    EXPECT_EQ(acsfuncs.flags, 139);
    EXPECT_EQ(nulfunc.mstat(), 0);
    EXPECT_EQ(nulfunc.unused(), 0);
}

TEST(Cominit, NullLineAndFailures) {
    struct Case {
        const char* list;
        int result;
        const char* comline;
        const char* message;
    };
    const Case cases[] = {
        {nullptr, 0, "nul:", ""},
        {"nul:", 0, "nul:", ""},
        {"bogus", -1, "nul:", "Unknown transport: bogus\r\n"},
        {"bogus;nul:", 0, "nul:", "Unknown transport: bogus\r\n"},
        {"telnet:a;telnet:b", -1, "nul:",
         "Telnet transport is not built yet\r\nTelnet transport is not built yet\r\n"
         "All VORN devices busy: telnet:a;telnet:b\r\n"},
    };
    for (const Case& c : cases) {
        ConsoleFixture f(false);
        EXPECT_EQ(cominit(c.list), c.result) << (c.list ? c.list : "nil");
        EXPECT_EQ(comline, c.comline);
        EXPECT_EQ(curtransport, c.comline);
        EXPECT_EQ(COM, &nulfunc);
        EXPECT_EQ(zflag, 1);
        EXPECT_EQ(connected, c.result == 0 ? 1 : 0);
        EXPECT_EQ(f.output(), c.message);
    }
}

TEST(Cominit, ReinitKeepsTheTransportName) {
    ConsoleFixture f(false);
    curtransport = "telnet:x";
    reinit = 1;
    cominit("nul:");
    EXPECT_EQ(curtransport, "telnet:x");
}

TEST(Comwait, ReturnsAQueuedByteAtOnce) {
    ConsoleFixture f;
    f.send("A");
    auto t = Clock::now();
    EXPECT_EQ(comwait(5), 'A');
    EXPECT_LT(since(t), 2.0);
}

TEST(Comwait, TimesOutAndRestoresThePreviousAlarmAndHandler) {
    ConsoleFixture f;
    struct sigaction mine {};
    mine.sa_handler = [](int) {};
    sigemptyset(&mine.sa_mask);
    struct sigaction prev {};
    sigaction(SIGALRM, &mine, &prev);
    alarm(100);
    auto t = Clock::now();
    EXPECT_EQ(comwait(1), -2);
    double took = since(t);
    EXPECT_GE(took, 0.9);
    EXPECT_LT(took, 3.0);
    unsigned left = alarm(0);
    EXPECT_GE(left, 97u);
    EXPECT_LE(left, 100u);
    struct sigaction now {};
    sigaction(SIGALRM, &prev, &now);
    EXPECT_EQ(now.sa_handler, mine.sa_handler);
}

TEST(Comwait, AbortKeyAnswersMinusOneAndOtherKeysAreLost) {
    ConsoleFixture f;
    canabort = 1;
    f.type("xy\x03z");
    auto t = Clock::now();
    EXPECT_EQ(comwait(5), -1);
    EXPECT_LT(since(t), 2.0);
    // Without canabort the keyboard is left alone and the wait times out.
    canabort = 0;
    f.type("\x03");
    EXPECT_EQ(comwait(1), -2);
    EXPECT_EQ(chrdynh(), 'z');
}

TEST(Comflush, EmptiesWhatWasQueuedAndWhatWasWaiting) {
    ConsoleFixture f;
    f.send("abc");
    EXPECT_EQ(fdstnh(), 1);
    f.send("def");
    comflush();
    EXPECT_TRUE(qempty(comq));
    f.send("g");
    EXPECT_EQ(comwait(2), 'g');
}

namespace {
// Every key chwait hands out until a line byte arrives; that byte is left in `byte`.
std::vector<int> keysuntilbyte(int* byte) {
    std::vector<int> keys;
    for (int k; (k = chwait(byte)) != -1;)
        keys.push_back(k);
    return keys;
}
} // namespace

TEST(Chwait, RemoteCommandOfSeventySevenCharactersIsTyped) {
    ConsoleFixture f;
    cflag = 1;
    std::string cmd(77, 'r');
    f.send("\x06" + cmd + "\r" + "Z");
    int byte = 0;
    std::vector<int> keys = keysuntilbyte(&byte);
    std::vector<int> want = {5};
    want.insert(want.end(), cmd.begin(), cmd.end());
    want.push_back(13);
    EXPECT_EQ(keys, want);
    EXPECT_EQ(byte, 'Z');
}

TEST(Chwait, RemoteCommandOfSeventyEightCharactersIsDiscarded) {
    ConsoleFixture f;
    cflag = 1;
    f.send("\x06" + std::string(78, 'r') + "\r" + "Z");
    int byte = 0;
    EXPECT_TRUE(keysuntilbyte(&byte).empty());
    EXPECT_EQ(byte, 'Z');
}

TEST(Chwait, AckIsDataOutsideRemoteCommandModeOrUnderZmodem) {
    for (int prot : {0, 6, 7}) {
        ConsoleFixture f;
        cflag = prot == 0 ? 0 : 1;
        errprot = prot;
        f.send("\x06");
        int byte = 0;
        EXPECT_EQ(chwait(&byte), -1);
        EXPECT_EQ(byte, 6);
    }
}

TEST(Chwait, AbortKeyFromTheLineDiscardsTheRemoteCommand) {
    ConsoleFixture f;
    cflag = 1;
    f.send("\x06"
           "ab\x03"
           "Z");
    int byte = 0;
    EXPECT_TRUE(keysuntilbyte(&byte).empty());
    EXPECT_EQ(byte, 'Z');
}

TEST(Chwait, PendingKeysComeBeforeLineBytesWhichComeBeforeNewKeys) {
    ConsoleFixture f;
    consbuf[0] = 'p';
    consbuf[1] = 0;
    consp = 0;
    f.send("L");
    int byte = 0;
    EXPECT_EQ(chwait(&byte), 'p');
    // Wait until the line byte is queued, then type: the byte still comes first.
    while (qempty(comq))
        waitread(1);
    f.type("k");
    EXPECT_EQ(chwait(&byte), -1);
    EXPECT_EQ(byte, 'L');
    EXPECT_EQ(chwait(&byte), 'k');
}

TEST(Chwait, EscAloneIsTheEscKeyAfterTheEmptyPolls) {
    ConsoleFixture f(false);
    f.type("\x1b");
    int byte = 0;
    EXPECT_EQ(chwait(&byte), 27);
    f.type("\x1b[A");
    // Without a key-sequence matcher the bytes come through as they are.
    EXPECT_EQ(chwait(&byte), 27);
    EXPECT_EQ(chwait(&byte), '[');
    EXPECT_EQ(chwait(&byte), 'A');
}

TEST(Chwait, ConsoleKeyStringsArriveAsKeyCodes) {
    ConsoleFixture f(false);
    ASSERT_EQ(traddstr(itrans, "\x1b[B", {277}), 1);
    ASSERT_EQ(traddstr(itrans, "\x1bOP", {256}), 1);
    int byte = 0;
    f.type("x\x1b[B\x1bOP");
    EXPECT_EQ(chwait(&byte), 'x');
    EXPECT_EQ(chwait(&byte), 277);
    EXPECT_EQ(chwait(&byte), 256);
    // A prefix that is not completed goes out as typed once nothing more comes.
    f.type("\x1b[");
    EXPECT_EQ(chwait(&byte), 27);
    EXPECT_EQ(chwait(&byte), '[');
    f.type("\x1b[x");
    EXPECT_EQ(chwait(&byte), 27);
    EXPECT_EQ(chwait(&byte), '[');
    EXPECT_EQ(chwait(&byte), 'x');
    trinit(itrans, iqueue);
}

TEST(LostLine, ClosesTheLineAndQueuesThePseudoKey) {
    ConsoleFixture f;
    close(f.peerfd());
    int byte = 0;
    EXPECT_EQ(chwait(&byte), K_LOSTLINE);
    EXPECT_EQ(comfd, -1);
    EXPECT_EQ(COM, &nulfunc);
    EXPECT_NE(f.output().find("\r\n[Disconnected]\r\n"), std::string::npos);
}

TEST(Startcom, EscWaitIsLongWhileALineIsOpen) {
    ConsoleFixture f;
    EXPECT_EQ(escloop, 120);
    startcom(COMQSIZE);
    EXPECT_EQ(escloop, 600);
    closecom();
    EXPECT_EQ(escloop, 120);
}
