// The console's settings: saved once, raw mode, and put back exactly.
#include "ports/com.h"
#include "ports/console.h"

#include <gtest/gtest.h>

#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {
// A pseudo-terminal standing in for the console.
struct FakeConsole {
    int master = -1, slave = -1;
    FakeConsole() {
        openpty(&master, &slave, nullptr, nullptr, nullptr);
        comreset();
        consreset();
        ttyfd = slave;
    }
    ~FakeConsole() {
        consreset();
        comreset();
        close(master);
        close(slave);
    }
    termios now() const {
        termios t{};
        tcgetattr(slave, &t);
        return t;
    }
};

bool same(const termios& a, const termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && a.c_cc[VMIN] == b.c_cc[VMIN] &&
           a.c_cc[VTIME] == b.c_cc[VTIME] && a.c_cc[VINTR] == b.c_cc[VINTR];
}
} // namespace

TEST(Console, RawModeAndBackExactly) {
    FakeConsole c;
    ASSERT_GE(c.slave, 0);
    termios before = c.now();
    ASSERT_EQ(savecons(), 0);
    EXPECT_TRUE(conssaved());
    ASSERT_EQ(setraw(c.slave), 0);
    termios raw = c.now();
    EXPECT_EQ(raw.c_lflag & (ECHO | ICANON | ISIG | IEXTEN), 0u);
    EXPECT_EQ(raw.c_iflag & (ICRNL | IXON | ISTRIP), 0u);
    EXPECT_EQ(raw.c_oflag & OPOST, 0u);
    EXPECT_EQ(raw.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(raw.c_cc[VMIN], 1);
    EXPECT_EQ(raw.c_cc[VTIME], 0);
    ASSERT_EQ(unsavecons(), 0);
    EXPECT_TRUE(same(c.now(), before));
}

TEST(Console, OnlyTheFirstSaveCounts) {
    // Later saves come while the console is already raw; keeping them would leave it raw.
    FakeConsole c;
    termios before = c.now();
    ASSERT_EQ(savecons(), 0);
    setraw(c.slave);
    EXPECT_EQ(savecons(), 0);
    consnorm();
    EXPECT_TRUE(same(c.now(), before));
    consraw();
    EXPECT_FALSE(same(c.now(), before));
    unsavecons();
    EXPECT_TRUE(same(c.now(), before));
}

TEST(Console, NotATerminalIsReported) {
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    comreset();
    consreset();
    ttyfd = p[0];
    EXPECT_EQ(savecons(), -1);
    EXPECT_FALSE(conssaved());
    EXPECT_EQ(unsavecons(), 0); // nothing saved, nothing to put back
    EXPECT_EQ(setraw(p[0]), -1);
    comreset();
    close(p[0]);
    close(p[1]);
}
