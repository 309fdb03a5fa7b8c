// Screen operations driven by hostile numbers: sizes, rows, columns, counts and modes from the
// fuzzer. Nothing may touch memory outside the screen block (the sanitizers watch).
#include "core/start.h"
#include "emulators/emulate.h"
#include "ports/com.h"
#include "screen/display.h"
#include "screen/termcap.h"
#include "screen/vscreen.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = false;
    if (!ready) {
        std::string file = std::string(VORN_SOURCE_DIR) + "/data/termcap.qal";
        setenv("TERMCAP", file.c_str(), 1);
        setenv("TERM", "ansi", 1);
        qflag = 1;
        ready = true;
    }
    size_t i = 0;
    auto next = [&]() -> int { return i < size ? data[i++] : 0; };
    auto snum = [&]() -> int { return static_cast<int8_t>(next()) * (next() % 4 + 1); };
    displayreset();
    setconswriter([](const char*, size_t) {});
    const char* terms[] = {"xterm", "ansi", "vorn-noaldl", "vorn-noce"};
    if (tinit(terms[next() % 4]) != 0) return 0;
    vscreenreset();
    Lines = next() % 70;
    Cols = next() % 140;
    vlines = next() % 70;
    vcols = next() % 140;
    vstatus = next() % 2;
    vemode = 1 << (next() % 16);
    vsetsize(Lines, Cols, 1);
    eminit(Cols);
    // Output as in a burst from the host: coalesced into full buffers.
    comq.size = 2;
    comq.wpos = 1;
    comq.rpos = 0;
    for (int ops = 0; i < size && ops < 300; ops++) {
        int op = next() % 32;
        int a = snum(), b = snum(), c = snum();
        switch (op) {
        case 0:
            vputch(a & 0x4ff);
            break;
        case 1:
            cpos(a, b);
            break;
        case 2:
            vsetattr(a << 8);
            break;
        case 3:
            newline();
            break;
        case 4:
            dowrap(a & 1);
            break;
        case 5:
            vuscroll(a, b & 1);
            break;
        case 6:
            vdscroll(a);
            break;
        case 7:
            viline(a);
            break;
        case 8:
            vdline(a);
            break;
        case 9:
            vsline(a, b);
            break;
        case 10:
            vinsert(a, b);
            break;
        case 11:
            vdelete(a);
            break;
        case 12:
            vclreol(a, b);
            break;
        case 13:
            vclrbol(a, b);
            break;
        case 14:
            vclreos(a, b);
            break;
        case 15:
            verasech(a, b, c);
            break;
        case 16:
            vclear();
            break;
        case 17:
            vsetlattr(a, b);
            break;
        case 18:
            _vredraw(a, b, c, a + b, c & 1);
            break;
        case 19:
            set132col(a & 1);
            break;
        case 20:
            scrleft();
            break;
        case 21:
            vsetsize(a, b, c & 1);
            break;
        case 22:
            vscregtop = a;
            vscregbot = b;
            vscregion = c & 1;
            vrelorg = (c >> 1) & 1;
            vorigin = a;
            break;
        case 23:
            AMon = a & 1, vinsmode = b & 1, erasemode = c & 1;
            break;
        case 24:
            vnoscroll = a & 1, protect = b & 1;
            break;
        case 25:
            vcolor(a << 8);
            break;
        case 26:
            vsetpallete(a << 12, b, c & 1);
            break;
        case 27:
            gttyout(a);
            break;
        case 28:
            pcscreen = a & 1, pcset = b & 1;
            break;
        case 29:
            vdestline = a, vdestcol = b;
            cgoto();
            break;
        case 30:
            if ((c & 15) == 0) testdisp(' ' + (a & 63));
            break;
        default:
            eminit(a);
            break;
        }
    }
    comq.wpos = 0;
    oflush();
    setconswriter(nullptr);
    vscreenreset();
    displayreset();
    return 0;
}
