// The lock manager: lock names and contents, stale locks, node prefixes and login lines.
#include <gtest/gtest.h>

#include "core/start.h"
#include "ports/com.h"
#include "ports/lock.h"
#include "ports/serial.h"
#include "support/harness.h"
#include "support/portsupport.h"

#include <array>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string pidtext(int pid) {
    char b[16];
    std::snprintf(b, sizeof b, "%10d\n", pid);
    return b;
}

// A private node: root/dev/ttyAB is a pseudo-terminal, root/locks the lock directory, and
// `devprefix` points at root, so every path the lock manager builds lies inside the test.
class Lock : public ::testing::Test {
  protected:
    TempDir d;
    PtyPair pty;
    LineOnly line;
    std::string root = d.path().string() + "/root", prefix = "//" + root;
    const std::string ab = "root/locks/LCK..ttyAB";

    void SetUp() override {
        for (const char* sub : {"/dev", "/locks", "/etc"})
            fs::create_directories(root + sub);
        ASSERT_FALSE(pty.path.empty());
        fs::create_symlink(pty.path, root + "/dev/ttyAB");
        devprefix = root;
        lockpre = "/locks/LCK..%s";
        systemidfile = d.path().string() + "/systemid"; // none: the host name is this node
        exitdtr = 1;                                    // callin would wait a second first
    }
    std::string refused() {
        return captureconsole([] { EXPECT_EQ(dolock("ttyAB"), nullptr); });
    }
};

// Echo mode reports each lock and unlock, and a device that cannot be stat'ed for %m.
TEST_F(Lock, NamesFollowTheMarkersAndEchoModeReportsThem) {
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
    EXPECT_TRUE(fs::is_empty(root + "/locks"));
}

TEST_F(Lock, DeviceNamesPrefixesAndLoginLines) {
    // port, devprefix; devpre and devnam found. At most 31 characters of a name are kept.
    // clang-format off
    const std::array<const char*, 4> names[] = {
        {"/dev/ttyS0", "", "", "ttyS0"}, {"//node7/dev/ttyS1", "", "//node7", "ttyS1"},
        {"ttyS2", "node8", "//node8", "ttyS2"}, {"//node9", "", "//node9", ""},
        {"/dev/ttyABCDEFGHIJKLMNOPQRSTUVWXYZ0123", "", "", "ttyABCDEFGHIJKLMNOPQRSTUVW"}};
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

TEST_F(Lock, ExistingLocks) {
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
}

TEST_F(Lock, LockingOffNullDeviceAndNoLockDirectory) {
    d.write(ab, pidtext(1));
    iflag = 1;
    EXPECT_NE(dolock("ttyAB"), nullptr);
    delock();
    iflag = 0;
    EXPECT_EQ(d.read(ab), pidtext(1));
    fs::remove(d.file(ab));
    devprefix.clear();
    EXPECT_STREQ(dolock("/dev/null"), "/dev/null");
    EXPECT_TRUE(fs::is_empty(root + "/locks"));
    lockpre = "/nodir/LCK..%s";
    EXPECT_EQ(refused(), "Device locked: ttyAB\r\n");
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
    std::string keep = getenv("PATH") ? getenv("PATH") : "";
    setenv("PATH", d.path().c_str(), 1);
    for (auto [prog, msg] : {std::pair<std::string, std::string>{"/bin/true", ""},
                             {d.path().string() + "/nothing-here", "Can't execute callout\r\n"}}) {
        calloutprog = prog;
        EXPECT_EQ(refused(), disabling + msg);
        EXPECT_EQ(enabled, 0);
        EXPECT_FALSE(d.exists(ab));
    }
    setenv("PATH", keep.c_str(), 1);
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
        if (p == 0) {
            if (!dolock("ttyAB")) _exit(2);
            end();
        }
        waitpid(p, nullptr, 0);
        EXPECT_EQ(d.exists(ab), !gone) << gone;
        fs::remove(d.file(ab));
    }
}

} // namespace
