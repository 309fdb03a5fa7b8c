// Megabytes per second through ttyout (VT100 emulation, an xterm console whose output is
// written to /dev/null) beside libvterm's screen layer fed the same bytes in the same run.
// Two workloads: plain text lines, and text mixed with renditions, cursor addressing, erases
// and scrolls of a region; a third in the XTERM emulation on a UTF-8 xterm-256color console
// (libvterm decoding UTF-8 too): accented and CJK text in 256 and 24-bit colours. Prints the
// workload, our figure, libvterm's and the ratio, each the best of five runs. Times are the
// thread's processor time, so that other programs on a loaded machine count less. An argument
// picks the workloads whose name starts with it.
#include "core/start.h"
#include "emulators/emulate.h"
#include "ports/com.h"
#include "ports/queue.h"
#include "screen/display.h"
#include "screen/termcap.h"
#include "screen/vscreen.h"
#include "tests/support/emusetup.h"

#include <fcntl.h>
#include <unistd.h>
#include <vterm.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string>

namespace {

constexpr size_t kBytes = 16 << 20;

double cpunow() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

std::string plain() {
    std::mt19937 rng(1);
    std::string s;
    const char* words[] = {
        "the", "quick",   "brown",    "fox",    "jumps",    "over",           "lazy",
        "dog", "compile", "warning:", "unused", "variable", "src/main.c:42:7"};
    while (s.size() < kBytes) {
        size_t len = 0;
        int n = 3 + rng() % 12;
        for (int i = 0; i < n && len < 70; i++) {
            const char* w = words[rng() % (sizeof words / sizeof *words)];
            s += w;
            s += ' ';
            len += std::char_traits<char>::length(w) + 1;
        }
        s += "\r\n";
    }
    return s;
}

std::string mixed() {
    std::mt19937 rng(2);
    std::string s = "\033[2J";
    char buf[64];
    while (s.size() < kBytes) {
        switch (rng() % 8) {
        case 0: // a status line in reverse at an address
            std::snprintf(buf, sizeof buf, "\033[%u;1H\033[7m",
                          static_cast<unsigned>(1 + rng() % 24));
            s += buf;
            s += " file.c  line 120  col 7 \033[m\033[K";
            break;
        case 1: // coloured text
            std::snprintf(buf, sizeof buf, "\033[%u;%um", static_cast<unsigned>(30 + rng() % 8),
                          static_cast<unsigned>(1 + rng() % 2));
            s += buf;
            s += "highlighted words here\033[0m plain again ";
            break;
        case 2: // a region scrolled by line feeds at its bottom
            std::snprintf(buf, sizeof buf, "\033[%u;%ur\033[%u;1H",
                          static_cast<unsigned>(2 + rng() % 5),
                          static_cast<unsigned>(14 + rng() % 10), 23u);
            s += buf;
            for (int i = 0; i < 4; i++)
                s += "scrolling text in the region\r\n";
            s += "\033[r";
            break;
        case 3: // erases
            std::snprintf(buf, sizeof buf, "\033[%u;%uH\033[K\033[%u;1H\033[J",
                          static_cast<unsigned>(1 + rng() % 24),
                          static_cast<unsigned>(1 + rng() % 80),
                          static_cast<unsigned>(20 + rng() % 5));
            s += buf;
            break;
        case 4: // reverse index at the top of a region
            s += "\033[3;20r\033[3;1H\033M\033M\033[r";
            break;
        default: // plain lines
            std::snprintf(buf, sizeof buf, "\033[%u;1H", static_cast<unsigned>(1 + rng() % 24));
            s += buf;
            s += "int main(int argc, char **argv) { return argc > 1 ? 0 : 1; }\r\n";
            break;
        }
    }
    return s;
}

std::string utf8colour() {
    std::mt19937 rng(3);
    std::string s = "\033[2J";
    char buf[64];
    const char* texts[] = {"café crème brûlée ", "naïve façade ",      "日本語のテキスト ",
                           "Ελληνικά ",          "plain ascii words ", "── │ ┌┐ └┘ "};
    while (s.size() < kBytes) {
        switch (rng() % 4) {
        case 0:
            std::snprintf(buf, sizeof buf, "\033[38;5;%um", static_cast<unsigned>(rng() % 256));
            break;
        case 1:
            std::snprintf(buf, sizeof buf, "\033[48;2;%u;%u;%um",
                          static_cast<unsigned>(rng() % 256), static_cast<unsigned>(rng() % 8) * 32,
                          40u);
            break;
        case 2:
            std::snprintf(buf, sizeof buf, "\033[m\r\n");
            break;
        default:
            buf[0] = '\0';
            break;
        }
        s += buf;
        s += texts[rng() % (sizeof texts / sizeof *texts)];
    }
    return s;
}

double ours(const std::string& bytes, int emulation) {
    int null = open("/dev/null", O_WRONLY);
    setconswriter([null](const char* p, size_t n) {
        if (write(null, p, n) < 0) std::abort();
    });
    emselect(emulation, 24, nullptr);
    // As terminal mode does: each block read from the line is queued; a byte is taken from the
    // queue, then the bytes waiting behind it in one piece, so the console is written when the
    // queue runs dry.
    qinit(comq, COMQSIZE);
    double t0 = cpunow();
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    unsigned char run[COMBUFSIZ];
    for (size_t i = 0; i < bytes.size(); i += COMBUFSIZ) {
        size_t n = std::min<size_t>(COMBUFSIZ, bytes.size() - i);
        qwrite(comq, data + i, static_cast<int>(n));
        for (int c; (c = unqchar(comq)) >= 0;) {
            ttyout(c);
            ttyouts(run, unqbytes(comq, run, static_cast<int>(sizeof run), -1));
        }
    }
    oflush();
    double s = cpunow() - t0;
    setconswriter(nullptr);
    close(null);
    return bytes.size() / s / 1e6;
}

double theirs(const std::string& bytes, bool utf8) {
    VTerm* vt = vterm_new(24, 80);
    vterm_set_utf8(vt, utf8);
    VTermScreen* vs = vterm_obtain_screen(vt);
    vterm_screen_reset(vs, 1);
    double t0 = cpunow();
    // The same block size the port layer reads from the line.
    for (size_t i = 0; i < bytes.size(); i += 1200)
        vterm_input_write(vt, bytes.data() + i, std::min<size_t>(1200, bytes.size() - i));
    vterm_screen_flush_damage(vs);
    double s = cpunow() - t0;
    vterm_free(vt);
    return bytes.size() / s / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    const char* only = argc > 1 ? argv[1] : nullptr; // a workload's first word: just that one
    setenv("TERM", "xterm", 1);
    setenv("TERMCAP", "/nonexistent/termcap", 1);
    setenv("HOME", "/nonexistent", 1);
    setenv("VORNDIR", "/nonexistent", 1);
    qflag = 1;
    comq = CharQueue{};
    std::printf("%-34s %12s %12s %8s\n", "workload (16 MB, VT100)", "ttyout MB/s", "libvterm",
                "ratio");
    struct {
        const char* name;
        std::string (*make)();
        int emulation;
    } work[] = {{"plain text", plain, EM_VT100},
                {"SGR, addressing, erases, regions", mixed, EM_VT100},
                {"UTF-8 in colour (XTERM)", utf8colour, EM_XTERM}};
    for (auto& w : work) {
        if (only && std::string(w.name).find(only) != 0) continue;
        const std::string bytes = w.make();
        bool xt = w.emulation == EM_XTERM;
        setenv("TERM", xt ? "xterm-256color" : "xterm", 1);
        tinit(xt ? "xterm-256color" : "xterm");
        _vinit();
        consutf8 = xt;
        double a = 0, b = 0; // the best of five runs each
        for (int run = 0; run < 5; run++) {
            a = std::max(a, ours(bytes, w.emulation));
            b = std::max(b, theirs(bytes, xt));
        }
        std::printf("%-34s %12.1f %12.1f %7.2fx\n", w.name, a, b, b > 0 ? a / b : 0);
    }
    return 0;
}
