// The lock manager: lock names and contents, stale locks, node prefixes and login lines.
#include <gtest/gtest.h>

#include "core/start.h"
#include "ports/com.h"
#include "ports/lock.h"
#include "ports/serial.h"
#include "support/harness.h"
#include "support/portsupport.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string pidtext(int pid) {
    char b[16];
    std::snprintf(b, sizeof b, "%10d\n", pid);
    return b;
}

std::string slurp(const std::string& path) {
    std::string s;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        char b[256];
        for (size_t n; (n = std::fread(b, 1, sizeof b, f)) > 0;)
            s.append(b, n);
        std::fclose(f);
    }
    return s;
}

// A process id that belonged to a process that has ended.
int deadpid() {
    pid_t p = fork();
    if (p == 0) _exit(0);
    waitpid(p, nullptr, 0);
    return static_cast<int>(p);
}

// A private node: root/dev/ttyAB is a pseudo-terminal, root/locks the lock directory, and
// `devprefix` points at root, so every path the lock manager builds lies inside the test.
class Lock : public ::testing::Test {
  protected:
    TempDir d;
    PtyPair pty;
    LineOnly line;
    std::string root, prefix;

    void SetUp() override {
        root = d.path().string() + "/root";
        fs::create_directories(root + "/dev");
        fs::create_directories(root + "/locks");
        fs::create_directories(root + "/etc");
        ASSERT_FALSE(pty.path.empty());
        fs::create_symlink(pty.path, root + "/dev/ttyAB");
        devprefix = root;
        prefix = "//" + root;
        lockpre = "/locks/LCK..%s";
        systemidfile = d.path().string() + "/systemid"; // none: the host name is this node
        exitdtr = 1;                                    // callin would wait a second first
    }
    std::string lockat(const std::string& name) { return root + "/locks/" + name; }
};

TEST_F(Lock, NamesFollowTheMarkers) {
    struct stat st {};
    ASSERT_EQ(stat(pty.path.c_str(), &st), 0);
    char nums[48];
    std::snprintf(nums, sizeof nums, "%03u.%03u.%03u", major(st.st_dev), major(st.st_rdev),
                  minor(st.st_rdev));
    struct Case {
        std::string format, name;
        int bnulock, majlock;
    };
    const Case cases[] = {
        {"/locks/LCK..%s", "LCK..ttyAB", 0, 0},
        {"/locks/LCK..%b", "LCK..ttyab", 1, 0},
        {"/locks/LCK..%B", "LCK..ttyAB", 2, 0},
        {"/locks/LK.%m", std::string("LK.") + nums, 0, 1},
        {"/locks/100%%.%s", "100%.ttyAB", 0, 0},
        // printf conversions in the user's format stay text
        {"/locks/%n%d%x%s%s", "%n%d%xttyABttyAB", 0, 0},
        {"/locks/trailing%", "trailing%", 0, 0},
    };
    for (const Case& c : cases) {
        lockpre = c.format;
        std::string out;
        EXPECT_EQ(chkdev("ttyAB"), 0);
        ASSERT_EQ(makelockstr(out), 0) << c.format;
        EXPECT_EQ(out, prefix + "/locks/" + c.name) << c.format;
        EXPECT_EQ(bnulock, c.bnulock) << c.format;
        EXPECT_EQ(majlock, c.majlock) << c.format;
        ASSERT_EQ(mlock(), 0) << c.format;
        EXPECT_EQ(slurp(lockat(c.name)), pidtext(getpid())) << c.format;
        delock();
        EXPECT_FALSE(fs::exists(lockat(c.name))) << c.format;
    }
}

TEST_F(Lock, DeviceNamesAndPrefixes) {
    struct Case {
        const char* port;
        const char* devprefix;
        const char* devpre;
        const char* devnam;
    };
    const Case cases[] = {
        {"/dev/ttyS0", "", "", "ttyS0"},
        {"ttyS0", "", "", "ttyS0"},
        {"//node7/dev/ttyS1", "", "//node7", "ttyS1"},
        {"//node7/dev/ttyS1", "other", "//node7", "ttyS1"},
        {"ttyS2", "node8", "//node8", "ttyS2"},
        {"ttyS2", "//node8", "//node8", "ttyS2"},
        {"/dev/pts/4", "", "", "pts/4"},
        {"//node9", "", "//node9", ""},
        // at most 31 characters of a port name are kept
        {"/dev/ttyABCDEFGHIJKLMNOPQRSTUVWXYZ0123", "", "", "ttyABCDEFGHIJKLMNOPQRSTUVW"},
    };
    for (const Case& c : cases) {
        devprefix = c.devprefix;
        chkdev(c.port);
        EXPECT_EQ(devpre, c.devpre) << c.port;
        EXPECT_EQ(devnam, c.devnam) << c.port;
    }
    // A prefix naming this node is dropped.
    d.write("systemid", "node8\nsecond line\n");
    devprefix = "node8";
    chkdev("ttyS2");
    EXPECT_EQ(devpre, "");
    devprefix = "node9";
    chkdev("ttyS2");
    EXPECT_EQ(devpre, "//node9");
}

TEST_F(Lock, PseudoTerminalIsLockedByItsLastComponent) {
    devprefix.clear();
    lockpre = d.path().string() + "/LCK..%s";
    const std::string num = pty.path.substr(pty.path.rfind('/') + 1);
    EXPECT_EQ(chkdev(pty.path.c_str()), 0);
    EXPECT_EQ(mdevnam, pty.path.substr(5));
    ASSERT_EQ(mlock(), 0);
    EXPECT_TRUE(d.exists("LCK.." + num));
    delock();
    EXPECT_FALSE(d.exists("LCK.." + num));
}

TEST_F(Lock, ExistingLocks) {
    struct Case {
        const char* what;
        std::string content;
        long locktime;
        bool taken;
    };
    int32_t one = 1, dead = deadpid();
    const Case cases[] = {
        {"live owner", pidtext(1), 5400, false},
        {"live owner, no age limit", pidtext(1), 0, false},
        {"ourselves", pidtext(getpid()), 5400, false},
        {"dead owner", pidtext(dead), 5400, true},
        {"dead owner, no age limit", pidtext(dead), 0, true},
        {"binary live owner", std::string(reinterpret_cast<char*>(&one), 4), 5400, false},
        {"binary dead owner", std::string(reinterpret_cast<char*>(&dead), 4), 0, true},
        {"unreadable owner", "garbage!", 5400, false},
        {"empty", "", 5400, false},
    };
    for (const Case& c : cases) {
        d.write("root/locks/LCK..ttyAB", c.content);
        locktime = c.locktime;
        std::string out = captureconsole([&] {
            const char* path = dolock("ttyAB");
            EXPECT_EQ(path != nullptr, c.taken) << c.what;
        });
        if (c.taken) {
            EXPECT_EQ(out, "") << c.what;
            EXPECT_EQ(slurp(lockat("LCK..ttyAB")), pidtext(getpid())) << c.what;
            delock();
            EXPECT_FALSE(fs::exists(lockat("LCK..ttyAB"))) << c.what;
        } else {
            EXPECT_EQ(out, "Device locked: ttyAB\r\n") << c.what;
            EXPECT_EQ(slurp(lockat("LCK..ttyAB")), c.content) << c.what;
            EXPECT_EQ(mdevnam, "") << c.what;
            delock(); // forgets nothing it did not make
            EXPECT_TRUE(fs::exists(lockat("LCK..ttyAB"))) << c.what;
        }
        fs::remove(lockat("LCK..ttyAB"));
    }
}

TEST_F(Lock, OldLockIsTakenOver) {
    d.write("root/locks/LCK..ttyAB", pidtext(1));
    locktime = 1;
    captureconsole([] { EXPECT_EQ(dolock("ttyAB"), nullptr); });
    // The age counts from the lock's creation; poll until it is a second old.
    EXPECT_TRUE(pollfor([] { return captureconsole([] { dolock("ttyAB"); }).empty(); }, 5));
    EXPECT_EQ(slurp(lockat("LCK..ttyAB")), pidtext(getpid()));
    delock();
}

TEST_F(Lock, LockingOff) {
    d.write("root/locks/LCK..ttyAB", pidtext(1));
    iflag = 1;
    EXPECT_NE(dolock("ttyAB"), nullptr);
    EXPECT_EQ(slurp(lockat("LCK..ttyAB")), pidtext(1));
    delock();
    iflag = 0;
    EXPECT_EQ(slurp(lockat("LCK..ttyAB")), pidtext(1));
    fs::remove(lockat("LCK..ttyAB"));
    lockpre.clear();
    EXPECT_NE(dolock("ttyAB"), nullptr);
    EXPECT_TRUE(fs::is_empty(root + "/locks"));
    delock();
    // The null device is never locked.
    lockpre = "/locks/LCK..%s";
    devprefix.clear();
    EXPECT_STREQ(dolock("/dev/null"), "/dev/null");
    EXPECT_TRUE(fs::is_empty(root + "/locks"));
}

TEST_F(Lock, EchoModeReportsLockAndUnlock) {
    echoflag = 1;
    std::string out = captureconsole([] {
        dolock("ttyAB");
        delock();
    });
    echoflag = 0;
    const std::string name = prefix + "/locks/LCK..ttyAB";
    EXPECT_EQ(out, "[Locking " + name + "]\r\n[Unlocking " + name + "]\r\n");
    // A device that cannot be stat'ed for %m gets no lock at all.
    echoflag = 1;
    lockpre = "/locks/%m";
    out = captureconsole([] { EXPECT_NE(dolock("ttyNONE"), nullptr); });
    echoflag = 0;
    EXPECT_EQ(out, "[Can't stat ttyNONE for lockfile]\r\n");
    EXPECT_TRUE(fs::is_empty(root + "/locks"));
}

TEST_F(Lock, MissingLockDirectoryRefusesThePort) {
    lockpre = "/nodir/LCK..%s";
    std::string out = captureconsole([] { EXPECT_EQ(dolock("ttyAB"), nullptr); });
    EXPECT_EQ(out, "Device locked: ttyAB\r\n");
}

TEST_F(Lock, LoginLines) {
    struct Case {
        const char* inittab;
        int active;
    };
    const Case cases[] = {
        {"s1:2345:respawn:/sbin/getty ttyAB 9600\n", 1},
        {"s1:2345:respawn:/sbin/getty -L ttyAB\n", 1},
        {"s1:2345:respawn:/sbin/getty ttyAB", 1}, // no final line feed
        {"s1:2345:off:/sbin/getty ttyAB 9600\n", 0},
        {"s1:2345:respawn:/sbin/getty ttyAB1 9600\n", 0},
        {"s1:2345:respawn:/sbin/getty ttyABC\ns2:2345:respawn:/sbin/getty ttyS0\n", 0},
        {"# ttyAB:respawn: in a comment still counts\n", 1},
        {"", 0},
    };
    for (const Case& c : cases) {
        d.write("root/etc/inittab", c.inittab);
        EXPECT_EQ(chkdev("ttyAB"), c.active) << c.inittab;
    }
    // A device that does not exist has no login line.
    d.write("root/etc/inittab", "s1:2345:respawn:/sbin/getty ttyZZ\n");
    EXPECT_EQ(chkdev("ttyZZ"), 0);
}

TEST_F(Lock, LoginProcessIsDisabledForTheCallAndEnabledAfter) {
    const std::string tab = "s1:2345:respawn:/sbin/getty ttyAB 9600\n";
    d.write("root/etc/inittab", tab);
    calloutprog = std::string(VORN_SOURCE_DIR) + "/data/callout";
    callinprog = std::string(VORN_SOURCE_DIR) + "/data/callin";
    std::string out = captureconsole([&] { EXPECT_NE(dolock("ttyAB"), nullptr); });
    EXPECT_EQ(out, "[Disabling " + prefix + "/dev/ttyAB]\r\n");
    EXPECT_EQ(enabled, 1);
    EXPECT_EQ(d.read("root/etc/inittab"), "s1:2345:off:/sbin/getty ttyAB 9600\n");
    EXPECT_TRUE(fs::exists(lockat("LCK..ttyAB")));
    out = captureconsole([] { delock(); });
    EXPECT_EQ(out, "[Enabling " + prefix + "/dev/ttyAB]\r\n");
    EXPECT_EQ(enabled, 0);
    EXPECT_EQ(d.read("root/etc/inittab"), tab);
    EXPECT_FALSE(fs::exists(lockat("LCK..ttyAB")));
}

TEST_F(Lock, LoginProcessThatStaysRefusesThePort) {
    d.write("root/etc/inittab", "s1:2345:respawn:/sbin/getty ttyAB 9600\n");
    struct Case {
        std::string prog, out;
    };
    const Case cases[] = {
        {"/bin/true", ""},
        {d.path().string() + "/nothing-here", "Can't execute callout\r\n"},
    };
    for (const Case& c : cases) {
        calloutprog = c.prog;
        // Nothing named "callout" on the search path either.
        std::string keep = getenv("PATH") ? getenv("PATH") : "";
        setenv("PATH", d.path().c_str(), 1);
        std::string out = captureconsole([] { EXPECT_EQ(dolock("ttyAB"), nullptr); });
        setenv("PATH", keep.c_str(), 1);
        EXPECT_EQ(out, "[Disabling " + prefix + "/dev/ttyAB]\r\n" + c.out);
        EXPECT_EQ(enabled, 0);
        EXPECT_FALSE(fs::exists(lockat("LCK..ttyAB")));
    }
}

TEST_F(Lock, CalloutFoundOnTheSearchPath) {
    d.write("root/etc/inittab", "s1:2345:respawn:/sbin/getty ttyAB 9600\n");
    calloutprog = d.path().string() + "/nothing-here";
    callinprog = d.path().string() + "/nothing-here";
    std::string keep = getenv("PATH") ? getenv("PATH") : "";
    setenv("PATH", (std::string(VORN_SOURCE_DIR) + "/data:" + keep).c_str(), 1);
    captureconsole([] { EXPECT_NE(dolock("ttyAB"), nullptr); });
    EXPECT_EQ(d.read("root/etc/inittab"), "s1:2345:off:/sbin/getty ttyAB 9600\n");
    captureconsole([] { delock(); });
    setenv("PATH", keep.c_str(), 1);
    EXPECT_EQ(d.read("root/etc/inittab"), "s1:2345:respawn:/sbin/getty ttyAB 9600\n");
}

TEST_F(Lock, ReopeningKeepsTheLock) {
    EXPECT_NE(dolock("ttyAB"), nullptr);
    reinit = 1;
    EXPECT_EQ(std::string(dolock("ttyAB")), prefix + "/dev/ttyAB");
    reinit = 0;
    EXPECT_TRUE(fs::exists(lockat("LCK..ttyAB")));
    delock();
}

} // namespace

namespace {

TEST_F(Lock, LockGoesWithTheProgramHoweverItEnds) {
    struct Case {
        const char* what;
        void (*end)();
        bool gone;
    };
    const Case cases[] = {
        {"exit", [] { std::exit(0); }, true},
        {"uncaught exception", [] { std::terminate(); }, true},
        // A forked child ending does not take its parent's lock with it.
        {"child of the locker exits",
         [] {
             pid_t p = fork();
             if (p == 0) std::exit(0);
             waitpid(p, nullptr, 0);
             _exit(0);
         },
         false},
    };
    for (const Case& c : cases) {
        pid_t p = fork();
        if (p == 0) {
            if (!dolock("ttyAB")) _exit(2);
            c.end();
        }
        int st = 0;
        waitpid(p, &st, 0);
        EXPECT_EQ(fs::exists(lockat("LCK..ttyAB")), !c.gone) << c.what;
        fs::remove(lockat("LCK..ttyAB"));
    }
}

} // namespace
