// ZMODEM figures beside lrzsz, measured in the same run on the same file over socat
// pseudo-serial pairs: lrzsz sz -> rz as the reference, then our sender -> rz and sz -> our
// receiver. Prints the wall time of each, the ratio (lrzsz time / ours: above 1 is faster), and
// the CPU time per MB of each side.
// Needs socat and lrzsz. Usage: bench_zmodem [MiB of random data, default 48] [rounds, 3]
// (100 gives the large-file case; it is never part of the test suite).
#include "bench/benchside.h"
#include "bench/socatpair.h"
#include "script/var.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

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
    Side tx, rx;
};

// One transfer of `file` into a fresh dest: the sender on side a, the receiver on side b.
Run transfer1(const std::string& dir, const std::string& file, bool oursend, bool oursrcv,
              int32_t window) {
    Pair p(dir);
    const std::string dest = dir + "/dest";
    fs::remove_all(dest);
    fs::create_directory(dest);
    const auto t0 = clk::now();
    pid_t rx = oursrcv ? ours(p.b, dir, false, dest, 0) : peeron(p.b, dest, "rz -q -y");
    pid_t tx = oursend ? ours(p.a, dir, true, file, window)
                       : peeron(p.a, fs::path(file).parent_path(),
                                "sz -q " + fs::path(file).filename().string());
    // The transfer is done when the sender has ended and the file is complete at the receiver.
    // The receiver may then still wait for the sender's "OO", which lrzsz sz, and socat on its
    // way out, lose now and then on a pty (rz then waits 10 s for each of three tries); that
    // wait is not part of the transfer, but the receiver's CPU time is taken when it ends.
    const std::string got = dest + "/" + fs::path(file).filename().string();
    const auto want = fs::file_size(file);
    Run r;
    r.tx = reap(tx);
    std::error_code ec;
    for (int i = 0; i < 30000; i++) {
        if (fs::exists(got, ec) && fs::file_size(got, ec) == want) break;
        siginfo_t si{};
        if (waitid(P_PID, static_cast<id_t>(rx), &si, WEXITED | WNOHANG | WNOWAIT) == 0 &&
            si.si_pid == rx)
            break;
        usleep(1000); // a child's progress: polled, there is no event to wait on
    }
    r.secs = since(t0);
    r.rx = reap(rx);
    if (r.tx.status != 0 || r.rx.status != 0 || readfile(got) != readfile(file)) r.secs = -1;
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
    char tmpl[] = "/tmp/vorn-bench-zmodem-XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    const std::string dir = tmpl;
    const std::string file = dir + "/random.bin";
    writerandom(file, mb, 3);
    const double m = static_cast<double>(mb << 20) / 1e6;

    // The best of `rounds` runs of each, the rows taking turns, so a spell of load on the
    // shared machine (single runs have been seen to take ten times as long) hits all alike.
    Run ref, snd, snd64, rcv;
    for (int i = 0; i < rounds; i++) {
        keepbest(ref, transfer1(dir, file, false, false, 0), i == 0);
        keepbest(snd, transfer1(dir, file, true, false, 0), i == 0);
        keepbest(snd64, transfer1(dir, file, true, false, 65536), i == 0);
        keepbest(rcv, transfer1(dir, file, false, true, 0), i == 0);
    }
    auto ratio = [&](const Run& r) { return r.secs > 0 && ref.secs > 0 ? ref.secs / r.secs : 0; };
    printf("ZMODEM, %zu MiB random over a socat pty pair, best of %d (FAILED when a run failed or "
           "differed)\n",
           mb, rounds);
    printf("%-22s %9s %8s %15s %15s\n", "run", "seconds", "ratio", "sender CPU s/MB",
           "receiver CPU s/MB");
    auto row = [&](const char* what, const Run& r) {
        if (r.secs < 0) {
            printf("%-22s %9s\n", what, "FAILED");
            return;
        }
        printf("%-22s %9.2f %7.2fx %15.4f %15.4f\n", what, r.secs, ratio(r), r.tx.cpu / m,
               r.rx.cpu / m);
    };
    row("lrzsz sz -> rz", ref);
    row("vorn send -> rz", snd);
    row("  with _txwindow 65536", snd64);
    row("sz -> vorn receive", rcv);
    fs::remove_all(dir);
    return 0;
}
