// The real program on a pseudo-serial line made by socat, as a person at the console sees it,
// and its lock file on every way out. Each program runs in a mount namespace of its own whose
// lock directory (/var/lock) is a private, empty tmpfs, so the machine's locks are never seen
// or touched; a shell in that namespace lists the lock directory after the program ended.
#include "support/harness.h"
#include "support/portsupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <unistd.h>

namespace {

bool canunshare() {
    static int ok = -1;
    if (ok < 0)
        ok = shell("unshare --mount sh -c 'mount -t tmpfs x \"$(readlink -f /var/lock)\" "
                   "&& echo yes' 2>/dev/null") == "yes\n";
    return ok == 1;
}

// Runs vorn with `args` in a private lock namespace (or, with `joinpid`, in the namespace of
// that process). After vorn ends, the lock directory's listing goes to `listing`.
std::unique_ptr<VornRun> runlocked(const std::vector<std::string>& args, const TempDir& dir,
                                   const std::string& listing, int joinpid = 0) {
    RunOptions opt;
    std::string script = joinpid ? "" : "mount -t tmpfs vornlock \"$(readlink -f /var/lock)\" && ";
    script +=
        "\"$0\" \"$@\"; st=$?; ls -A /var/lock/ > '" + dir.file(listing).string() + "'; exit $st";
    std::vector<std::string> a;
    if (joinpid) {
        opt.program = "/usr/bin/nsenter";
        a = {"--mount=/proc/" + std::to_string(joinpid) + "/ns/mnt", "sh", "-c", script};
    } else {
        opt.program = "/usr/bin/unshare";
        a = {"--mount", "sh", "-c", script};
    }
    a.push_back(VORN_BINARY);
    for (auto& s : args)
        a.push_back(s);
    return std::make_unique<VornRun>(a, opt);
}

// The program the namespace shell started.
int childof(int pid) {
    int child = 0;
    pollfor([&] {
        std::ifstream f("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) +
                        "/children");
        return static_cast<bool>(f >> child);
    });
    return child;
}

// The lock file of `pts` as process `pid` sees it. /var/lock may be a symbolic link, which
// would lead back into this namespace; its target is used instead.
std::string lockin(int pid, const std::string& pts) {
    std::error_code ec;
    std::string dir = std::filesystem::canonical("/var/lock", ec).string();
    return "/proc/" + std::to_string(pid) + "/root" + dir + "/LCK.." +
           pts.substr(pts.rfind('/') + 1);
}

std::string slurp(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

std::string pidtext(int pid) {
    char b[16];
    snprintf(b, sizeof b, "%10d\n", pid);
    return b;
}

class SerialE2E : public ::testing::Test {
  protected:
    TempDir dir;
    std::unique_ptr<SocatPair> pair;
    int peer = -1;
    void SetUp() override {
        if (!canunshare()) GTEST_SKIP() << "no private mount namespace for the lock directory";
        pair = std::make_unique<SocatPair>(dir.path().string());
        ASSERT_TRUE(pair->ok());
        peer = open(pair->b.c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(peer, 0);
    }
    void TearDown() override {
        if (peer >= 0) close(peer);
    }
};

TEST_F(SerialE2E, LineWorksAndQuitRemovesTheLock) {
    auto run = runlocked({"-l", pair->a}, dir, "after");
    ASSERT_TRUE(run->waitFor("Connected 9600 on " + pair->a));
    int vorn = childof(run->pid());
    EXPECT_EQ(slurp(lockin(vorn, pair->a)), pidtext(vorn));
    run->type("hello");
    EXPECT_EQ(readfor(peer, 5), "hello");
    writeall(peer, "from-the-peer");
    EXPECT_TRUE(run->waitFor("from-the-peer"));
    run->type("\x05");
    ASSERT_TRUE(run->waitFor("c=>"));
    run->type("q");
    EXPECT_EQ(run->wait(), 0);
    EXPECT_EQ(dir.read("after"), "");
    EXPECT_TRUE(sameTermios(run->before(), run->now()));
}

TEST_F(SerialE2E, SignalsRemoveTheLock) {
    for (int sig : {SIGTERM, SIGHUP}) {
        auto run = runlocked({"-l", pair->a}, dir, "after");
        ASSERT_TRUE(run->waitFor("Connected 9600 on " + pair->a)) << sig;
        int vorn = childof(run->pid());
        EXPECT_TRUE(pollfor([&] { return !slurp(lockin(vorn, pair->a)).empty(); })) << sig;
        kill(vorn, sig);
        run->wait();
        EXPECT_EQ(dir.read("after"), "") << sig;
    }
}

TEST_F(SerialE2E, LostLineRemovesTheLock) {
    auto run = runlocked({"-l", pair->a}, dir, "after");
    ASSERT_TRUE(run->waitFor("Connected 9600 on " + pair->a));
    int vorn = childof(run->pid());
    const std::string lock = lockin(vorn, pair->a);
    EXPECT_FALSE(slurp(lock).empty());
    close(peer);
    peer = -1;
    pair.reset(); // socat ends: the line is gone
    EXPECT_TRUE(run->waitFor("[Disconnected]"));
    EXPECT_TRUE(pollfor([&] { return access(lock.c_str(), F_OK) != 0; }));
    run->signal(SIGTERM);
    run->wait();
    EXPECT_EQ(dir.read("after"), "");
}

TEST_F(SerialE2E, SecondProgramTakesTheNextPortAndThenFindsAllBusy) {
    TempDir dir2;
    SocatPair other(dir2.path().string());
    ASSERT_TRUE(other.ok());
    const std::string list = pair->a + ";" + other.a;
    auto first = runlocked({"-l", pair->a}, dir, "first");
    ASSERT_TRUE(first->waitFor("Connected 9600 on " + pair->a));
    int ns = childof(first->pid());
    auto second = runlocked({"-l", list}, dir, "second", ns);
    EXPECT_TRUE(second->waitFor("Device locked: " + pair->a));
    ASSERT_TRUE(second->waitFor("Connected 9600 on " + other.a));
    auto third = runlocked({"-l", list}, dir, "third", ns);
    EXPECT_TRUE(third->waitForOutput("All VORN devices busy: " + list)); // then it ends
    third->wait();
    // The third found both locks and made none.
    std::set<std::string> want = {"LCK.." + pair->a.substr(pair->a.rfind('/') + 1),
                                  "LCK.." + other.a.substr(other.a.rfind('/') + 1)};
    std::set<std::string> got;
    std::istringstream listing(dir.read("third"));
    for (std::string s; listing >> s;)
        got.insert(s);
    EXPECT_EQ(got, want);
    for (auto* run : {second.get(), first.get()}) {
        run->type("\x05");
        ASSERT_TRUE(run->waitFor("c=>"));
        run->type("q");
        EXPECT_EQ(run->wait(), 0);
    }
    EXPECT_EQ(dir.read("first"), "");
}

TEST_F(SerialE2E, DevicesThatCannotBeOpened) {
    struct Case {
        std::string port, message;
    };
    const Case cases[] = {
        {"/dev/ttyNOPE7", "Can't open /dev/ttyNOPE7"},
        {"ttyNOPE7", "Can't open /dev/ttyNOPE7"},
        {"/dev/full", "Can't open /dev/full"},
    };
    for (const Case& c : cases) {
        auto run = runlocked({"-l", c.port}, dir, "after");
        EXPECT_TRUE(run->waitForOutput(c.message)) << c.port; // then it ends
        run->wait();
        EXPECT_EQ(dir.read("after"), "") << c.port;
        EXPECT_TRUE(sameTermios(run->before(), run->now()));
    }
}

} // namespace

namespace {

// In server mode standard input is the line: 8 bits, one stop bit, no parity, then the -s
// parameters; the pseudo-terminal the program runs on shows them.
TEST(ServerLineE2E, StandardInputTakesTheParameters) {
    VornRun run({"-x", "-s", "2400,O,7,2"});
    termios t{};
    EXPECT_TRUE(pollfor([&] {
        t = run.now();
        return cfgetospeed(&t) == B2400;
    }));
    EXPECT_EQ(t.c_cflag & (PARODD | CSTOPB), static_cast<tcflag_t>(PARODD | CSTOPB));
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u);
    run.signal(SIGTERM);
    run.wait();
}

} // namespace
