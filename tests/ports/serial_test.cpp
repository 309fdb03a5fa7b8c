// The serial driver on a pseudo-terminal: opening with a lock, raw mode, line format, speed,
// break, closing, and the ports that cannot be opened.
#include <gtest/gtest.h>

#include "core/start.h"
#include "ports/com.h"
#include "ports/lock.h"
#include "ports/serial.h"
#include "ports/settings.h"
#include "support/harness.h"
#include "support/portsupport.h"

#include <array>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <tuple>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class Serial : public ::testing::Test {
  protected:
    TempDir d;
    PtyPair pty;
    LineOnly line;
    std::string lockname;

    void SetUp() override {
        ASSERT_FALSE(pty.path.empty());
        lockpre = d.path().string() + "/LCK..%s";
        lockname = "LCK.." + pty.path.substr(pty.path.rfind('/') + 1);
        exitdtr = 1; // closing without the one-second DTR drop, unless a test wants it
    }
    // The slave's settings as another program sees them.
    termios now() {
        termios t{};
        int fd = ::open(pty.path.c_str(), O_RDWR | O_NOCTTY);
        EXPECT_GE(fd, 0);
        tcgetattr(fd, &t);
        close(fd);
        return t;
    }
    std::string open(const std::string& list) {
        return captureconsole([&] { cominit(list.c_str()); });
    }
};

// Every way of opening gives a raw, waiting line with a lock that goes with the close. (Raw
// mode, speed, flow control and the lock's content are pinned by the socat test; these bits
// it cannot show.)
TEST_F(Serial, OpensRawWithALockAndClosesWithout) {
    const std::tuple<std::string, int, const char*, speed_t> cases[] = {
        {"", 0, "", B9600}, {"/dev/pts", 0, "4800,E,7", B4800}, {"/dev/pts/", 1, "", B9600}};
    for (const auto& [part, preo, parms, speed] : cases) {
        partopen = part, preoflag = preo;
        std::string out = captureconsole([&] {
            ASSERT_EQ(cominit(pty.path.c_str()), 0);
            EXPECT_EQ(COM->vt(parms), 0);
        });
        EXPECT_EQ(out, "Connected " + std::string(*parms ? "4800" : "9600") + " on " + pty.path +
                           "\r\n");
        EXPECT_TRUE(d.exists(lockname));
        termios t = now();
        EXPECT_EQ(cfgetospeed(&t), speed) << parms;
        EXPECT_TRUE(t.c_cflag & CREAD);
        EXPECT_EQ(t.c_cc[VTIME], 1);
        EXPECT_EQ(t.c_cc[VINTR], 0);
        EXPECT_EQ(fcntl(comfd, F_GETFL) & O_NONBLOCK, 0); // reads wait
        comexit();
        EXPECT_EQ(COM, &nulfunc);
        EXPECT_FALSE(d.exists(lockname));
        settingsreset();
    }
}

TEST_F(Serial, ClosingDropsDtrForASecondUnlessKept) {
    exitdtr = 0;
    open(pty.path);
    ASSERT_EQ(COM, &asyfuncs);
    EXPECT_TRUE(now().c_cflag & HUPCL);
    auto t0 = std::chrono::steady_clock::now();
    comexit();
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(900));
    // The speed went to 0 (hang-up) before the close.
    EXPECT_EQ(cfgetospeed(&static_cast<const termios&>(now())), static_cast<speed_t>(B0));
}

TEST(SerialWord, EveryBitOfTheLineFormat) {
    struct Case {
        int word, prot, xflag, cfloflag;
        tcflag_t cflags, iflags;
    };
    // clang-format off
    const Case cases[] = {
        {244,                 1, 0, 0, CS8,                          0},
        {375,                 1, 0, 0, CS7 | PARENB,                 IXOFF},  // 2400,E,7,1
        {192 + 12 + 1,        0, 0, 0, CS8 | PARENB | PARODD | CSTOPB, 0},
        {0 + 8,               0, 0, 0, CS5 | CSTOPB,                 0},
        {192 + 4 + 512,       0, 0, 0, CS8,                          IXON},
        {192 + 4 + 16 + 32,   3, 0, 0, CS8 | CRTSCTS,                0},
        {192 + 4 + 1024,      0, 1, 0, CS8,                          0},      // no consxon
        {192 + 4 + 1024,      0, 1, 1, CS8,                          IXON | IXANY},
    };
    // clang-format on
    LineOnly line;
    for (const Case& c : cases) {
        termios t{};
        t.c_cflag = CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS | CLOCAL;
        t.c_iflag = IXON | IXOFF | IXANY | ICRNL;
        prot = c.prot, xflag = static_cast<uint8_t>(c.xflag), cfloflag = c.cfloflag;
        ixonset = IXON | IXANY;
        vmin = 3, vtime = 7;
        serword(t, c.word);
        EXPECT_EQ(t.c_cflag, c.cflags | CLOCAL) << c.word;
        EXPECT_EQ(t.c_iflag, c.iflags | ICRNL) << c.word;
        EXPECT_EQ(t.c_cc[VMIN], 3);
        EXPECT_EQ(t.c_cc[VTIME], 7);
    }
    xflag = 0;
    ixonset = 0;
}

TEST_F(Serial, SpeedsOutsideTheTableReadAs9600) {
    termios t{};
    tcgetattr(pty.slave, &t);
    cfsetospeed(&t, B230400);
    tcsetattr(pty.slave, TCSANOW, &t);
    EXPECT_EQ(sergbaud(pty.slave, 1), 9600);
    EXPECT_EQ(tospeed, static_cast<int>(B230400));
    cfsetospeed(&t, B4800);
    tcsetattr(pty.slave, TCSANOW, &t);
    EXPECT_EQ(sergbaud(pty.slave, 0), 4800);
    EXPECT_EQ(tospeed, static_cast<int>(B230400));
}

TEST_F(Serial, PortsThatCannotBeOpened) {
    for (std::string port : {"/dev/ttyNOPE7", "/dev/full", "/dev/null"}) { // full: no terminal
        EXPECT_EQ(open(port), "Can't open " + port + "\r\n");
        EXPECT_EQ(connected, 0) << port;
        EXPECT_TRUE(fs::is_empty(d.path())) << port; // no lock left behind
    }
}

TEST_F(Serial, HangingOpenIsAbandonedAtItsAlarm) {
    // A FIFO without a reader blocks a write-only open, as a device waiting for carrier would.
    const std::string fifo = d.path().string() + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    bool timedout = false;
    int prev = alarm(0);
    EXPECT_EQ(guardedopen(fifo.c_str(), O_WRONLY, 1, &timedout), -1);
    EXPECT_TRUE(timedout);
    EXPECT_EQ(alarm(0), 0u); // no alarm left armed
    alarm(prev);
    timedout = true;
    int fd = guardedopen(fifo.c_str(), O_RDWR, 1, &timedout);
    EXPECT_GE(fd, 0);
    EXPECT_FALSE(timedout);
    close(fd);
}

TEST(ConsoleFlowControl, SwitchedOnlyWhenTheConsoleHadIt) {
    PtyPair pty;
    LineOnly line;
    const int both = IXON | IXANY;
    // ixonset, xflag (server mode), cfloflag (consxon keeps it on), on; flags before, after
    const std::array<int, 6> cases[] = {{both, 0, 0, 0, both, 0},
                                        {both, 0, 0, 1, 0, both},
                                        {0, 0, 0, 1, 0, 0},
                                        {both, 1, 0, 0, both, both},
                                        {both, 0, 1, 0, both, both}};
    ttyfd = pty.slave;
    for (const auto& [set, xf, cflo, on, before, after] : cases) {
        termios t{};
        tcgetattr(pty.slave, &t);
        t.c_iflag = (t.c_iflag & ~both) | before;
        tcsetattr(pty.slave, TCSANOW, &t);
        ixonset = set, xflag = static_cast<uint8_t>(xf), cfloflag = cflo;
        consxon(on);
        tcgetattr(pty.slave, &t);
        EXPECT_EQ(t.c_iflag & both, static_cast<tcflag_t>(after)) << set << xf << cflo << on;
    }
    ttyfd = -1;
    ixonset = 0, xflag = 0;
}

} // namespace
