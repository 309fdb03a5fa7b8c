#pragma once
// Helpers for the port tests: what the program prints while a function runs, pseudo-terminal
// pairs, a socat-made pseudo-serial pair, polling with a deadline, and the port layer put into
// a state where only the line is waited on (no console).
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <sys/socket.h>

// `hay` holds `needle`; shows both when not.
inline ::testing::AssertionResult hastext(const std::string& hay, const std::string& needle) {
    if (hay.find(needle) != std::string::npos) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "no \"" << needle << "\" in \"" << hay << "\"";
}
#define EXPECT_HAS(hay, needle) EXPECT_TRUE(hastext(hay, needle))

// An environment variable set for one test, restored after it.
struct EnvGuard {
    std::string name;
    std::optional<std::string> old;
    EnvGuard(const char* n, const char* value) : name(n) {
        if (const char* o = std::getenv(n)) old = o;
        setenv(n, value, 1);
    }
    ~EnvGuard() { old ? setenv(name.c_str(), old->c_str(), 1) : unsetenv(name.c_str()); }
};

// The current directory changed for one test, restored after it.
struct CwdGuard {
    std::filesystem::path old = std::filesystem::current_path();
    explicit CwdGuard(const std::filesystem::path& p) { std::filesystem::current_path(p); }
    ~CwdGuard() { std::filesystem::current_path(old); }
};

// Everything written to standard output (the console) while `fn` runs.
std::string captureconsole(const std::function<void()>& fn);

// Polls `cond` every few milliseconds until it holds or `seconds` pass.
bool pollfor(const std::function<bool()>& cond, double seconds = 5);

// A pseudo-terminal pair from openpty; `path` names the slave side.
struct PtyPair {
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;
    int master = -1;
    int slave = -1;
    std::string path;
};

// Two linked pseudo-terminals made by socat (`socat -d -d pty,raw,echo=0,link=A
// pty,raw,echo=0,link=B`) in directory `dir`; `a` and `b` are the /dev/pts paths behind the links.
class SocatPair {
  public:
    explicit SocatPair(const std::string& dir);
    ~SocatPair();
    SocatPair(const SocatPair&) = delete;
    SocatPair& operator=(const SocatPair&) = delete;
    bool ok() const { return !a.empty() && !b.empty(); }
    int pid() const { return pid_; }
    std::string a, b;

  private:
    int pid_ = -1;
};

// Reads from `fd` until `n` bytes arrived or `seconds` passed.
std::string readfor(int fd, size_t n, double seconds = 5);
// Writes all of `data` to `fd`.
bool writeall(int fd, const std::string& data);
// Output of a shell command.
std::string shell(const std::string& cmd);

// A listening socket on a free loopback port (IPv4 or IPv6); fd is -1 when there is none.
struct Listener {
    explicit Listener(int family = AF_INET, int backlog = 4);
    ~Listener();
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;
    // One connection, non-blocking, or -1 after five seconds.
    int accept1();
    int fd = -1, port = 0;
};

// Appends what the line brings through the port layer to `got` until `text` arrived, the
// line closed or `seconds` passed; returns `got`.
std::string linefor(std::string& got, const std::string& text, double seconds = 10);

// Saves the port layer's console state, makes the line the only descriptor waited on, and
// puts everything back (null line, settings, lock state) afterwards.
class LineOnly {
  public:
    LineOnly();
    ~LineOnly();
    LineOnly(const LineOnly&) = delete;
    LineOnly& operator=(const LineOnly&) = delete;

  private:
    int ttyfd_, xorqflag_;
};
