// The real program on a pseudo-serial line made by socat, as a person at the console sees it,
// and its lock file on every way out. Each program runs in a mount namespace of its own whose
// lock directory (/var/lock) is a private, empty tmpfs, so the machine's locks are never seen
// or touched; a shell in that namespace lists the lock directory after the program ended.
// Also a local program as the line (-l pty).
#include "support/harness.h"
#include "support/portsupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
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

// Runs vorn with `args` in a private lock namespace. After vorn ends, the lock directory's
// listing goes to the file "after".
std::unique_ptr<VornRun> runlocked(const std::vector<std::string>& args, const TempDir& dir) {
    RunOptions opt;
    opt.program = "/usr/bin/unshare";
    std::vector<std::string> a = {
        "--mount", "sh", "-c",
        "mount -t tmpfs vornlock \"$(readlink -f /var/lock)\" && \"$0\" \"$@\"; st=$?; ls -A "
        "/var/lock/ > '" +
            dir.file("after").string() + "'; exit $st",
        VORN_BINARY};
    a.insert(a.end(), args.begin(), args.end());
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

void quit(VornRun& run) {
    run.type("\x05");
    ASSERT_TRUE(run.waitFor("c=>"));
    run.type("q");
    EXPECT_EQ(run.wait(), 0);
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

// Quitting, a signal and a lost line all take the lock away.
TEST_F(SerialE2E, LineWorksAndEveryWayOutRemovesTheLock) {
    for (std::string how : {"quit", "SIGTERM", "SIGHUP", "lost line"}) {
        if (!pair) {
            pair = std::make_unique<SocatPair>(dir.path().string());
            ASSERT_TRUE(pair->ok());
            peer = open(pair->b.c_str(), O_RDWR | O_NOCTTY);
        }
        auto run = runlocked({"-l", pair->a}, dir);
        ASSERT_TRUE(run->waitFor("Connected 9600 on " + pair->a)) << how;
        int vorn = childof(run->pid());
        const std::string lock = lockin(vorn, pair->a);
        EXPECT_TRUE(pollfor([&] { return slurp(lock) == pidtext(vorn); })) << how;
        if (how == "quit") {
            run->type("hello");
            EXPECT_EQ(readfor(peer, 5), "hello");
            writeall(peer, "from-the-peer");
            EXPECT_TRUE(run->waitFor("from-the-peer"));
            quit(*run);
            EXPECT_TRUE(sameTermios(run->before(), run->now()));
        } else if (how == "lost line") {
            close(peer);
            peer = -1;
            pair.reset(); // socat ends: the line is gone
            EXPECT_TRUE(run->waitFor("[Disconnected]"));
            EXPECT_TRUE(pollfor([&] { return access(lock.c_str(), F_OK) != 0; }));
            run->signal(SIGTERM);
            run->wait();
        } else {
            kill(vorn, how == "SIGTERM" ? SIGTERM : SIGHUP);
            run->wait();
        }
        EXPECT_EQ(dir.read("after"), "") << how;
    }
}

TEST_F(SerialE2E, DeviceThatCannotBeOpened) {
    auto run = runlocked({"-l", "ttyNOPE7"}, dir);
    EXPECT_TRUE(run->waitForOutput("Can't open /dev/ttyNOPE7")); // then it ends
    run->wait();
    EXPECT_EQ(dir.read("after"), "");
    EXPECT_TRUE(sameTermios(run->before(), run->now()));
}

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

// A local program as the line: the real program started with -l pty.
TEST(PtyE2E, TheUsersShellAnswersAndItsExitDropsTheLine) {
    RunOptions opt;
    opt.env = {{"SHELL", "/bin/sh"}, {"PS1", "ready$ "}};
    VornRun run({"-z", "-l", "pty"}, opt);
    ASSERT_TRUE(run.waitFor("Connected"));
    ASSERT_TRUE(run.waitFor("ready$"));
    run.type("echo hello-$((6*7))\r");
    EXPECT_TRUE(run.waitFor("hello-42"));
    run.type("exit\r");
    EXPECT_TRUE(run.waitFor("[Disconnected]"));
    // Under -z a lost line does not end the program: it asks for the next line; ^D there
    // ends it. (Without -z, a port list given at start ends the program with its line.)
    EXPECT_TRUE(run.waitFor("Connect to:"));
    run.type("\x04");
    EXPECT_EQ(run.wait(), 0);
    EXPECT_TRUE(sameTermios(run.before(), run.now()));
}

TEST(PtyE2E, AProgramWithItsArgumentsRunsOnTheLine) {
    TempDir dir;
    dir.write("show.sh", "#!/bin/sh\n"
                         "echo \"TERM=$TERM COLUMNS=$COLUMNS LINES=$LINES ARGS=$*\"\n"
                         "read answer\n"
                         "echo \"GOT=$answer\"\n");
    std::filesystem::permissions(dir.file("show.sh"), std::filesystem::perms::owner_all);
    VornRun run({"-l", "pty:" + dir.file("show.sh").string() + " a b"});
    ASSERT_TRUE(run.waitFor("TERM=vt102 COLUMNS=80 LINES=24 ARGS=a b"));
    run.type("typed\r");
    EXPECT_TRUE(run.waitForOutput("GOT=typed"));
    EXPECT_TRUE(run.waitForOutput("[Disconnected]")); // the program ends with its line
    EXPECT_EQ(run.wait(), 0);
}
