#pragma once
// What the transfer benchmarks share: one VORN side of a transfer in a child process, a peer
// program on a line, and the random file they move.
#include "core/start.h"
#include "ports/com.h"
#include "ports/lock.h"
#include "transfer/xfer.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>

// Seconds since `t0`.
inline double since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// A whole file; empty when it cannot be read.
inline std::string readfile(const std::string& p) {
    std::ifstream f(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

// Writes `mib` MiB of random bytes from `seed` to `path`: the same file for every run.
inline void writerandom(const std::string& path, size_t mib, unsigned seed) {
    std::mt19937 g(seed);
    std::string rnd(mib << 20, '\0');
    for (auto& ch : rnd)
        ch = static_cast<char>(g());
    std::ofstream(path, std::ios::binary) << rnd;
}

// One VORN side in a child process: the line on `port` opened (its lock file in `dir`), no
// console, no statistics page. `setup` sets the protocol and its options in the child. A
// sender sends `what` (a file name, options allowed); a receiver receives into directory
// `what`. The child's status is the transfer's result.
inline pid_t vornside(const std::string& port, const std::string& dir, bool sender,
                      const std::string& what, const std::function<void()>& setup = {}) {
    pid_t pid = fork();
    if (pid != 0) return pid;
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    ttyfd = -1;
    xorqflag = 1;
    lockpre = dir + "/LCK..%s";
    if (cominit(port.c_str()) != 0 || COM->vt("") != 0) _exit(3);
    statflag = 0;
    if (setup) setup();
    int r = sender ? snd(what.c_str(), "") : rcv("", what.c_str());
    // The transfer is over once what we sent has gone out. Closing the port would drop DTR and
    // hold it down for a second: the hang-up, not the transfer (the lock file goes with `dir`).
    linesettle();
    _exit(r);
}

// A peer command run in `cwd` with `port` as its standard input and output (lrzsz and the
// like), its messages thrown away.
inline pid_t peeron(const std::string& port, const std::string& cwd, const std::string& cmd) {
    pid_t pid = fork();
    if (pid != 0) return pid;
    if (chdir(cwd.c_str()) != 0) _exit(126);
    execl("/bin/sh", "sh", "-c",
          ("exec " + cmd + " <" + port + " >" + port + " 2>/dev/null").c_str(), nullptr);
    _exit(127);
}
