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

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
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

TEST_F(Serial, OpensRawWithALockAndClosesWithout) {
    std::string out = captureconsole([&] {
        ASSERT_EQ(cominit(pty.path.c_str()), 0);
        EXPECT_EQ(COM->vt(""), 0);
    });
    EXPECT_EQ(out, "Connected 9600 on " + pty.path + "\r\n");
    EXPECT_EQ(COM, &asyfuncs);
    EXPECT_GE(comfd, 0);
    EXPECT_EQ(connected, 1);
    EXPECT_EQ(comline, pty.path);
    char pid[16];
    snprintf(pid, sizeof pid, "%10d\n", getpid());
    EXPECT_EQ(d.read(lockname), pid);

    termios t = now();
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_iflag & (ICRNL | IXON | ISTRIP), 0u);
    EXPECT_TRUE(t.c_iflag & IXOFF); // the default Xon/Xoff protocol
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS | HUPCL), 0u); // exitdtr: HUPCL off
    EXPECT_TRUE(t.c_cflag & CLOCAL);
    EXPECT_TRUE(t.c_cflag & CREAD);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
    EXPECT_EQ(t.c_cc[VMIN], 1);
    EXPECT_EQ(t.c_cc[VTIME], 1);
    EXPECT_EQ(t.c_cc[VINTR], 0);
    EXPECT_EQ(fcntl(comfd, F_GETFL) & O_NONBLOCK, 0);

    comexit();
    EXPECT_EQ(COM, &nulfunc);
    EXPECT_EQ(comfd, -1);
    EXPECT_EQ(comline, "nul:");
    EXPECT_FALSE(d.exists(lockname));
}

TEST_F(Serial, ClosingDropsDtrForASecondUnlessKept) {
    exitdtr = 0;
    open(pty.path);
    ASSERT_EQ(COM, &asyfuncs);
    EXPECT_TRUE(now().c_cflag & HUPCL);
    auto t0 = std::chrono::steady_clock::now();
    comexit();
    double spent = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_GE(spent, 0.9);
    EXPECT_FALSE(d.exists(lockname));
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
        {128 + 4,             0, 0, 0, CS6,                          0},
        {0 + 8,               0, 0, 0, CS5 | CSTOPB,                 0},
        {192 + 4 + 512,       0, 0, 0, CS8,                          IXON},
        {192 + 4 + 16 + 32,   3, 0, 0, CS8 | CRTSCTS,                0},
        {192 + 4 + 1024,      0, 0, 0, CS8,                          0},      // not server mode
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

// A pseudo-terminal keeps speed, stop bits, odd parity and flow control as set, but always
// reads back 8 bits without parity: the kernel forces those on it.
TEST_F(Serial, LineFormatReachesTheDevice) {
    open(pty.path);
    ASSERT_EQ(COM, &asyfuncs);
    struct Case {
        const char* parms;
        int prot;
        speed_t speed;
        tcflag_t cflags, iflags;
    };
    // clang-format off
    const Case cases[] = {
        {"2400,E,7,1", 1, B2400,   0,                IXOFF},
        {"1200,O,8,2", 1, B1200,   PARODD | CSTOPB,  IXOFF},
        {"115,N,6,1",  0, B115200, 0,                0},
        {"300,M,5,2",  3, B300,    CSTOPB | CRTSCTS, 0},
        {"19,S,8,1",   2, B19200,  0,                0},
        {"50,n,8,1",   1, B50,     0,                IXOFF},
    };
    // clang-format on
    for (const Case& c : cases) {
        setprot(c.prot);
        ASSERT_EQ(setparms(c.parms), 0) << c.parms;
        termios t = now();
        EXPECT_EQ(cfgetospeed(&t), c.speed) << c.parms;
        EXPECT_EQ(t.c_cflag & (PARODD | CSTOPB | CRTSCTS), c.cflags) << c.parms;
        EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY), c.iflags) << c.parms;
        EXPECT_EQ(sergbaud(comfd, 0), baud) << c.parms;
    }
    // A transfer runs without flow control, and the settings come back after it.
    setparms("2400,O,7,2");
    setprot(1);
    xferprot();
    termios t = now();
    EXPECT_EQ(t.c_cflag & (PARODD | CSTOPB), 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
    restprot();
    t = now();
    EXPECT_EQ(t.c_cflag & (PARODD | CSTOPB), static_cast<tcflag_t>(PARODD | CSTOPB));
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXOFF));
    // VMIN and VTIME come from the settings.
    vmin = 0, vtime = 30;
    setstat();
    t = now();
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 30);
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

TEST_F(Serial, ParametersGivenAtConnect) {
    std::string out = captureconsole([&] {
        cominit(pty.path.c_str());
        EXPECT_EQ(COM->vt("4800,E,7"), 0);
    });
    EXPECT_EQ(out, "Connected 4800 on " + pty.path + "\r\n");
    EXPECT_EQ(cfgetospeed(&static_cast<const termios&>(now())), static_cast<speed_t>(B4800));
    out = captureconsole([&] { EXPECT_EQ(COM->vt("4800,Q"), -1); });
    EXPECT_EQ(out, "NONE, EVEN, ODD, MARK or SPACE expected\r\n");
}

TEST_F(Serial, PortsThatCannotBeOpened) {
    struct Case {
        std::string list, out;
    };
    const Case cases[] = {
        {"/dev/ttyNOPE7", "Can't open /dev/ttyNOPE7\r\n"},
        {"ttyNOPE7", "Can't open /dev/ttyNOPE7\r\n"},
        {"/dev/full", "Can't open /dev/full\r\n"}, // not a terminal
        {"/dev/null", "Can't open /dev/null\r\n"},
        {"/dev/ttyNOPE7;/dev/full", "Can't open /dev/ttyNOPE7\r\nCan't open /dev/full\r\n"
                                    "All VORN devices busy: /dev/ttyNOPE7;/dev/full\r\n"},
        {"bogus;/dev/ttyNOPE7", "Unknown transport: bogus\r\nCan't open /dev/ttyNOPE7\r\n"
                                "All VORN devices busy: bogus;/dev/ttyNOPE7\r\n"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(open(c.list), c.out) << c.list;
        EXPECT_EQ(COM, &nulfunc) << c.list;
        EXPECT_EQ(comfd, -1) << c.list;
        EXPECT_EQ(comline, "nul:") << c.list;
        EXPECT_EQ(connected, 0) << c.list;
        EXPECT_TRUE(fs::is_empty(d.path())) << c.list; // no lock left behind
    }
}

TEST_F(Serial, ListFallsThroughToTheNextFreePort) {
    PtyPair second;
    const std::string secondlock = "LCK.." + second.path.substr(second.path.rfind('/') + 1);
    d.write(lockname, "         1\n"); // held by a live process
    const std::string list = pty.path + ";" + second.path;
    EXPECT_EQ(open(list), "Device locked: " + pty.path + "\r\n");
    EXPECT_EQ(COM, &asyfuncs);
    EXPECT_EQ(comline, second.path);
    EXPECT_TRUE(d.exists(secondlock));
    comexit();
    EXPECT_FALSE(d.exists(secondlock));
    EXPECT_EQ(d.read(lockname), "         1\n");
    // Both taken.
    d.write(secondlock, "         1\n");
    EXPECT_EQ(open(list), "Device locked: " + pty.path + "\r\nDevice locked: " + second.path +
                              "\r\nAll VORN devices busy: " + list + "\r\n");
    EXPECT_EQ(COM, &nulfunc);
    EXPECT_EQ(comline, "nul:");
}

TEST_F(Serial, PermissionDenied) {
    if (getuid() != 0) GTEST_SKIP() << "needs to drop from root to another user";
    // A device only root may open, tried by an ordinary user in a child process.
    fs::permissions(d.path(), fs::perms::all);
    pid_t p = fork();
    if (p == 0) {
        if (setgid(65534) < 0 || setuid(65534) < 0) _exit(3);
        std::string out = captureconsole([] { cominit("/dev/console"); });
        bool ok = out == "Can't open /dev/console\r\n" && COM == &nulfunc && comfd == -1 &&
                  fs::is_empty(d.path());
        _exit(ok ? 0 : 1);
    }
    int st = 0;
    waitpid(p, &st, 0);
    EXPECT_TRUE(WIFEXITED(st));
    EXPECT_EQ(WEXITSTATUS(st), 0);
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

TEST_F(Serial, ServerModeLineOnAnyDescriptor) {
    // What server mode applies to standard input: 8 bits, one stop bit, no parity.
    ASSERT_EQ(serraw(pty.slave), 0);
    ASSERT_EQ(serset(pty.slave, 244), 0);
    termios t{};
    tcgetattr(pty.slave, &t);
    EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB), static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY), 0u);
    EXPECT_EQ(serraw(d.path().empty() ? -1 : ::open("/dev/null", O_RDONLY)), -1);
}

} // namespace

namespace {

TEST_F(Serial, OpeningVariants) {
    struct Case {
        const char* what;
        std::string partopen;
        int preoflag;
    };
    const Case cases[] = {
        {"plain", "", 0},
        {"blocking prefix", "/dev/pts", 0},
        {"other prefix", "/dev/ttyS", 0},
        {"open once before", "", 1},
        {"both", "/dev/pts/", 1},
    };
    for (const Case& c : cases) {
        partopen = c.partopen;
        preoflag = c.preoflag;
        open(pty.path);
        EXPECT_EQ(COM, &asyfuncs) << c.what;
        EXPECT_EQ(fcntl(comfd, F_GETFL) & O_NONBLOCK, 0) << c.what;
        EXPECT_TRUE(d.exists(lockname)) << c.what;
        captureconsole([] { comexit(); });
        EXPECT_FALSE(d.exists(lockname)) << c.what;
    }
}

TEST_F(Serial, NodePrefixedDeviceAndItsLockDirectory) {
    // A node prefix that is a directory of this machine stands in for another node's files.
    const std::string root = d.path().string() + "/node";
    fs::create_directories(root + "/dev");
    fs::create_directories(root + "/locks");
    fs::create_symlink(pty.path, root + "/dev/ttyN1");
    devprefix = root;
    lockpre = "/locks/LCK..%B";
    systemidfile = d.path().string() + "/systemid";
    std::string out = captureconsole([] {
        cominit("ttyN1");
        COM->vt("");
    });
    EXPECT_EQ(out, "Connected 9600 on ttyN1\r\n");
    ASSERT_EQ(COM, &asyfuncs);
    EXPECT_TRUE(fs::exists(root + "/locks/LCK..ttyN1"));
    captureconsole([] { comexit(); });
    EXPECT_FALSE(fs::exists(root + "/locks/LCK..ttyN1"));
}

} // namespace

namespace {

TEST(ConsoleFlowControl, SwitchedOnlyWhenTheConsoleHadIt) {
    PtyPair pty;
    LineOnly line;
    struct Case {
        int ixonset, xflag, cfloflag, on;
        tcflag_t before, after;
    };
    const tcflag_t both = IXON | IXANY;
    const Case cases[] = {
        {static_cast<int>(both), 0, 0, 0, both, 0},
        {static_cast<int>(both), 0, 0, 1, 0, both},
        {IXON, 0, 0, 1, 0, IXON},
        {0, 0, 0, 1, 0, 0},                            // off at start: left alone
        {static_cast<int>(both), 1, 0, 0, both, both}, // server mode
        {static_cast<int>(both), 0, 1, 0, both, both}, // consxon keeps it on
    };
    for (const Case& c : cases) {
        termios t{};
        tcgetattr(pty.slave, &t);
        t.c_iflag = (t.c_iflag & ~both) | c.before;
        tcsetattr(pty.slave, TCSANOW, &t);
        ttyfd = pty.slave;
        ixonset = c.ixonset, xflag = static_cast<uint8_t>(c.xflag), cfloflag = c.cfloflag;
        consxon(c.on);
        tcgetattr(pty.slave, &t);
        EXPECT_EQ(t.c_iflag & both, c.after) << c.ixonset << c.xflag << c.cfloflag << c.on;
    }
    ttyfd = -1;
    ixonset = 0, xflag = 0;
}

} // namespace
