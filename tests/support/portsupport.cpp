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
#include <filesystem>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using clk = std::chrono::steady_clock;
namespace fs = std::filesystem;

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
    const auto end = clk::now() + std::chrono::duration<double>(seconds);
    for (; !cond(); std::this_thread::sleep_for(std::chrono::milliseconds(10)))
        if (clk::now() > end) return false;
    return true;
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
    // socat makes the second link once both sides exist.
    std::error_code ea, eb;
    pollfor([&] { return fs::exists(la, ea) && fs::exists(lb, eb); }, 10);
    a = fs::read_symlink(la, ea).string();
    b = fs::read_symlink(lb, eb).string();
}

SocatPair::~SocatPair() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
}

std::string readfor(int fd, size_t n, double seconds) {
    std::string s;
    char buf[4096];
    const auto end = clk::now() + std::chrono::duration<double>(seconds);
    for (pollfd p{fd, POLLIN, 0}; s.size() < n && clk::now() < end;) {
        if (poll(&p, 1, 10) <= 0) continue;
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
    char buf[512];
    FILE* p = popen(cmd.c_str(), "r");
    for (size_t n; p && (n = fread(buf, 1, sizeof buf, p)) > 0;)
        s.append(buf, n);
    if (p) pclose(p);
    return s;
}

Listener::Listener(int family, int backlog) {
    fd = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_storage ss{};
    socklen_t len;
    if (family == AF_INET6) {
        auto* s = reinterpret_cast<sockaddr_in6*>(&ss);
        s->sin6_family = AF_INET6;
        s->sin6_addr = in6addr_loopback;
        len = sizeof *s;
    } else {
        auto* s = reinterpret_cast<sockaddr_in*>(&ss);
        s->sin_family = AF_INET;
        s->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        len = sizeof *s;
    }
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&ss), len) < 0 || listen(fd, backlog) < 0) {
        if (fd >= 0) close(fd);
        fd = -1;
        return;
    }
    getsockname(fd, reinterpret_cast<sockaddr*>(&ss), &len);
    port = ntohs(family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&ss)->sin6_port
                                    : reinterpret_cast<sockaddr_in*>(&ss)->sin_port);
}

Listener::~Listener() {
    if (fd >= 0) close(fd);
}

int Listener::accept1() {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 5000) != 1) return -1;
    int c = accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (c >= 0) fcntl(c, F_SETFL, O_NONBLOCK);
    return c;
}

std::string linefor(std::string& got, const std::string& text, double seconds) {
    pollfor(
        [&] {
            waitread(0);
            while (!qempty(comq))
                got += static_cast<char>(unqchar(comq));
            return got.find(text) != std::string::npos || comfd < 0;
        },
        seconds);
    return got;
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
