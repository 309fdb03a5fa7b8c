// The port layer: opening lists of ports, the timed line read, remote command mode, console
// key strings and the key map they pass through, and the console's own settings.
#include "core/start.h"
#include "core/term.h"
#include "ports/com.h"
#include "ports/console.h"
#include "ports/trans.h"
#include "screen/keyboard.h"
#include "script/cmd.h"
#include "support/console_fixture.h"
#include "support/harness.h"
#include "support/portsupport.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <csignal>
#include <termios.h>
#include <tuple>
#include <unistd.h>

namespace {
using Clock = std::chrono::steady_clock;
using V = std::vector<int>;
double since(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

termios termsof(int fd) {
    termios t{};
    return tcgetattr(fd, &t), t;
}

TEST(Cominit, NullLineAndFailures) {
    // Transport prefixes are case-sensitive.
    // clang-format off
    const std::tuple<const char*, int, const char*> cases[] = {
        {nullptr, 0, ""}, {"nul:", 0, ""}, {"bogus", -1, "Unknown transport: bogus\r\n"},
        {"bogus;nul:", 0, "Unknown transport: bogus\r\n"}, {"Nul:", -1, "Unknown transport: Nul:\r\n"},
        {"x:a;x:b", -1, "Unknown transport: x:a\r\nUnknown transport: x:b\r\n"
         "All VORN devices busy: x:a;x:b\r\n"}};
    // clang-format on
    for (auto [list, result, message] : cases) {
        ConsoleFixture f(false);
        EXPECT_EQ(cominit(list), result) << (list ? list : "nil");
        EXPECT_EQ(COM, &nulfunc); // a failure falls back to the null line
        EXPECT_EQ(connected, result == 0 ? 1 : 0);
        EXPECT_EQ(f.output(), message);
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
    struct sigaction mine {
    }, prev{}, now{};
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
    V typed(79, 'r');
    typed.front() = 5, typed.back() = 13;
    // cflag, errprot, sent; keys handed out, then the line byte
    // clang-format off
    const std::tuple<int, int, std::string, V, int> cases[] = {
        {1, 0, "\6" + c77 + "\rZ", typed, 'Z'}, {1, 0, "\6" + c77 + "r\rZ", {}, 'Z'},
        {1, 0, "\6ab\3Z", {}, 'Z'}, {0, 0, "\6", {}, 6}, {1, 6, "\6", {}, 6}, {1, 7, "\6", {}, 6}};
    // clang-format on
    for (const auto& [cf, ep, sent, keys, want] : cases) {
        ConsoleFixture f;
        cflag = cf, errprot = ep;
        f.send(sent);
        int byte = 0;
        V got; // keys until a line byte arrives
        for (int k; (k = chwait(&byte)) != -1;)
            got.push_back(k);
        EXPECT_EQ(got, keys) << sent.size() << " " << ep;
        EXPECT_EQ(byte, want) << sent.size() << " " << ep;
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

// The key map as console key decoding serves it: macros, "@@" commands and `on key` markers.
class KeyMap : public ::testing::Test {
  protected:
    ConsoleFixture f{false};
    void SetUp() override {
        keyreset();
        ASSERT_EQ(traddstr(itrans, "\033OP", {KC_F1}), 1);
    }
    void TearDown() override {
        keyreset();
        trinit(itrans, iqueue);
        flevel = inoncmd = ev_key = 0;
        ev_keyseek = 0;
    }
    // Keys read until none is ready: pending macro entries first, then decoded keys.
    V keys() {
        V v;
        for (int k; (k = consp >= 0 && consp < 80 && consbuf[consp] ? chrin() : chrdynh());)
            v.push_back(k);
        return v;
    }
};

TEST_F(KeyMap, UnmappedKeysMacrosWithTheCommandKeyAndLiteralsAndCommandStrings) {
    f.type("\033OPx");
    EXPECT_EQ(keys(), (V{KC_F1, 'x'}));
    defkey(KC_F1, "ab@\\@c", 0);
    f.type("\033OP");
    EXPECT_EQ(keys(), (V{'a', 'b', cmdchar, '@', 'c'}));
    defkey(KC_F1, "@@nosuchcommand", 0); // runs as a script command
    gerrno = 0;
    f.type("\033OP");
    EXPECT_EQ(chrdy(), 0);
    EXPECT_NE(gerrno, 0);
}

TEST_F(KeyMap, EventMarkerRaisesTheKeyEventOnlyInTheTopLevelFile) {
    defkey(KC_F1, nullptr, 1234);
    // flevel, inoncmd; the key the read gives, ev_key afterwards
    const std::array<int, 4> cases[] = {
        {0, 0, KC_F1, 0}, {1, 0, 0, 1}, {1, 1, KC_F1, 0}, {2, 0, KC_F1, 0}};
    for (const auto& [level, inon, key, event] : cases) {
        flevel = level, inoncmd = inon, ev_key = 0, ev_keyseek = 0;
        f.type("\033OP");
        EXPECT_EQ(chrdy(), key) << level << inon;
        EXPECT_EQ(ev_key, event);
        EXPECT_EQ(ev_keyseek, event ? 1234 : 0);
    }
}

TEST(Console, RawModeAndBackExactlyAndOnlyTheFirstSaveCounts) {
    PtyPair c; // standing in for the console
    comreset(), consreset();
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
    consreset(), comreset();
}

} // namespace
