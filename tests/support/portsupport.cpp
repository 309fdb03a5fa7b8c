#include "support/portsupport.h"

#include "ports/com.h"
#include "ports/lock.h"
#include "ports/serial.h"
#include "ports/settings.h"
#include "screen/display.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {
using clk = std::chrono::steady_clock;
double since(clk::time_point t0) {
    return std::chrono::duration<double>(clk::now() - t0).count();
}
} // namespace

std::string captureconsole(const std::function<void()>& fn) {
    oflush();
    // The console is whatever ttyfd names; a file in its place also catches what a forked
    // child prints.
    char path[] = "/tmp/vorncapXXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) return "<no temporary file>";
    unlink(path);
    setconswriter(nullptr);
    int keep = ttyfd;
    ttyfd = fd;
    fn();
    oflush();
    ttyfd = keep;
    std::string s;
    lseek(fd, 0, SEEK_SET);
    char buf[1024];
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;)
        s.append(buf, static_cast<size_t>(n));
    close(fd);
    return s;
}

bool pollfor(const std::function<bool()>& cond, double seconds) {
    auto t0 = clk::now();
    for (;;) {
        if (cond()) return true;
        if (since(t0) > seconds) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

PtyPair::PtyPair() {
    char name[128] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) == 0) path = name;
}

PtyPair::~PtyPair() {
    if (slave >= 0) close(slave);
    if (master >= 0) close(master);
}

SocatPair::SocatPair(const std::string& dir) {
    const std::string la = dir + "/a", lb = dir + "/b";
    pid_ = fork();
    if (pid_ == 0) {
        int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        execlp("socat", "socat", "-d", "-d", ("pty,raw,echo=0,link=" + la).c_str(),
               ("pty,raw,echo=0,link=" + lb).c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    if (pid_ < 0) return;
    char buf[256];
    auto target = [&](const std::string& link) {
        ssize_t n = readlink(link.c_str(), buf, sizeof buf - 1);
        return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
    };
    // socat makes the second link once both sides exist.
    pollfor([&] { return !target(la).empty() && !target(lb).empty(); }, 10);
    a = target(la);
    b = target(lb);
}

SocatPair::~SocatPair() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
}

std::string readfor(int fd, size_t n, double seconds) {
    std::string s;
    auto t0 = clk::now();
    while (s.size() < n) {
        double left = seconds - since(t0);
        if (left <= 0) break;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left * 1000) + 1) <= 0) continue;
        char buf[4096];
        ssize_t r = read(fd, buf, std::min(sizeof buf, n - s.size()));
        if (r <= 0) break;
        s.append(buf, static_cast<size_t>(r));
    }
    return s;
}

bool writeall(int fd, const std::string& data) {
    size_t off = 0;
    while (off < data.size()) {
        ssize_t w = write(fd, data.data() + off, data.size() - off);
        if (w <= 0) return false;
        off += static_cast<size_t>(w);
    }
    return true;
}

std::string shell(const std::string& cmd) {
    std::string s;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        char buf[512];
        for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;)
            s.append(buf, n);
        pclose(p);
    }
    return s;
}

LineOnly::LineOnly() : ttyfd_(ttyfd), xorqflag_(xorqflag) {
    comreset();
    ttyfd = -1;
    xorqflag = 1;
    settingsreset();
    serreset();
    lockreset();
}

LineOnly::~LineOnly() {
    if (COM != &nulfunc) COM->exit();
    comreset();
    ttyfd = ttyfd_;
    xorqflag = xorqflag_;
    settingsreset();
    serreset();
    lockreset();
}
