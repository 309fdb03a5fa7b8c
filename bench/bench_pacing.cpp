// Pacing: what a block of text costs to send through qcomout with character, line-feed and tab
// delays, beside the same block written straight to the descriptor (the peer figure). With
// every delay 0 the block goes out in one write and should cost what the plain write costs;
// each delay unit adds its busy wait per character, line feed or tab.
#include "ports/com.h"
#include "ports/settings.h"

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {
using clk = std::chrono::steady_clock;

// 4 KiB of text: 64 lines of 63 characters with two tabs each, and a line feed.
std::string block() {
    std::string s;
    for (int line = 0; line < 64; line++) {
        for (int i = 0; i < 63; i++)
            s += (i == 20 || i == 40) ? '\t' : static_cast<char>('a' + (line + i) % 26);
        s += '\n';
    }
    return s;
}

double microseconds(clk::time_point t0) {
    return std::chrono::duration<double, std::micro>(clk::now() - t0).count();
}
} // namespace

int main() {
    int fd = open("/dev/null", O_WRONLY);
    if (fd < 0) return 1;
    comfd = fd;
    COM = &nulfunc; // out and bout write to comfd
    const std::string text = block();
    const auto* data = reinterpret_cast<const uint8_t*>(text.data());
    const int len = static_cast<int>(text.size());
    int lfs = 0, tabs = 0;
    for (char c : text) {
        lfs += c == '\n';
        tabs += c == '\t';
    }

    struct Row {
        int c, l, t;
    };
    const Row rows[] = {{0, 0, 0}, {0, 1, 0}, {0, 0, 1},  {0, 10, 10},
                        {1, 0, 0}, {2, 0, 0}, {1, 10, 10}};
    std::printf("block of %d bytes (%d line feeds, %d tabs), delay unit %.1f us\n", len, lfs, tabs,
                DELAYUNIT_NS / 1000.0);
    std::printf("%-28s %12s %12s %12s %8s\n", "workload (cdelay,ldelay,tdelay)", "qcomout us",
                "write us", "expected us", "ratio");
    for (const Row& r : rows) {
        cdelay = r.c, ldelay = r.l, tdelay = r.t;
        const int reps = (r.c || r.l || r.t) ? 3 : 2000;
        auto t0 = clk::now();
        for (int i = 0; i < reps; i++)
            qcomout(data, len, 0);
        double ours = microseconds(t0) / reps;
        t0 = clk::now();
        for (int i = 0; i < reps; i++)
            if (write(fd, data, static_cast<size_t>(len)) != len) return 1;
        double peer = microseconds(t0) / reps;
        double expected =
            (static_cast<double>(r.c) * len + r.l * lfs + r.t * tabs) * DELAYUNIT_NS / 1000.0;
        char name[40];
        std::snprintf(name, sizeof name, "pacing %d,%d,%d", r.c, r.l, r.t);
        std::printf("%-28s %12.1f %12.1f %12.1f %8.2f\n", name, ours, peer, expected,
                    peer > 0 ? ours / peer : 0.0);
    }
    close(fd);
    return 0;
}
