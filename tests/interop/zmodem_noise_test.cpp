// ZMODEM over a noisy line: the program and lrzsz joined through the noise relay, bit flips
// both ways, the program sending and receiving. A transfer must end identical (or fail), never
// succeed with a wrong file; at 1e-4 it completes with no spell over 2 s without progress.
#include "xfer_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

std::string relaypath() {
    return NoisyLine::tool();
}

// The relay with side a a socat pseudo-terminal the program opens, side b an lrzsz command on
// a pseudo-terminal of its own.
class Relay {
  public:
    Relay(const std::string& dir, double flip, int seed, const std::string& peer) {
        link_ = dir + "/vline";
        const std::string a = "exec socat STDIO PTY,link=" + link_ + ",raw,echo=0";
        pid_ = fork();
        if (pid_ == 0) {
            int lf = open((dir + "/relay.log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
            if (lf >= 0) dup2(lf, 2);
            const std::string f = std::to_string(flip), s = std::to_string(seed);
            execl("/usr/bin/python3", "python3", relaypath().c_str(), "--pty", "b", "--flip",
                  f.c_str(), "--seed", s.c_str(), "--timeout", "240", "--linger", "3", a.c_str(),
                  peer.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        pollfor([&] { return fs::exists(link_); }, 10);
    }
    ~Relay() {
        if (pid_ > 0 && status_ < 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    std::string port() const { return fs::exists(link_) ? fs::read_symlink(link_).string() : ""; }
    // The relay's exit status (the peer's), -1 while it runs.
    int poll() {
        if (status_ >= 0) return status_;
        int st = 0;
        if (waitpid(pid_, &st, WNOHANG) == pid_)
            status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
        return status_;
    }

  private:
    pid_t pid_ = -1;
    int status_ = -1;
    std::string link_;
};

struct Case {
    const char* what;
    double flip;
    int seed;
    bool send; // the program sends
};

class ZmodemNoise : public ::testing::TestWithParam<Case> {};

TEST_P(ZmodemNoise, EndsIdenticalOrFails) {
    const Case& c = GetParam();
    if (relaypath().empty()) GTEST_SKIP() << "noise relay not found";
    TempDir d;
    const std::string other = d.path().string() + "/other";
    fs::create_directories(other);
    const size_t big = c.flip >= 1e-3 ? 40000 : 200000;
    const Files files = {{"r.bin", randombytes(big, static_cast<unsigned>(c.seed))},
                         {"t.txt", textbytes(big / 4, static_cast<unsigned>(c.seed))},
                         {"e", ""}};
    std::string peer = "cd " + other + " && exec ";
    if (c.send) {
        peer += "rz -q";
    } else {
        for (const auto& [n, data] : files)
            writefile(other + "/" + n, data);
        // The sender starts when the user presses a key in terminal mode, as a person types
        // the command on the host: a ZRQINIT sent before the program opens its line is lost.
        peer = "cd " + other + " && head -c 1 >/dev/null && exec sz -q r.bin t.txt e";
    }
    Relay line(d.path().string(), c.flip, c.seed, peer);
    ASSERT_FALSE(line.port().empty());
    auto run = vornline(line.port(), c.send ? files : Files{}, {"-2"});
    const auto t0 = std::chrono::steady_clock::now();
    if (c.send)
        escape(*run, 'S', "r.bin t.txt e");
    else
        run->type("\r");
    const std::string where = c.send ? other : run->dir().path().string();
    // A stall: no progress seen for a while.
    using clock = std::chrono::steady_clock;
    auto ondisk = [&] {
        uintmax_t n = 0;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(where, ec))
            if (e.is_regular_file(ec)) n += e.file_size(ec);
        return n;
    };
    std::string sum;
    uintmax_t last = 0;
    std::string lastrow, stallwhat;
    auto since = clock::now();
    double stall = 0;
    while (sum.empty() && clock::now() - t0 < std::chrono::seconds(200)) {
        sum = summaryof(*run, 0.05);
        const auto now = clock::now();
        // Progress: bytes on the receiving disk (lrzsz rz writes through a buffer), or the
        // byte count of the statistics a person watches.
        if (const uintmax_t n = ondisk(); n != last || run->judge().row(5) != lastrow) {
            last = n;
            lastrow = run->judge().row(5);
            since = now;
        }
        if (const double d = std::chrono::duration<double>(now - since).count(); d > stall) {
            stall = d;
            stallwhat = std::to_string(std::chrono::duration<double>(since - t0).count()) +
                        " s in, last message: " + run->judge().row(12);
        }
    }
    const double secs = std::chrono::duration<double>(clock::now() - t0).count();
    RecordProperty("seconds", std::to_string(secs));
    RecordProperty("stall", std::to_string(stall));
    if (c.flip <= 1e-4) {
        EXPECT_LE(stall, 2.0) << "longest time without progress from " << stallwhat;
    }
    EXPECT_EQ(sum, c.send ? "3 files sent, success" : "3 files received, success")
        << run->screen() << readfile(d.path().string() + "/relay.log");
    const bool ok = sum.ends_with("success");
    for (const auto& [n, data] : files) {
        // Whatever the result, a file that arrived under its name is the sender's file.
        const bool there = fs::exists(where + "/" + n);
        EXPECT_TRUE(there || !ok) << n << " missing after a success";
        EXPECT_TRUE(!there || readfile(where + "/" + n) == data) << n;
    }
    run->waitUntil([&] { return line.poll() >= 0; }, 20);
    quit(*run);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Flips, ZmodemNoise, ::testing::Values(
    Case{"tx_1e4_s1", 1e-4, 1, true}, Case{"tx_1e4_s2", 1e-4, 2, true},
    Case{"tx_1e4_s3", 1e-4, 3, true}, Case{"tx_1e3_s1", 1e-3, 1, true},
    Case{"tx_1e3_s2", 1e-3, 2, true}, Case{"tx_1e3_s3", 1e-3, 3, true},
    Case{"rx_1e4_s1", 1e-4, 1, false}, Case{"rx_1e4_s2", 1e-4, 2, false},
    Case{"rx_1e4_s3", 1e-4, 3, false}, Case{"rx_1e3_s1", 1e-3, 1, false},
    Case{"rx_1e3_s2", 1e-3, 2, false}, Case{"rx_1e3_s3", 1e-3, 3, false}),
    [](const auto& info) { return std::string(info.param.what); });
// clang-format on

} // namespace
