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
#include <unistd.h>

namespace {

bool canunshare() {
    static const bool ok =
        shell("unshare --mount sh -c 'mount -t tmpfs x \"$(readlink -f /var/lock)\" "
              "&& echo yes' 2>/dev/null") == "yes\n";
    return ok;
}

// Runs vorn with `args` in a private lock namespace. After vorn ends, the lock directory's
// listing goes to the file "after" in the run's directory.
std::unique_ptr<VornRun> runlocked(std::vector<std::string> args) {
    args.insert(args.begin(), {"--mount", "sh", "-c",
                               "mount -t tmpfs vornlock \"$(readlink -f /var/lock)\" && \"$0\" "
                               "\"$@\"; st=$?; ls -A /var/lock/ > after; exit $st",
                               VORN_BINARY, "-m"});
    return std::make_unique<VornRun>(args, RunOptions{.program = "/usr/bin/unshare"});
}

// The program the namespace shell started.
int childof(int pid) {
    int child = 0;
    const std::string children =
        "/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children";
    pollfor([&] { return static_cast<bool>(std::ifstream(children) >> child); });
    return child;
}

// What the lock file of `pts` holds as process `pid` sees it. /var/lock may be a symbolic
// link, which would lead back into this namespace; its target is used instead.
std::string lockof(int pid, const std::string& pts) {
    std::error_code ec;
    std::ifstream f("/proc/" + std::to_string(pid) + "/root" +
                    std::filesystem::canonical("/var/lock", ec).string() + "/LCK.." +
                    pts.substr(pts.rfind('/') + 1));
    return std::string(std::istreambuf_iterator<char>(f), {});
}

// Quitting, a signal and a lost line all take the lock away.
TEST(SerialE2E, LineWorksAndEveryWayOutRemovesTheLock) {
    if (!canunshare()) GTEST_SKIP() << "no private mount namespace for the lock directory";
    TempDir dir;
    auto pair = std::make_unique<SocatPair>(dir.path().string());
    ASSERT_TRUE(pair->ok());
    int peer = open(pair->b.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(peer, 0);
    for (std::string how : {"quit", "SIGTERM", "SIGHUP", "lost line"}) { // the line lost last
        auto run = runlocked({"-l", pair->a});
        ASSERT_TRUE(run->waitFor("Connected 9600 on " + pair->a)) << how;
        const int vorn = childof(run->pid());
        char pid[16];
        snprintf(pid, sizeof pid, "%10d\n", vorn);
        EXPECT_TRUE(pollfor([&] { return lockof(vorn, pair->a) == pid; })) << how;
        if (how == "quit") {
            run->type("hello");
            EXPECT_EQ(readfor(peer, 5), "hello");
            writeall(peer, "from-the-peer");
            EXPECT_TRUE(run->waitFor("from-the-peer"));
            run->type("\x05q");
            EXPECT_EQ(run->wait(), 0);
            EXPECT_TRUE(sameTermios(run->before(), run->now()));
        } else if (how == "lost line") {
            close(peer);
            const std::string pts = pair->a;
            pair.reset(); // socat ends: the line is gone
            EXPECT_TRUE(run->waitFor("[Disconnected]"));
            EXPECT_TRUE(pollfor([&] { return lockof(vorn, pts).empty(); }));
            run->signal(SIGTERM);
            run->wait();
        } else {
            kill(vorn, how == "SIGTERM" ? SIGTERM : SIGHUP);
            run->wait();
        }
        EXPECT_EQ(run->dir().read("after"), "") << how;
    }
}

std::string pastetext(size_t n) {
    std::string s;
    for (size_t i = 0; i < n; i++)
        s += static_cast<char>(' ' + (i * 7 + i / 95) % 95); // printable, never a command key
    return s;
}

// A peer that stops reading never holds the program: the command key ends the stuck send and
// opens the escape prompt, and SIGTERM or SIGHUP end the program, console restored, lock gone.
TEST(SerialE2E, StuckLineIsEndedByTheCommandKeySigtermAndSighup) {
    if (!canunshare()) GTEST_SKIP() << "no private mount namespace for the lock directory";
    TempDir dir;
    SocatPair pair(dir.path().string());
    ASSERT_TRUE(pair.ok());
    int peer = open(pair.b.c_str(), O_RDWR | O_NOCTTY); // opened, never read
    ASSERT_GE(peer, 0);
    for (const char* how : {"command key", "SIGTERM", "SIGHUP"}) {
        auto run = runlocked({"-l", pair.a});
        ASSERT_TRUE(run->waitFor("Connected 9600 on " + pair.a)) << how;
        const int vorn = childof(run->pid());
        // Far more than the line's buffers and the program's queue hold: its sends get stuck,
        // while the program still takes every key (and so the command key behind them).
        const std::string paste = pastetext(512 * 1024);
        ASSERT_EQ(run->typeUpTo(paste, 30), paste.size()) << how;
        if (std::string(how) == "command key") {
            run->typeUpTo("\x05", 5); // read by the program even while it waits for the line
            EXPECT_TRUE(run->waitFor("c=>", 20)) << how;
            kill(vorn, SIGTERM);
        } else {
            kill(vorn, std::string(how) == "SIGTERM" ? SIGTERM : SIGHUP);
        }
        EXPECT_NE(run->wait(20), -1) << how << ": the program did not end";
        EXPECT_TRUE(sameTermios(run->before(), run->now())) << how;
        EXPECT_EQ(run->dir().read("after"), "") << how;
        tcflush(peer, TCIFLUSH);
    }
    close(peer);
}

} // namespace
