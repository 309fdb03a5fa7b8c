// The lock manager: lock names and contents, stale locks, node prefixes and login lines.
#include <gtest/gtest.h>

#include "core/start.h"
#include "ports/com.h"
#include "ports/lock.h"
#include "ports/serial.h"
#include "support/harness.h"
#include "support/portsupport.h"

#include <cstdio>
#include <exception>
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
        for (const char* sub : {"/dev", "/locks", "/etc"})
            fs::create_directories(root + sub);
        ASSERT_FALSE(pty.path.empty());
        fs::create_symlink(pty.path, root + "/dev/ttyAB");
        devprefix = root;
        prefix = "//" + root;
        lockpre = "/locks/LCK..%s";
        systemidfile = d.path().string() + "/systemid"; // none: the host name is this node
        exitdtr = 1;                                    // callin would wait a second first
    }
    const std::string ab = "root/locks/LCK..ttyAB";
};

// Echo mode reports each lock and unlock, and a device that cannot be stat'ed for %m.
TEST_F(Lock, NamesFollowTheMarkersAndEchoModeReportsThem) {
    struct stat st {};
    ASSERT_EQ(stat(pty.path.c_str(), &st), 0);
    char nums[48];
    std::snprintf(nums, sizeof nums, "%03u.%03u.%03u", major(st.st_dev), major(st.st_rdev),
                  minor(st.st_rdev));
    const std::pair<std::string, std::string> cases[] = {
        {"/locks/LCK..%s", "LCK..ttyAB"},
        {"/locks/LCK..%b", "LCK..ttyab"},
        {"/locks/LK.%m", std::string("LK.") + nums},
        {"/locks/100%%.%s", "100%.ttyAB"},
        // printf conversions in the user's format stay text
        {"/locks/%n%d%x%s%s", "%n%d%xttyABttyAB"},
        {"/locks/trail%", "trail%"},
    };
    echoflag = 1;
    for (const auto& [format, name] : cases) {
        lockpre = format;
        std::string out = captureconsole([&] {
            ASSERT_NE(dolock("ttyAB"), nullptr) << format;
            EXPECT_EQ(d.read("root/locks/" + name), pidtext(getpid())) << format;
            delock();
        });
        const std::string path = prefix + "/locks/" + name;
        EXPECT_EQ(out, "[Locking " + path + "]\r\n[Unlocking " + path + "]\r\n") << format;
        EXPECT_FALSE(d.exists("root/locks/" + name)) << format;
    }
    lockpre = "/locks/%m";
    std::string out = captureconsole([] { EXPECT_NE(dolock("ttyNONE"), nullptr); });
    echoflag = 0;
    EXPECT_EQ(out, "[Can't stat ttyNONE for lockfile]\r\n");
    EXPECT_TRUE(fs::is_empty(root + "/locks"));
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
        {"//node7/dev/ttyS1", "", "//node7", "ttyS1"},
        {"ttyS2", "node8", "//node8", "ttyS2"},
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
        {"ourselves", pidtext(getpid()), 5400, false},
        {"dead owner, no age limit", pidtext(dead), 0, true},
        {"binary live owner", std::string(reinterpret_cast<char*>(&one), 4), 5400, false},
        {"binary dead owner", std::string(reinterpret_cast<char*>(&dead), 4), 0, true},
        {"unreadable owner", "garbage!", 5400, false},
        {"empty", "", 5400, false},
    };
    for (const Case& c : cases) {
        d.write(ab, c.content);
        locktime = c.locktime;
        std::string out =
            captureconsole([&] { EXPECT_EQ(dolock("ttyAB") != nullptr, c.taken) << c.what; });
        EXPECT_EQ(out, c.taken ? "" : "Device locked: ttyAB\r\n") << c.what;
        EXPECT_EQ(d.read(ab), c.taken ? pidtext(getpid()) : c.content) << c.what;
        delock(); // forgets nothing it did not make
        EXPECT_EQ(d.exists(ab), !c.taken) << c.what;
        fs::remove(d.file(ab));
    }
}

TEST_F(Lock, OldLockIsTakenOver) {
    d.write(ab, pidtext(1));
    locktime = 1;
    captureconsole([] { EXPECT_EQ(dolock("ttyAB"), nullptr); });
    // The age counts from the lock's creation; poll until it is a second old.
    EXPECT_TRUE(pollfor([] { return captureconsole([] { dolock("ttyAB"); }).empty(); }, 5));
    EXPECT_EQ(d.read(ab), pidtext(getpid()));
    delock();
}

TEST_F(Lock, LockingOffAndNoLockDirectory) {
    d.write(ab, pidtext(1));
    iflag = 1;
    EXPECT_NE(dolock("ttyAB"), nullptr);
    delock();
    iflag = 0;
    EXPECT_EQ(d.read(ab), pidtext(1));
    fs::remove(d.file(ab));
    // The null device is never locked.
    devprefix.clear();
    EXPECT_STREQ(dolock("/dev/null"), "/dev/null");
    EXPECT_TRUE(fs::is_empty(root + "/locks"));
    // Without a lock directory the port is refused.
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
        {"s1:2345:respawn:/sbin/getty ttyAB", 1}, // no final line feed
        {"s1:2345:off:/sbin/getty ttyAB 9600\n", 0},
        {"s1:2345:respawn:/sbin/getty ttyABC\ns2:2345:respawn:/sbin/getty ttyS0\n", 0},
        {"# ttyAB:respawn: in a comment still counts\n", 1},
        {"", 0},
    };
    for (const Case& c : cases) {
        d.write("root/etc/inittab", c.inittab);
        EXPECT_EQ(chkdev("ttyAB"), c.active) << c.inittab;
    }
}

TEST_F(Lock, LoginProcessIsDisabledForTheCallAndEnabledAfter) {
    const std::string tab = "s1:2345:respawn:/sbin/getty ttyAB 9600\n";
    const std::string disabling = "[Disabling " + prefix + "/dev/ttyAB]\r\n";
    d.write("root/etc/inittab", tab);
    calloutprog = std::string(VORN_SOURCE_DIR) + "/data/callout";
    callinprog = std::string(VORN_SOURCE_DIR) + "/data/callin";
    std::string out = captureconsole([&] { EXPECT_NE(dolock("ttyAB"), nullptr); });
    EXPECT_EQ(out, disabling);
    EXPECT_EQ(enabled, 1);
    EXPECT_EQ(d.read("root/etc/inittab"), "s1:2345:off:/sbin/getty ttyAB 9600\n");
    EXPECT_TRUE(d.exists(ab));
    out = captureconsole([] { delock(); });
    EXPECT_EQ(out, "[Enabling " + prefix + "/dev/ttyAB]\r\n");
    EXPECT_EQ(enabled, 0);
    EXPECT_EQ(d.read("root/etc/inittab"), tab);
    EXPECT_FALSE(d.exists(ab));
    // A login process that stays, or no callout program at all (nothing on the search path
    // either), refuses the port.
    std::string keep = getenv("PATH") ? getenv("PATH") : "";
    setenv("PATH", d.path().c_str(), 1);
    using P = std::pair<std::string, std::string>;
    for (auto [prog, msg] : std::initializer_list<P>{
             {"/bin/true", ""},
             {d.path().string() + "/nothing-here", "Can't execute callout\r\n"}}) {
        calloutprog = prog;
        out = captureconsole([] { EXPECT_EQ(dolock("ttyAB"), nullptr); });
        EXPECT_EQ(out, disabling + msg);
        EXPECT_EQ(enabled, 0);
        EXPECT_FALSE(d.exists(ab));
    }
    setenv("PATH", keep.c_str(), 1);
}

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
        EXPECT_EQ(d.exists(ab), !c.gone) << c.what;
        fs::remove(d.file(ab));
    }
}

} // namespace
