// File transfer figures beside independent peers, measured in the same run on the same input:
//   - LZW compress and expand of 64 MiB of text against ncompress (`compress`), in MB/s, with
//     the compressed sizes (ours is 12-bit, ncompress 16-bit, so sizes differ by design);
//   - a native VornCRC transfer between two processes over a socat pseudo-serial pair against
//     lrzsz ZMODEM (sz/rz) over another pair, in seconds for the same file.
// Needs socat, lrzsz and ncompress. Usage: bench_xfer [MiB for LZW, default 64] [MiB for the
// transfer, default 16]
#include "bench/benchside.h"
#include "bench/socatpair.h"
#include "transfer/lzw.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {
using clk = std::chrono::steady_clock;

std::string text(size_t n) {
    static const char* const words[] = {
        "the ",   "line ",  "modem ", "transfer ", "block ", "file ",   "of ",     "and ",
        "to ",    "data ",  "VORN ",  "crc ",      "port ",  "script ", "window ", "baud ",
        "error ", "retry ", "queue ", "screen ",   "\n",     "\t",      "1200 ",   "9600 "};
    std::mt19937 g(7);
    std::string s;
    s.reserve(n + 16);
    while (s.size() < n) {
        s += words[g() % 24];
        if (g() % 50 == 0) s += std::to_string(g() % 100000) + " ";
    }
    s.resize(n);
    return s;
}

void writefile(const std::string& p, const std::string& d) {
    std::ofstream(p, std::ios::binary) << d;
}

int run(const std::string& cmd) {
    return system(cmd.c_str());
}

double native(const std::string& dir, const std::string& file, const std::string& opts) {
    Pair p(dir);
    fs::create_directory(dir + "/vdest");
    auto t0 = clk::now();
    pid_t rx = vornside(p.b, dir, false, dir + "/vdest");
    pid_t tx = vornside(p.a, dir, true, file + opts);
    int st1 = 0, st2 = 0;
    waitpid(tx, &st1, 0);
    waitpid(rx, &st2, 0);
    double t = since(t0);
    bool ok = WEXITSTATUS(st1) == 0 && WEXITSTATUS(st2) == 0 &&
              readfile(dir + "/vdest/" + fs::path(file).filename().string()) == readfile(file);
    fs::remove_all(dir + "/vdest");
    return ok ? t : -1;
}

double zmodem(const std::string& dir, const std::string& file) {
    Pair p(dir);
    fs::create_directory(dir + "/zdest");
    auto t0 = clk::now();
    pid_t rx = peeron(p.b, dir + "/zdest", "rz -q -y");
    pid_t tx = peeron(p.a, dir, "sz -q " + file);
    int st = 0;
    waitpid(tx, &st, 0);
    waitpid(rx, nullptr, 0);
    double t = since(t0);
    bool ok = WIFEXITED(st) && WEXITSTATUS(st) == 0 &&
              readfile(dir + "/zdest/" + fs::path(file).filename().string()) == readfile(file);
    fs::remove_all(dir + "/zdest");
    return ok ? t : -1;
}

// The round trip of one 133-byte block and its 1-byte answer between two bare processes over a
// fresh pair, in microseconds: the floor for any stop-and-wait protocol on this line.
double roundtrip(const std::string& dir) {
    Pair p(dir);
    int a = open(p.a.c_str(), O_RDWR | O_NOCTTY), b = open(p.b.c_str(), O_RDWR | O_NOCTTY);
    for (int fd : {a, b}) {
        termios t{};
        tcgetattr(fd, &t);
        cfmakeraw(&t);
        tcsetattr(fd, TCSANOW, &t);
    }
    const int n = 2000;
    pid_t pid = fork();
    if (pid == 0) {
        char buf[4096];
        for (int i = 0; i < n; i++) {
            for (ssize_t got = 0, k; got < 133; got += k)
                if ((k = read(b, buf, sizeof buf)) <= 0) _exit(1);
            if (write(b, "G", 1) != 1) _exit(1);
        }
        _exit(0);
    }
    char blk[133] = {}, c;
    auto t0 = clk::now();
    for (int i = 0; i < n; i++)
        if (write(a, blk, sizeof blk) != sizeof blk || read(a, &c, 1) != 1) break;
    const double us = since(t0) / n * 1e6;
    waitpid(pid, nullptr, 0);
    close(a), close(b);
    return us;
}

// lrzsz now and then stalls for its 30-second time-out at the end of a session: best of two.
double zmodem2(const std::string& dir, const std::string& file) {
    double a = zmodem(dir, file), b = zmodem(dir, file);
    return a < 0 ? b : b < 0 ? a : std::min(a, b);
}

void row(const char* what, double ours, double peer, const char* unit, bool higherbetter) {
    double ratio = ours > 0 && peer > 0 ? (higherbetter ? ours / peer : peer / ours) : 0;
    printf("%-38s %10.2f %10.2f %-5s %6.2fx\n", what, ours, peer, unit, ratio);
}
} // namespace

int main(int argc, char** argv) {
    const size_t lzwmb = argc > 1 ? static_cast<size_t>(atoi(argv[1])) : 64;
    const size_t xfermb = argc > 2 ? static_cast<size_t>(atoi(argv[2])) : 16;
    char tmpl[] = "/tmp/vorn-bench-xfer-XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    const std::string dir = tmpl;
    printf("%-38s %10s %10s %-5s %7s\n", "workload", "vorn", "peer", "unit", "ratio");

    // LZW beside ncompress.
    const std::string t = text(lzwmb << 20);
    writefile(dir + "/text", t);
    // Each figure is the best of three runs: the machine is shared.
    LzwCoder c;
    std::vector<uint8_t> z;
    double ourc = 1e9, oure = 1e9, peerc = 1e9, peere = 1e9;
    bool ok = true;
    uint8_t buf[65536];
    for (int round = 0; round < 3; round++) {
        z.clear();
        z.reserve(t.size() / 2);
        auto t0 = clk::now();
        c.start();
        for (size_t at = 0; at < t.size(); at += 65536) {
            c.put(reinterpret_cast<const uint8_t*>(t.data() + at),
                  std::min<size_t>(65536, t.size() - at));
            for (size_t n; (n = c.take(buf, sizeof buf)) > 0;)
                z.insert(z.end(), buf, buf + n);
        }
        c.finish();
        for (size_t n; (n = c.take(buf, sizeof buf)) > 0;)
            z.insert(z.end(), buf, buf + n);
        ourc = std::min(ourc, since(t0));
        LzwDecoder d;
        size_t out = 0;
        t0 = clk::now();
        d.start([&](const uint8_t*, size_t n) { return (out += n), true; });
        for (size_t at = 0; at < z.size(); at += 65536)
            d.push(z.data() + at, std::min<size_t>(65536, z.size() - at));
        ok = ok && d.finish() == LzwDecoder::OK && out == t.size();
        oure = std::min(oure, since(t0));
        t0 = clk::now();
        run("compress -c " + dir + "/text > " + dir + "/text.Z");
        peerc = std::min(peerc, since(t0));
        t0 = clk::now();
        run("compress -dc " + dir + "/text.Z > /dev/null");
        peere = std::min(peere, since(t0));
    }
    const double mb = static_cast<double>(t.size()) / 1e6;
    char label[80];
    snprintf(label, sizeof label, "LZW compress %zu MiB text, MB/s", lzwmb);
    row(label, mb / ourc, mb / peerc, "MB/s", true);
    snprintf(label, sizeof label, "LZW expand %zu MiB text, MB/s%s", lzwmb, ok ? "" : " (BAD)");
    row(label, mb / oure, mb / peere, "MB/s", true);
    row("compressed size, % of input",
        100.0 * static_cast<double>(z.size()) / static_cast<double>(t.size()),
        100.0 * static_cast<double>(fs::file_size(dir + "/text.Z")) / static_cast<double>(t.size()),
        "%", false);

    // Native transfer beside lrzsz ZMODEM.
    if (xfermb == 0) {
        fs::remove_all(dir);
        return 0;
    }
    writerandom(dir + "/random.bin", xfermb, 3);
    writefile(dir + "/text.txt", xfermb <= lzwmb ? t.substr(0, xfermb << 20) : text(xfermb << 20));
    snprintf(label, sizeof label, "transfer %zu MiB random (vorn plain), s", xfermb);
    const double plain = native(dir, dir + "/random.bin", "(z)");
    row(label, plain, zmodem2(dir, dir + "/random.bin"), "s", false);
    // Blocks go one at a time, each after the answer to the last: the line's round trip is
    // the floor (ratio 1.00x would mean no time spent in the program at all).
    row("per block: plain transfer vs bare round trip, us",
        plain * 1e6 / static_cast<double>((xfermb << 20) / 128), roundtrip(dir), "us", false);
    snprintf(label, sizeof label, "transfer %zu MiB text (vorn LZW), s", xfermb);
    row(label, native(dir, dir + "/text.txt", ""), zmodem2(dir, dir + "/text.txt"), "s", false);
    fs::remove_all(dir);
    return 0;
}
