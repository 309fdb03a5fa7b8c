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

#include <algorithm>
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
    const std::string c77 = "S" + std::string(76, 'f');
    V typed(79, 'f');
    typed[0] = 5, typed[1] = 'S', typed.back() = 13;
    // cflag, errprot, sent; keys handed out, then the line byte. Only R, S and ":" are taken
    // after the ACK: any other letter goes with it; a refused request runs nothing.
    // clang-format off
    const std::tuple<int, int, std::string, V, int> cases[] = {
        {1, 0, "\6" + c77 + "\rZ", typed, 'Z'}, {1, 0, "\6" + c77 + "r\rZ", {}, 'Z'},
        {1, 0, "\6Sb\3Z", {}, 'Z'}, {0, 0, "\6", {}, 6}, {1, 6, "\6", {}, 6}, {1, 7, "\6", {}, 6},
        {1, 0, "\6!Z", {}, 'Z'}, {1, 0, "\6qZ", {}, 'Z'}, {1, 0, "\6:cd /etc\rZ", {}, 'Z'},
        {1, 0, "\6:get a b\rZ", {5, ':', 'g', 'e', 't', ' ', 'a', ' ', 'b', 13}, 'Z'}};
    // clang-format on
    for (const auto& [cf, ep, sent, keys, want] : cases) {
        ConsoleFixture f;
        cflag = cf, errprot = ep;
        f.send(sent);
        int byte = 0;
        V got; // keys until a line byte arrives
        for (int k; (k = chwait(&byte)) != -1;)
            got.push_back(k);
        EXPECT_EQ(got, keys) << sent;
        EXPECT_EQ(byte, want) << sent;
        EXPECT_EQ(f.output().find("[Remote command refused]") != std::string::npos,
                  sent.find("/etc") != std::string::npos)
            << sent;
    }
}

// What a request from the line may run: transfers and cd on names inside the current
// directory; anything with `set control full` but the setting itself.
TEST(Chwait, RemoteRequestsAllowed) {
    // clang-format off
    const std::tuple<const char*, bool, bool> cases[] = {
        // request, allowed, allowed with control full
        {"Rincoming", true, true},            {"Sa.txt b/c.txt *.log", true, true},
        {":xfer a.txt sub", true, true},      {":GET notes(rc) .", true, true},
        {":send f", true, true},              {":rcv d", true, true},
        {":cd sub/dir", true, true},          {":cd", false, true},
        {":cd ..", false, true},              {":cd a/../..", false, true},
        {"S/etc/passwd", false, true},        {"R~/x", false, true},
        {":get a ../b", false, true},         {":get -rf x", false, true},
        {"!rm -rf x", false, true},           {":!sh", false, true},
        {":shell", false, true},              {":set control full", false, false},
        {":SET CONTROL off", false, false},   {":send a;rm b", false, true},
        {":send $HOME", false, true},         {":send `id`", false, true},
        {"Sa|b", false, true},                {"C", false, true},
        {":", false, true},                   {"", false, false}};
    // clang-format on
    for (const auto& [req, ok, okfull] : cases) {
        ctlfull = 0;
        EXPECT_EQ(remoteok(req), ok) << req;
        ctlfull = 1;
        EXPECT_EQ(remoteok(req), okfull) << req << " (full)";
    }
    ctlfull = 0;
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

// The fixture's line is a socket the peer does not read until told: sends fill it and queue.
struct StuckLine : ::testing::Test {
    ConsoleFixture fx;
    std::string sent;
    // Sends numbered blocks until the line stopped taking them and a queue has built.
    void fill(size_t queued) {
        uint8_t block[1000];
        for (int i = 0; linepending() < static_cast<int>(queued) && i < 100000; i++) {
            for (size_t j = 0; j < sizeof block; j++)
                block[j] = static_cast<uint8_t>('a' + (i + j) % 26);
            ASSERT_EQ(fdbout(block, sizeof block), static_cast<int>(sizeof block));
            sent.append(reinterpret_cast<char*>(block), sizeof block);
        }
        ASSERT_GE(linepending(), static_cast<int>(queued));
    }
};

// Typed keys and sent blocks the line cannot take yet wait in order; the waits send them.
TEST_F(StuckLine, NothingSentIsDroppedWhenTheLineStopsTakingBytes) {
    fill(OUTQMAX / 2);
    for (char c : std::string("typed keys\r")) {
        ASSERT_EQ(fdout(c), 1);
        sent += c;
    }
    std::string got;
    pollfor(
        [&] {
            waitread(0);
            got = fx.received(0, 0);
            return got.size() >= sent.size();
        },
        10);
    EXPECT_EQ(linepending(), 0);
    EXPECT_EQ(got.size(), sent.size());
    EXPECT_TRUE(got == sent) << "first difference at "
                             << std::mismatch(got.begin(), got.end(), sent.begin()).first -
                                    got.begin();
}

// A sender past the queue's limit waits for the line; the command key ends the wait at once,
// with the keys typed ahead of it, and stays for terminal mode. Answers to status requests never
// wait: past the limit they are lost.
TEST_F(StuckLine, CommandKeyEndsAStuckSendAndAnswersNeverWait) {
    fill(OUTQMAX - 1000); // blocks of 1000: the queue stays within the limit
    const std::vector<uint8_t> answer(1001, 'r');
    auto t0 = Clock::now();
    EXPECT_EQ(comreply(answer.data(), static_cast<int>(answer.size())), -1);
    EXPECT_LT(since(t0), 1.0);
    fx.type("ab\x05");
    std::vector<uint8_t> big(2000, 'z');
    t0 = Clock::now();
    EXPECT_EQ(fdbout(big.data(), static_cast<int>(big.size())), -1);
    EXPECT_LT(since(t0), 3.0);
    EXPECT_EQ(linepending(), 0);
    std::string keys;
    for (int c; (c = unqchar(ttyq)) >= 0;)
        keys += static_cast<char>(c);
    EXPECT_EQ(keys, "\x05"); // the keys typed ahead of it went with the stuck send
}

} // namespace
