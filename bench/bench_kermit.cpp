// Kermit and YMODEM figures beside the independent peers, on socat pseudo-serial pairs, in
// seconds for the same random file, one run:
//   - Kermit with 90-byte packets and window 1, each way: VORN against C-Kermit, beside C-Kermit
//     against itself with the same settings;
//   - Kermit with long packets (VORN offers 9000), each way and VORN to VORN, beside the best of
//     C-Kermit against itself with long packets and sliding windows;
//   - YMODEM-1K: VORN sending to lrzsz rb and to VORN, beside lrzsz sb to rb.
// Each figure is the best of N runs (default 3), ours and the peer's taken in turn so that both
// see the same load (the machine is shared). The window-1 rows are bound by the line's round
// trip, so on a loaded machine they measure the scheduler as much as the programs: each row
// also gives the processor time per MiB of each end (sender/receiver, user + system, a peer's
// own helpers included), in its best run, which load does not inflate. Needs socat, C-Kermit
// and lrzsz.
// Usage: bench_kermit [MiB, default 2] [only the rows whose name holds this text] [N]
#include "bench/benchside.h"
#include "bench/socatpair.h"
#include "transfer/kermit.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

namespace fs = std::filesystem;

namespace {
using clk = std::chrono::steady_clock;

// A peer command in `dir`, in its own session with the pseudo-terminal as its terminal.
pid_t peer(const std::string& cmd, const std::string& dir, const std::string& tty) {
    pid_t pid = fork();
    if (pid == 0) {
        setsid();
        if (chdir(dir.c_str()) != 0) _exit(126);
        int fd = open(tty.c_str(), O_RDWR); // C-Kermit transfers on its controlling terminal
        int null = open("/dev/null", O_WRONLY);
        if (fd < 0 || null < 0) _exit(126);
        dup2(fd, 0), dup2(fd, 1), dup2(null, 2);
        const std::string line = "exec " + cmd;
        execl("/bin/sh", "sh", "-c", line.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

struct Side {
    bool isvorn;
    std::string cmd; // the peer command; a sender's file goes at %f, else at the end
    int longmax = 9024;
};

// One run: seconds from start to both ends done with the file arrived intact (-1 on a
// failure), and each end's processor seconds.
struct Run {
    double t = -1, cputx = 0, cpurx = 0;
};

double cpu(const rusage& u) {
    auto s = [](const timeval& v) {
        return static_cast<double>(v.tv_sec) + static_cast<double>(v.tv_usec) / 1e6;
    };
    return s(u.ru_utime) + s(u.ru_stime);
}

Run once(const std::string& dir, const std::string& file, const Side& tx, const Side& rx,
         int prot) {
    Pair p(dir);
    const std::string dest = dir + "/dest";
    fs::remove_all(dest);
    fs::create_directory(dest);
    // Our side's Kermit packets: long ones with sliding windows, or basic ones of 90 with
    // window 1, as C-Kermit is told to use in the rows that compare them.
    auto kermit = [prot](int longmax) {
        return [prot, longmax] {
            errprot = prot;
            kmaxl = longmax > 0 ? 94 : 90;
            klongmax = longmax;
            kwindow = longmax > 0 ? 31 : 1;
        };
    };
    const auto t0 = clk::now();
    pid_t r =
        rx.isvorn ? vornside(p.b, dir, false, dest, kermit(rx.longmax)) : peer(rx.cmd, dest, p.b);
    std::string cmd = tx.cmd;
    if (cmd.find("%f") != std::string::npos)
        cmd.replace(cmd.find("%f"), 2, file);
    else
        cmd += " " + file;
    pid_t s = tx.isvorn ? vornside(p.a, dir, true, file, kermit(tx.longmax)) : peer(cmd, dir, p.a);
    int st1 = 0, st2 = 0;
    rusage u1{}, u2{};
    wait4(s, &st1, 0, &u1);
    wait4(r, &st2, 0, &u2);
    const double t = since(t0);
    const std::string name = fs::path(file).filename().string();
    std::string got = readfile(dest + "/" + name);
    if (got.empty()) got = readfile(dest + "/RANDOM.BIN"); // C-Kermit's common form
    const bool same = got == readfile(file);
    const bool ok =
        WIFEXITED(st1) && WEXITSTATUS(st1) == 0 && WIFEXITED(st2) && WEXITSTATUS(st2) == 0 && same;
    if (!ok)
        fprintf(stderr, "failed run: sender status %d, receiver status %d, %s\n", st1, st2,
                same ? "file intact" : "file differs");
    return Run{ok ? t : -1, cpu(u1), cpu(u2)};
}

Run better(const Run& a, const Run& b) {
    return a.t > 0 && (b.t <= 0 || a.t < b.t) ? a : b;
}

int rounds = 3;
double mib = 2;

const char* only = nullptr;

bool wanted(const std::string& what) {
    return !only || what.find(only) != std::string::npos;
}

void row(const std::string& what, const std::function<Run()>& ourtime,
         const std::function<Run()>& theirs) {
    if (!wanted(what)) return;
    Run peer, ours;
    for (int i = 0; i < rounds; i++) {
        ours = better(ourtime(), ours);
        peer = better(theirs(), peer);
    }
    const double ratio = ours.t > 0 && peer.t > 0 ? peer.t / ours.t : 0;
    auto ms = [](double s) { return static_cast<int>(s * 1000 / mib + 0.5); };
    printf("%-52s %7.2f %7.2f %5.2fx %5d/%-5d %5d/%-5d%s\n", what.c_str(), ours.t, peer.t, ratio,
           ms(ours.cputx), ms(ours.cpurx), ms(peer.cputx), ms(peer.cpurx),
           ours.t < 0 || peer.t < 0 ? "  (a run failed)" : "");
    fflush(stdout);
}
} // namespace

int main(int argc, char** argv) {
    const size_t mb = argc > 1 ? static_cast<size_t>(atoi(argv[1])) : 2;
    if (argc > 2) only = argv[2];
    if (argc > 3) rounds = std::max(1, atoi(argv[3]));
    mib = static_cast<double>(mb);
    char tmpl[] = "/tmp/vorn-bench-kermit-XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    const std::string dir = tmpl;
    const std::string file = dir + "/random.bin";
    writerandom(file, mb, 11);
    printf("%zu MiB random, seconds (best of %d); ratio = peer / vorn; cpu = processor ms per "
           "MiB, sender/receiver, of the best run\n",
           mb, rounds);
    printf("%-52s %7s %7s %6s %11s %11s\n", "workload", "vorn", "peer", "ratio", "vorn-run cpu",
           "peer-run cpu");

    const std::string ck = "kermit -Y -q -i";
    const Side vk{true, "", 0}, vlong{true, "", 9000};
    const std::string short1 = "set window 1, set block-check 3, set streaming off";
    const Side ckr90{false,
                     ck + " -C 'set receive packet-length 90, " + short1 + ", receive, exit'"};
    // C-Kermit senders take the file name inside -C.
    auto cksend = [&](const std::string& settings) {
        return Side{false, ck + " -C '" + settings + ", send %f, exit'"};
    };
    auto run = [&](const Side& tx, const Side& rx, int prot) {
        return once(dir, file, tx, rx, prot);
    };

    // Basic packets, window 1.
    const Side ck90s = cksend("set send packet-length 90, " + short1);
    auto ck90 = [&] { return run(ck90s, ckr90, 3); };
    row(
        "Kermit 90-byte window 1, vorn->C-Kermit vs C-Kermit", [&] { return run(vk, ckr90, 3); },
        ck90);
    row(
        "Kermit 90-byte window 1, C-Kermit->vorn vs C-Kermit", [&] { return run(ck90s, vk, 3); },
        ck90);
    row(
        "Kermit 90-byte window 1, vorn->vorn vs C-Kermit", [&] { return run(vk, vk, 3); }, ck90);

    // Long packets and sliding windows: C-Kermit's best against itself.
    const std::string lw = "set window 31, set receive packet-length 9024";
    auto ckbest = [&] {
        Run b;
        for (const std::string& s : {std::string("set window 30"), lw})
            b = better(run(cksend(s), Side{false, ck + " -C '" + s + ", receive, exit'"}, 3), b);
        return b;
    };
    const Side ckrlong{false, ck + " -C '" + lw + ", receive, exit'"};
    row(
        "Kermit long+windows, vorn->C-Kermit vs C-Kermit best",
        [&] { return run(vlong, ckrlong, 3); }, ckbest);
    row(
        "Kermit long+windows, C-Kermit->vorn vs C-Kermit best",
        [&] { return run(cksend("set send packet-length 9024, " + lw), vlong, 3); }, ckbest);
    row(
        "Kermit long+windows, vorn->vorn vs C-Kermit best", [&] { return run(vlong, vlong, 3); },
        ckbest);

    // YMODEM-1K beside lrzsz.
    // rb runs on a socket behind socat: on a pseudo-terminal lrzsz's exit flush often destroys
    // its last ACK, and the sender then waits out its retries.
    const Side rb{false, "socat - SYSTEM:'rb -q -y'"}, sb{false, "sb -q -k"}, vy{true, ""};
    auto lrf = [&] { return run(sb, rb, 5); };
    row(
        "YMODEM-1K, vorn->rb vs sb->rb", [&] { return run(vy, rb, 5); }, lrf);
    row(
        "YMODEM-1K, vorn->vorn vs sb->rb", [&] { return run(vy, vy, 5); }, lrf);
    fs::remove_all(dir);
    return 0;
}
