// Feeds arbitrary bytes to ttyout under every emulation, switching emulations at random points
// (a 0xFF byte followed by a selector), handing some bytes over in blocks as terminal mode
// does (0xFE and a length), and working the scrollback and pages as the user and the host do
// (0xFD and a selector: review moves, search, huge sizes, page switches), on a 24- or 25-row
// xterm console whose output goes to nowhere. Bytes count as received from the host, so the
// user-defined key strings are taken. Besides the sanitizers, the cursor, the region, the
// interpreter's buffer, the programmed keys and the view must stay in bounds after every byte.
// The XTERM emulation (and, with the line in UTF-8, the others) takes the bytes as UTF-8:
// invalid sequences, overlong forms, surrogates and SGR colours with any parameters come
// through here too; a double-width character must never be left half.
#include "core/start.h"
#include "emulators/emulate.h"
#include "ports/com.h"
#include "screen/display.h"
#include "screen/keyboard.h"
#include "screen/scrollback.h"
#include "screen/termcap.h"
#include "screen/vscreen.h"
#include "tests/support/emusetup.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace {
// clang-format off
constexpr int modes[] = {EM_TTY,    EM_VT100,  EM_VT52,   EM_ANSI,   EM_VT2207, EM_VT2208,
                         EM_SCOANSI, EM_TV950, EM_WYSE50, EM_PCTERM, EM_IB3101, EM_ADM1,
                         EM_XTERM,   EM_XTERM};
// clang-format on
constexpr int nmodes = sizeof modes / sizeof modes[0];

void check() {
    if (vdestline < 0 || vdestline >= Lines || vdestcol < 0 || vdestcol >= vcols || vtptr < 0 ||
        vtptr >= VTBUFSIZ || vscregtop < 0 || vscregbot >= vlines || vscregtop > vscregbot ||
        vlines > Lines || sbcurline < 0 || sbcurline > sblinemax || sblinemax > SBMAXROWS ||
        vcurpage < 0 || vcurpage >= MAXPAGES)
        std::abort();
    for (const std::string& k : prgkeys)
        if (k.size() > PRGKEYMAX) std::abort();
    // Every double-width character has both halves.
    for (int r = 0; r < vlines; r++)
        for (int c = 0; c < vcols; c++) {
            bool left = (vscreen[r][c] & C_WIDE) != 0;
            bool right = c + 1 < vcolmax && (vscreen[r][c + 1] & C_WIDER) != 0;
            if (left != right || (c == 0 && (vscreen[r][0] & C_WIDER))) std::abort();
        }
}

// The user's and the host's work on the scrollback and the pages.
void sbaction(int sel) {
    switch (sel & 7) {
    case 0:
        sbprev(sel >> 3);
        break;
    case 1:
        sbnext(sel >> 3);
        break;
    case 2:
        sbdisplay(0);
        break;
    case 3: // sizes up to far beyond what is kept
        setscrollback((sel & 0x80) ? ((sel & 0x7f) << 24) + 1 : (sel >> 3));
        break;
    case 4:
        setpages(sel >> 4);
        break;
    case 5:
        selpage(sel >> 4);
        break;
    case 6:
        sbsearch(sel & 8 ? "1" : "E");
        break;
    default:
        sbdisplay(sel >> 3);
        break;
    }
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    emconsole("xterm", [](const char*, size_t) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    sbreset();
    emselect(modes[(data[0] >> 1) % nmodes], data[0] & 1 ? 25 : 24, [](const char*, int) {});
    vtfkeyl = 0;
    vfromhost = 1;
    linecs = (data[0] >> 5) & 1;
    consutf8 = (data[0] >> 6) & 1;
    for (size_t i = 1; i < size; i++) {
        if (data[i] == 0xff && i + 1 < size) {
            int sel = data[++i];
            emulate(modes[sel % nmodes], sel & 0x80);
            continue;
        }
        if (data[i] == 0xfd && i + 1 < size) {
            sbaction(data[++i]);
            check();
            continue;
        }
        if (data[i] == 0xfe && i + 1 < size) { // the next n bytes as one block from the line
            size_t n = std::min<size_t>(data[i + 1], size - i - 2);
            ttyouts(data + i + 2, static_cast<int>(n));
            check();
            i += 1 + n;
            continue;
        }
        ttyout(data[i]);
        check();
    }
    vfromhost = 0;
    sbreset();
    oflush();
    return 0;
}
