// ZMODEM figures beside lrzsz, measured in the same run on the same file over socat
// pseudo-serial pairs: lrzsz sz -> rz as the reference, then our sender -> rz and sz -> our
// receiver, and our two ends together. Prints the wall time of each, the ratio (lrzsz time / ours:
// above 1 is faster), and the CPU time per MB of each side. Needs socat and lrzsz. Usage:
// bench_zmodem [MiB of random data, default 48] [rounds, 3] [rows: any of "s" (our sender), "w"
// (with the window), "r" (our receiver), "v" (our sender
// -> our receiver), "c" (sz into a sink that only reads: the fastest any receiver can be beside
// sz); default all]
// (100 gives the large-file case; it is never part of the test suite). The lrzsz row is always
// run, so one direction can be profiled beside it.
#include "bench/benchside.h"
#include "bench/socatpair.h"
#include "script/var.h"
#include "transfer/zmframe.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <termios.h>

namespace fs = std::filesystem;

namespace {
using clk = std::chrono::steady_clock;

// One of our sides: protocol ZMODEM with the statistics page a user sees (drawn at most four
// times a second).
pid_t ours(const std::string& port, const std::string& dir, bool sender, const std::string& what,
           int32_t window) {
    return vornside(port, dir, sender, what, [window] {
        statflag = 1;
        errprot = 7;
        txwindow = window;
    });
}

// The fastest receiver there can be, to learn how fast lrzsz sz itself sends: it answers sz's
// invitation, offer and end with the fewest headers, and reads the data in large blocks
// without looking at it, only for the ZEOF header (which escaped data never holds: sz escapes
// no 0x03, so ZDLE 'C' starts a CRC-32 header). Exits 0 when the ZEOF is at `size`.
pid_t sink(const std::string& port, size_t size) {
    pid_t pid = fork();
    if (pid != 0) return pid;
    alarm(60); // a sink that missed a header must not stall the benchmark
    const int fd = open(port.c_str(), O_RDWR | O_NOCTTY);
    struct termios tio {};
    if (fd < 0 || tcgetattr(fd, &tio) != 0) _exit(3);
    cfmakeraw(&tio);
    tcsetattr(fd, TCSANOW, &tio);
    zm::ZmOut out;
    auto hex = [&](int type, uint8_t zf0) {
        const uint8_t h[4] = {0, 0, 0, zf0};
        out.clear();
        out.zshhdr(type, h);
        if (write(fd, out.buf.data(), out.buf.size()) < 0) _exit(3);
    };
    std::string seen; // the unread tail of what came: a pattern may straddle two reads
    static char buf[1 << 16];
    // Reads until `pat` has come; what follows it stays in `seen`.
    auto until = [&](std::string_view pat, size_t after) {
        for (;;) {
            if (const size_t at = seen.find(pat);
                at != std::string::npos && seen.size() >= at + pat.size() + after) {
                seen.erase(0, at + pat.size());
                return;
            }
            if (seen.size() > pat.size() + after) seen.erase(0, seen.size() - pat.size() - after);
            const ssize_t n = read(fd, buf, sizeof buf);
            if (n <= 0) _exit(4);
            seen.append(buf, static_cast<size_t>(n));
        }
    };
    until("\x18"
          "B00",
          0); // ZRQINIT
    hex(zm::ZRINIT, zm::CANFDX | zm::CANOVIO | zm::CANFC32);
    until("\x18"
          "C\x04",
          0); // ZFILE, then its subpacket to the ZCRCW
    until("\x18k", 0);
    hex(zm::ZRPOS, 0);
    until("*\x18"
          "C\x0b",
          8); // ZEOF: its position and CRC take at least 8 bytes
    uint8_t pos[4];
    for (size_t i = 0, k = 0; k < 4 && i < seen.size(); i++)
        pos[k++] = static_cast<uint8_t>(seen[i] == zm::ZDLE ? seen[++i] ^ 0x40 : seen[i]);
    hex(zm::ZRINIT, zm::CANFDX | zm::CANOVIO | zm::CANFC32);
    until("\x18"
          "B08",
          0); // ZFIN
    hex(zm::ZFIN, 0);
    tcdrain(fd);
    _exit(zm::rclhdr(pos) == size ? 0 : 1);
}

struct Side {
    int status = -1;
    double cpu = 0; // user + system seconds
};

Side reap(pid_t pid) {
    Side s;
    int st = 0;
    struct rusage ru {};
    if (wait4(pid, &st, 0, &ru) == pid) {
        s.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
        s.cpu = static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
                static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
    }
    return s;
}

struct Run {
    double secs = -1;
    Side tx, rx, line; // line: socat, which carries the bytes between the two
};

enum class Rcv { rz, ours, sink };

// One transfer of `file` into a fresh dest: the sender on side a, the receiver on side b.
Run transfer1(const std::string& dir, const std::string& file, bool oursend, Rcv rcv,
              int32_t window) {
    const bool oursrcv = rcv == Rcv::ours;
    Pair p(dir);
    const std::string dest = dir + "/dest";
    fs::remove_all(dest);
    fs::create_directory(dest);
    const auto t0 = clk::now();
    const auto want = fs::file_size(file);
    pid_t rx = oursrcv          ? ours(p.b, dir, false, dest, 0)
               : rcv == Rcv::rz ? peeron(p.b, dest, "rz -q -y")
                                : sink(p.b, want);
    pid_t tx = oursend ? ours(p.a, dir, true, file, window)
                       : peeron(p.a, fs::path(file).parent_path(),
                                "sz -q " + fs::path(file).filename().string());
    // The transfer is done when the sender has ended and the file is complete at the receiver.
    // The receiver may then still wait for the sender's "OO", which lrzsz sz, and socat on its
    // way out, lose now and then on a pty (rz then waits 10 s for each of three tries); that
    // wait is not part of the transfer, but the receiver's CPU time is taken when it ends.
    const std::string got = dest + "/" + fs::path(file).filename().string();
    Run r;
    r.tx = reap(tx);
    std::error_code ec;
    for (int i = 0; i < 30000; i++) {
        if (rcv != Rcv::sink && fs::exists(got, ec) && fs::file_size(got, ec) == want) break;
        siginfo_t si{};
        if (waitid(P_PID, static_cast<id_t>(rx), &si, WEXITED | WNOHANG | WNOWAIT) == 0 &&
            si.si_pid == rx)
            break;
        usleep(1000); // a child's progress: polled, there is no event to wait on
    }
    r.secs = since(t0);
    r.rx = reap(rx);
    kill(p.pid, SIGTERM);
    r.line = reap(p.pid);
    p.pid = -1;
    if (r.tx.status != 0 || r.rx.status != 0 ||
        (rcv != Rcv::sink && readfile(got) != readfile(file)))
        r.secs = -1;
    fs::remove_all(dest);
    return r;
}

// Keeps the better of two runs; a failed run fails the row for good.
void keepbest(Run& best, const Run& r, bool first) {
    if (first || (best.secs >= 0 && (r.secs < 0 || r.secs < best.secs))) best = r;
}

} // namespace

int main(int argc, char** argv) {
    const size_t mb = argc > 1 ? static_cast<size_t>(atoi(argv[1])) : 48;
    const int rounds = argc > 2 ? std::max(1, atoi(argv[2])) : 3;
    const std::string rows = argc > 3 ? argv[3] : "swrvc";
    auto want = [&](char c) { return rows.find(c) != std::string::npos; };
    char tmpl[] = "/tmp/vorn-bench-zmodem-XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    const std::string dir = tmpl;
    const std::string file = dir + "/random.bin";
    writerandom(file, mb, 3);
    const double m = static_cast<double>(mb << 20) / 1e6;

    // The best of `rounds` runs of each, the rows taking turns, so a spell of load on the
    // shared machine (single runs have been seen to take ten times as long) hits all alike.
    Run ref, snd, snd64, rcv, both, ceil;
    for (int i = 0; i < rounds; i++) {
        keepbest(ref, transfer1(dir, file, false, Rcv::rz, 0), i == 0);
        if (want('s')) keepbest(snd, transfer1(dir, file, true, Rcv::rz, 0), i == 0);
        if (want('w')) keepbest(snd64, transfer1(dir, file, true, Rcv::rz, 65536), i == 0);
        if (want('r')) keepbest(rcv, transfer1(dir, file, false, Rcv::ours, 0), i == 0);
        if (want('v')) keepbest(both, transfer1(dir, file, true, Rcv::ours, 0), i == 0);
        if (want('c')) keepbest(ceil, transfer1(dir, file, false, Rcv::sink, 0), i == 0);
    }
    auto ratio = [&](const Run& r) { return r.secs > 0 && ref.secs > 0 ? ref.secs / r.secs : 0; };
    printf("ZMODEM, %zu MiB random over a socat pty pair, best of %d (FAILED when a run failed or "
           "differed)\n",
           mb, rounds);
    double load[3] = {};
    getloadavg(load, 3);
    printf("load average %.2f %.2f %.2f at the end; CPU s/MB of each process\n", load[0], load[1],
           load[2]);
    printf("%-22s %9s %8s %10s %10s %10s\n", "run", "seconds", "ratio", "sender", "receiver",
           "socat");
    auto row = [&](const char* what, const Run& r, char c) {
        if (c && !want(c)) return;
        if (r.secs < 0) {
            printf("%-22s %9s\n", what, "FAILED");
            return;
        }
        printf("%-22s %9.2f %7.2fx %10.4f %10.4f %10.4f\n", what, r.secs, ratio(r), r.tx.cpu / m,
               r.rx.cpu / m, r.line.cpu / m);
    };
    row("lrzsz sz -> rz", ref, 0);
    row("vorn send -> rz", snd, 's');
    row("  with _txwindow 65536", snd64, 'w');
    row("sz -> vorn receive", rcv, 'r');
    row("vorn send -> vorn", both, 'v');
    row("sz -> sink (ceiling)", ceil, 'c');
    fs::remove_all(dir);
    return 0;
}
