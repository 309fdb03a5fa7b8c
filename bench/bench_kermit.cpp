// Kermit and YMODEM figures beside the independent peers, on socat pseudo-serial pairs, in
// seconds for the same random file, one run:
//   - Kermit with 90-byte packets and window 1, each way: VORN against C-Kermit, beside C-Kermit
//     against itself with the same settings;
//   - Kermit with long packets (VORN offers 9000), each way, beside the best of C-Kermit against
//     itself with long packets and sliding windows;
//   - YMODEM-1K: VORN sending to lrzsz rb and to VORN, beside lrzsz sb to rb.
// Each figure is the best of three runs, ours and the peer's taken in turn so that both see the
// same load (the machine is shared). Needs socat, C-Kermit and lrzsz.
// Usage: bench_kermit [MiB, default 2] [only the rows whose name holds this text]
#include "bench/benchside.h"
#include "bench/socatpair.h"
#include "transfer/kermit.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

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

// Seconds from start to both ends done with the file arrived intact; -1 on a failure.
double once(const std::string& dir, const std::string& file, const Side& tx, const Side& rx,
            int prot) {
    Pair p(dir);
    const std::string dest = dir + "/dest";
    fs::remove_all(dest);
    fs::create_directory(dest);
    // Our side's Kermit packets: long ones with sliding windows, or basic ones with window 1.
    auto kermit = [prot](int longmax) {
        return [prot, longmax] {
            errprot = prot;
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
    waitpid(s, &st1, 0);
    waitpid(r, &st2, 0);
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
    return ok ? t : -1;
}

double better(double a, double b) {
    return a > 0 && (b <= 0 || a < b) ? a : b;
}

const char* only = nullptr;

bool wanted(const std::string& what) {
    return !only || what.find(only) != std::string::npos;
}

void row(const std::string& what, const std::function<double()>& ourtime,
         const std::function<double()>& theirs) {
    if (!wanted(what)) return;
    double peer = -1, ours = -1;
    for (int i = 0; i < 3; i++) {
        ours = better(ourtime(), ours);
        peer = better(theirs(), peer);
    }
    const double ratio = ours > 0 && peer > 0 ? peer / ours : 0;
    printf("%-52s %8.2f %8.2f %6.2fx%s\n", what.c_str(), ours, peer, ratio,
           ours < 0 || peer < 0 ? "  (a run failed)" : "");
    fflush(stdout);
}
} // namespace

int main(int argc, char** argv) {
    const size_t mb = argc > 1 ? static_cast<size_t>(atoi(argv[1])) : 2;
    if (argc > 2) only = argv[2];
    char tmpl[] = "/tmp/vorn-bench-kermit-XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    const std::string dir = tmpl;
    const std::string file = dir + "/random.bin";
    writerandom(file, mb, 11);
    printf("%zu MiB random, seconds (best of 3); ratio = peer / vorn\n", mb);
    printf("%-52s %8s %8s %7s\n", "workload", "vorn", "peer", "ratio");

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
        double b = -1;
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
