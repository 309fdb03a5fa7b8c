// Hot paths of the virtual screen in cells per second, console output going to /dev/null:
// character output (with wrapping and scrolling), whole-screen scroll, clear to end of line.
// The peer is libvterm taking the very bytes our driver produced for the same workload.
#include "core/start.h"
#include "emulators/emulate.h"
#include "ports/com.h"
#include "screen/display.h"
#include "screen/termcap.h"
#include "screen/vscreen.h"

#include <fcntl.h>
#include <unistd.h>
#include <vterm.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

namespace {

double seconds(const std::function<void()>& f) {
    auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

void setup() {
    std::string file = std::string(VORN_SOURCE_DIR) + "/data/termcap.qal";
    setenv("TERMCAP", file.c_str(), 1);
    setenv("TERM", "xterm", 1);
    qflag = 1;
    displayreset();
    if (tinit("xterm") != 0) std::exit(1);
    _vinit();
    vscreenreset();
    Lines = 24;
    Cols = 80;
    vlines = 24;
    vcols = 80;
    vemode = EM_VT100;
    eminit(80);
}

struct Work {
    const char* name;
    long cells; // cells handled by one run
    std::function<void()> run;
};

} // namespace

int main() {
    setup();
    int devnull = open("/dev/null", O_WRONLY);
    const int reps = 200;
    Work work[] = {
        {"character output", 24L * 80 * 4,
         [] {
             for (int i = 0; i < 24 * 80 * 4; i++)
                 vputch('!' + i % 90);
         }},
        {"scroll (line feed at the bottom)", 24L * 80,
         [] {
             cpos(23, 0);
             for (int i = 0; i < 24; i++)
                 newline();
         }},
        {"clear to end of line", 24L * 80,
         [] {
             for (int r = 0; r < 24; r++)
                 vclreol(r, 0);
         }},
        {"region scroll", 20L * 80,
         [] {
             for (int i = 0; i < 20; i++)
                 vsline(2, 21);
         }},
    };
    std::printf("%-34s %16s %16s %8s\n", "workload (24x80, cells)", "vorn cells/s",
                "libvterm cells/s", "ratio");
    for (Work& w : work) {
        // The bytes of one run, for the peer.
        std::string bytes;
        setconswriter([&bytes](const char* p, size_t n) { bytes.append(p, n); });
        w.run();
        oflush();
        // Ours, with the console on /dev/null, as a burst from the host: received data waits in
        // the line's queue, so output is written in full buffers.
        setconswriter([devnull](const char* p, size_t n) { (void)!write(devnull, p, n); });
        comq.size = 2;
        comq.wpos = 1;
        comq.rpos = 0;
        double ours = seconds([&] {
            for (int i = 0; i < reps; i++)
                w.run();
            oflush();
        });
        comq.wpos = 0;
        setconswriter(nullptr);
        VTerm* vt = vterm_new(24, 80);
        VTermScreen* vs = vterm_obtain_screen(vt);
        vterm_screen_reset(vs, 1);
        double peer = seconds([&] {
            for (int i = 0; i < reps; i++)
                vterm_input_write(vt, bytes.data(), bytes.size());
        });
        vterm_free(vt);
        double a = w.cells * reps / ours, b = w.cells * reps / peer;
        std::printf("%-34s %16.0f %16.0f %8.2f\n", w.name, a, b, a / b);
    }
    close(devnull);
    return 0;
}
