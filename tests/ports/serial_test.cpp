// The serial driver on a pseudo-terminal (opening with a lock, line format, speed, closing,
// the ports that cannot be opened) and the lock manager (lock names and contents, stale
// locks, node prefixes and login lines).
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
#include <cstdio>
#include <exception>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <termios.h>
#include <tuple>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string pidtext(int pid) {
    char b[16];
    std::snprintf(b, sizeof b, "%10d\n", pid);
    return b;
}

class Serial : public ::testing::Test {
  protected:
    TempDir d;
    PtyPair pty;
    LineOnly line;
    std::string lockname = "LCK.." + pty.path.substr(pty.path.rfind('/') + 1);

    void SetUp() override {
        ASSERT_FALSE(pty.path.empty());
        lockpre = d.path().string() + "/LCK..%s";
        exitdtr = 1; // closing without the one-second DTR drop (callin would wait a second)
    }
    termios now() { // the line's settings as another program sees them
        termios t{};
        return tcgetattr(pty.slave, &t), t;
    }
};

// Every way of opening gives a raw, waiting line with a lock that goes with the close; unless
// kept, DTR drops for a second with the speed at 0 (hang-up). (Raw mode, speed, flow control
// and the lock's content are pinned by the socat test; these bits it cannot show.)
TEST_F(Serial, OpensRawWithALockAndClosesWithout) {
    // partopen, preoflag, parameters; the speed; exitdtr
    // clang-format off
    const std::tuple<std::string, int, const char*, speed_t, int> cases[] = {
        {"", 0, "", B9600, 1}, {"/dev/pts", 0, "4800,E,7", B4800, 1},
        {"/dev/pts/", 1, "", B9600, 1}, {"", 0, "", B9600, 0}};
    // clang-format on
    for (const auto& [part, preo, parms, speed, keepdtr] : cases) {
        partopen = part, preoflag = preo, exitdtr = keepdtr;
        std::string out = captureconsole([&] {
            ASSERT_EQ(cominit(pty.path.c_str()), 0);
            EXPECT_EQ(COM->vt(parms), 0);
        });
        EXPECT_EQ(out, "Connected " + std::string(*parms ? "4800" : "9600") + " on " + pty.path +
                           "\r\n");
        EXPECT_TRUE(d.exists(lockname));
        termios t = now();
        EXPECT_EQ(cfgetospeed(&t), speed) << parms;
        EXPECT_TRUE((t.c_cflag & CREAD) && (t.c_cflag & HUPCL || keepdtr));
        EXPECT_TRUE(t.c_cc[VTIME] == 1 && t.c_cc[VINTR] == 0);
        EXPECT_EQ(fcntl(comfd, F_GETFL) & O_NONBLOCK, 0); // reads wait
        auto t0 = std::chrono::steady_clock::now();
        comexit();
        if (!keepdtr) {
            EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(900));
            EXPECT_EQ(cfgetospeed(&static_cast<const termios&>(now())), speed_t(B0));
        }
        EXPECT_FALSE(d.exists(lockname));
        settingsreset();
    }
}

TEST(SerialWord, EveryBitOfTheLineFormat) {
    // the word, prot, xflag, cfloflag; c_cflag and c_iflag bits set
    // clang-format off
    const std::tuple<int, int, int, int, tcflag_t, tcflag_t> cases[] = {
        {375,                 1, 0, 0, CS7 | PARENB,                 IXOFF},  // 2400,E,7,1
        {192 + 12 + 1,        0, 0, 0, CS8 | PARENB | PARODD | CSTOPB, 0},
        {0 + 8,               0, 0, 0, CS5 | CSTOPB,                 0},
        {192 + 4 + 512,       0, 0, 0, CS8,                          IXON},
        {192 + 4 + 1024,      0, 1, 0, CS8,                          0},      // no consxon
        {192 + 4 + 1024,      0, 1, 1, CS8,                          IXON | IXANY}};
    // clang-format on
    LineOnly line;
    for (const auto& [word, pr, xf, cflo, cflags, iflags] : cases) {
        termios t{};
        t.c_cflag = CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS | CLOCAL;
        t.c_iflag = IXON | IXOFF | IXANY | ICRNL;
        prot = pr, xflag = static_cast<uint8_t>(xf), cfloflag = cflo;
        ixonset = IXON | IXANY, vmin = 3, vtime = 7;
        serword(t, word);
        EXPECT_EQ(t.c_cflag, cflags | CLOCAL) << word;
        EXPECT_EQ(t.c_iflag, iflags | ICRNL) << word;
        EXPECT_TRUE(t.c_cc[VMIN] == 3 && t.c_cc[VTIME] == 7);
    }
    xflag = 0, ixonset = 0;
}

TEST_F(Serial, SpeedsOutsideTheTableReadAs9600) {
    for (auto [speed, keep, want] :
         {std::tuple<speed_t, int, int>{B230400, 1, 9600}, {B4800, 0, 4800}}) {
        termios t = now();
        cfsetospeed(&t, speed);
        tcsetattr(pty.slave, TCSANOW, &t);
        EXPECT_EQ(sergbaud(pty.slave, keep), want);
        EXPECT_EQ(tospeed, static_cast<int>(B230400)); // kept only when asked
    }
}

TEST_F(Serial, PortsThatCannotBeOpenedAndOpensThatHang) {
    for (std::string port : {"/dev/ttyNOPE7", "/dev/full", "/dev/null"}) { // full: no terminal
        EXPECT_EQ(captureconsole([&] { cominit(port.c_str()); }), "Can't open " + port + "\r\n");
        EXPECT_EQ(connected, 0) << port;
        EXPECT_TRUE(fs::is_empty(d.path())) << port; // no lock left behind
    }
    // A FIFO without a reader blocks a write-only open, as a device waiting for carrier would:
    // the open is abandoned at its alarm.
    const std::string fifo = d.path().string() + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    bool timedout = false;
    int prev = alarm(0);
    EXPECT_EQ(guardedopen(fifo.c_str(), O_WRONLY, 1, &timedout), -1);
    EXPECT_TRUE(timedout);
    EXPECT_EQ(alarm(0), 0u); // no alarm left armed
    alarm(prev);
    timedout = true;
    EXPECT_EQ(close(guardedopen(fifo.c_str(), O_RDWR, 1, &timedout)), 0);
    EXPECT_FALSE(timedout);
}

TEST_F(Serial, ConsoleFlowControlSwitchedOnlyWhenTheConsoleHadIt) {
    const int both = IXON | IXANY;
    // ixonset, xflag (server mode), cfloflag (consxon keeps it on), on; flags before, after
    // clang-format off
    const std::array<int, 6> cases[] = {{both, 0, 0, 0, both, 0}, {both, 0, 0, 1, 0, both},
        {0, 0, 0, 1, 0, 0}, {both, 1, 0, 0, both, both}, {both, 0, 1, 0, both, both}};
    // clang-format on
    ttyfd = pty.slave;
    for (const auto& [set, xf, cflo, on, before, after] : cases) {
        termios t = now();
        t.c_iflag = (t.c_iflag & ~both) | before;
        tcsetattr(pty.slave, TCSANOW, &t);
        ixonset = set, xflag = static_cast<uint8_t>(xf), cfloflag = cflo;
        consxon(on);
        EXPECT_EQ(now().c_iflag & both, static_cast<tcflag_t>(after)) << set << xf << cflo << on;
    }
    ttyfd = -1;
    ixonset = 0, xflag = 0;
}

// A private node: root/dev/ttyAB is a pseudo-terminal, root/locks the lock directory, and
// `devprefix` points at root, so every path the lock manager builds lies inside the test.
class Lock : public Serial {
  protected:
    std::string root = d.path().string() + "/root", prefix = "//" + root;
    const std::string ab = "root/locks/LCK..ttyAB";

    void SetUp() override {
        Serial::SetUp();
        for (const char* sub : {"/dev", "/locks", "/etc"})
            fs::create_directories(root + sub);
        fs::create_symlink(pty.path, root + "/dev/ttyAB");
        devprefix = root;
        lockpre = "/locks/LCK..%s";
        systemidfile = d.path().string() + "/systemid"; // none: the host name is this node
    }
    std::string refused() {
        return captureconsole([] { EXPECT_EQ(dolock("ttyAB"), nullptr); });
    }
};

// Echo mode reports each lock and unlock, and a device that cannot be stat'ed for %m.
TEST_F(Lock, NamesFollowTheMarkersEchoModeReportsThemAndNoDirectoryRefuses) {
    struct stat st {};
    ASSERT_EQ(stat(pty.path.c_str(), &st), 0);
    char nums[48];
    std::snprintf(nums, sizeof nums, "LK.%03u.%03u.%03u", major(st.st_dev), major(st.st_rdev),
                  minor(st.st_rdev));
    // printf conversions in the user's format stay text
    const std::pair<std::string, std::string> cases[] = {
        {"LCK..%s", "LCK..ttyAB"},  {"LCK..%b", "LCK..ttyab"},          {"LK.%m", nums},
        {"100%%.%s", "100%.ttyAB"}, {"%n%d%x%s%s", "%n%d%xttyABttyAB"}, {"trail%", "trail%"}};
    echoflag = 1;
    for (const auto& [format, name] : cases) {
        lockpre = "/locks/" + format;
        std::string out = captureconsole([&] {
            ASSERT_NE(dolock("ttyAB"), nullptr) << format;
            EXPECT_EQ(d.read("root/locks/" + name), pidtext(getpid())) << format;
            delock();
        });
        const std::string path = prefix + "/locks/" + name;
        EXPECT_EQ(out, "[Locking " + path + "]\r\n[Unlocking " + path + "]\r\n") << format;
    }
    lockpre = "/locks/%m";
    std::string out = captureconsole([] { EXPECT_NE(dolock("ttyNONE"), nullptr); });
    echoflag = 0;
    EXPECT_EQ(out, "[Can't stat ttyNONE for lockfile]\r\n");
    devprefix.clear(); // the null device is never locked
    EXPECT_STREQ(dolock("/dev/null"), "/dev/null");
    EXPECT_TRUE(fs::is_empty(root + "/locks"));
    devprefix = root, lockpre = "/nodir/LCK..%s"; // without a lock directory: refused, saying so
    EXPECT_EQ(refused(), "Can't lock ttyAB: lock directory " + prefix +
                             "/nodir: No such file or directory\r\n");
}

// Whatever sits at the lock path is never opened in a way that blocks, never removed unless
// this process wrote it, and anything but a regular file refuses the port with a message.
TEST_F(Lock, SomethingOtherThanALockFileAtTheLockPathIsRefusedAndKept) {
    const std::string lock = root + "/locks/LCK..ttyAB";
    const std::pair<std::function<void()>, const char*> cases[] = {
        {[&] { ASSERT_EQ(mkfifo(lock.c_str(), 0644), 0); }, "fifo"},
        {[&] { fs::create_directory(lock); }, "directory"},
        {[&] { fs::create_symlink(d.file("elsewhere"), lock); }, "symbolic link"}};
    locktime = 1; // however old, none of them is a stale lock
    for (const auto& [make, what] : cases) {
        make();
        EXPECT_EQ(refused(),
                  "Can't lock ttyAB: " + prefix + "/locks/LCK..ttyAB is not a lock file\r\n")
            << what;
        EXPECT_TRUE(fs::exists(fs::symlink_status(lock))) << what;
        fs::remove(lock);
    }
    EXPECT_FALSE(d.exists("elsewhere"));
    // A held lock that another process rewrote (took over) is theirs: never removed.
    ASSERT_NE(dolock("ttyAB"), nullptr);
    d.write(ab, pidtext(1));
    delock();
    EXPECT_EQ(d.read(ab), pidtext(1));
}

TEST_F(Lock, DeviceNamesPrefixesAndLoginLines) {
    // port, devprefix; devpre and devnam found. Long names (by-id paths) are kept whole.
    // clang-format off
    const std::array<const char*, 4> names[] = {
        {"/dev/ttyS0", "", "", "ttyS0"}, {"//node7/dev/ttyS1", "", "//node7", "ttyS1"},
        {"ttyS2", "node8", "//node8", "ttyS2"}, {"//node9", "", "//node9", ""},
        {"/dev/ttyABCDEFGHIJKLMNOPQRSTUVWXYZ0123", "", "", "ttyABCDEFGHIJKLMNOPQRSTUVWXYZ0123"}};
    // clang-format on
    for (const auto& [port, pre, wantpre, wantnam] : names) {
        devprefix = pre;
        chkdev(port);
        EXPECT_EQ(devpre + "|" + devnam, std::string(wantpre) + "|" + wantnam) << port;
    }
    d.write("systemid", "node8\nsecond line\n"); // a prefix naming this node is dropped
    chkdev("ttyS2");
    EXPECT_EQ(devpre, "");
    devprefix = root;
    const std::pair<const char*, int> tabs[] = {
        {"s1:2345:respawn:/sbin/getty ttyAB 9600\n", 1},
        {"s1:2345:respawn:/sbin/getty ttyAB", 1}, // no final line feed
        {"s1:2345:off:/sbin/getty ttyAB 9600\n", 0},
        {"s1:2345:respawn:/sbin/getty ttyABC\ns2:2345:respawn:/sbin/getty ttyS0\n", 0},
        {"# ttyAB:respawn: in a comment still counts\n", 1},
        {"", 0}};
    for (const auto& [tab, active] : tabs) {
        d.write("root/etc/inittab", tab);
        EXPECT_EQ(chkdev("ttyAB"), active) << tab;
    }
}

TEST_F(Lock, ExistingLocksAndLockingOff) {
    pid_t p = fork(); // a process id whose process has ended
    if (p == 0) _exit(0);
    waitpid(p, nullptr, 0);
    int32_t one = 1, dead = p;
    const std::string bin1(reinterpret_cast<char*>(&one), 4),
        bin(reinterpret_cast<char*>(&dead), 4);
    // clang-format off
    const std::tuple<std::string, long, bool> cases[] = {
        {pidtext(1), 5400, false}, {pidtext(getpid()), 5400, false}, {pidtext(dead), 0, true},
        {bin1, 5400, false}, {bin, 0, true}, {"garbage!", 5400, false}, {"", 5400, false}};
    // clang-format on
    for (const auto& [content, age, taken] : cases) {
        d.write(ab, content);
        locktime = age;
        std::string out =
            captureconsole([&] { EXPECT_EQ(dolock("ttyAB") != nullptr, taken) << content; });
        EXPECT_EQ(out, taken ? "" : "Device locked: ttyAB\r\n") << content;
        EXPECT_EQ(d.read(ab), taken ? pidtext(getpid()) : content);
        delock(); // forgets nothing it did not make
        EXPECT_EQ(d.exists(ab), !taken) << content;
        fs::remove(d.file(ab));
    }
    // A live owner's lock is taken over once older than locktime, counted from its creation.
    d.write(ab, pidtext(1));
    locktime = 1;
    refused();
    EXPECT_TRUE(pollfor([] { return captureconsole([] { dolock("ttyAB"); }).empty(); }, 5));
    EXPECT_EQ(d.read(ab), pidtext(getpid()));
    delock();
    d.write(ab, pidtext(1));
    iflag = 1; // locking off: the port opens and the owner's lock stays
    EXPECT_NE(dolock("ttyAB"), nullptr);
    delock();
    iflag = 0;
    EXPECT_EQ(d.read(ab), pidtext(1));
}

// A port named by a long stable path is locked under its login-line name and opened by it.
TEST_F(Lock, LongByIdNamesAreLockedByTheirLineAndOpened) {
    const std::string byid = "serial/by-id/usb-FTDI_FT232R_USB_UART_A9Z8Y7X6-if00-port0";
    fs::create_directories(root + "/dev/serial/by-id");
    fs::create_symlink(pty.path, root + "/dev/" + byid);
    const char* path = dolock(byid.c_str());
    ASSERT_NE(path, nullptr);
    EXPECT_EQ(std::string(path), prefix + "/dev/" + byid);
    EXPECT_EQ(d.read(ab), pidtext(getpid()));
    delock();
    EXPECT_FALSE(d.exists(ab));
}

TEST_F(Lock, LoginProcessIsDisabledForTheCallAndEnabledAfter) {
    const std::string tab = "s1:2345:respawn:/sbin/getty ttyAB 9600\n";
    const std::string disabling = "[Disabling " + prefix + "/dev/ttyAB]\r\n";
    d.write("root/etc/inittab", tab);
    calloutprog = std::string(VORN_SOURCE_DIR) + "/data/callout";
    callinprog = std::string(VORN_SOURCE_DIR) + "/data/callin";
    EXPECT_EQ(captureconsole([&] { EXPECT_NE(dolock("ttyAB"), nullptr); }), disabling);
    EXPECT_EQ(enabled, 1);
    EXPECT_EQ(d.read("root/etc/inittab"), "s1:2345:off:/sbin/getty ttyAB 9600\n");
    EXPECT_EQ(captureconsole([] { delock(); }), "[Enabling " + prefix + "/dev/ttyAB]\r\n");
    EXPECT_EQ(enabled, 0);
    EXPECT_EQ(d.read("root/etc/inittab"), tab);
    EXPECT_FALSE(d.exists(ab));
    // A login process that stays, or no callout program at all (nothing on the search path
    // either), refuses the port.
    EnvGuard path("PATH", d.path().c_str());
    for (auto [prog, msg] : {std::pair<std::string, std::string>{"/bin/true", ""},
                             {d.path().string() + "/nothing-here", "Can't execute callout\r\n"}}) {
        calloutprog = prog;
        EXPECT_EQ(refused(), disabling + msg);
        EXPECT_EQ(enabled, 0);
        EXPECT_FALSE(d.exists(ab));
    }
}

TEST_F(Lock, LockGoesWithTheProgramHoweverItEnds) {
    // A forked child ending does not take its parent's lock with it.
    // clang-format off
    const std::pair<void (*)(), bool> cases[] = {
        {[] { std::exit(0); }, true}, {[] { std::terminate(); }, true},
        {[] { if (fork() == 0) std::exit(0); wait(nullptr); _exit(0); }, false}};
    // clang-format on
    for (const auto& [end, gone] : cases) {
        pid_t p = fork();
        if (p == 0) dolock("ttyAB") ? end() : _exit(2);
        waitpid(p, nullptr, 0);
        EXPECT_EQ(d.exists(ab), !gone) << gone;
        fs::remove(d.file(ab));
    }
}

} // namespace
