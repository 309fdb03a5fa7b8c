// The DEC and ANSI family interpreter: VT100, VT102, VT52, ANSI, SCO-ANSI and VT220 in 7- and
// 8-bit form. One byte per call; the escape-sequence state lives in `state` and `vtbuf`
// between calls, so a sequence split over received blocks completes on the next byte.
//
// Every count taken from the host is clamped to the screen before it drives a loop, and every
// numeric parameter saturates at VTPARMAX, so no sequence can run long or index outside a row.
#include "core/os.h"
#include "core/start.h"
#include "emulators/emulate.h"
#include "ports/settings.h"
#include "screen/display.h"
#include "screen/keyboard.h"
#include "screen/scrollback.h"
#include "screen/textrun.h"
#include "script/window.h"
#include "transfer/capture.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

constexpr int VTPARMAX = 9999; // parameters saturate here

int mode() {
    return vemode & ~1;
}
bool isvt220() {
    return (mode() & EM_VT220) != 0;
}
bool issco() {
    return mode() == EM_SCOANSI;
}
bool isansi() {
    return mode() == EM_ANSI;
}

// Puts the cursor at an absolute position (no origin offset) and tells the console.
void moveto(int row, int col) {
    if (row < 0) row = 0;
    if (row > vlines - 1) row = vlines - 1;
    if (col < 0) col = 0;
    vdestline = row;
    int w = fvcols();
    if (col > w - 1) col = w - 1;
    vdestcol = col;
    cgoto();
}

// The n-th decimal parameter (0-based) after any leading private marker; missing or empty
// gives 0. Digits beyond VTPARMAX saturate.
int vtparam(int n) {
    const char* p = vtbuf;
    while (*p >= '<' && *p <= '?')
        p++;
    for (int i = 0; i < n; i++) {
        while (*p && *p != ';')
            p++;
        if (!*p) return 0;
        p++;
    }
    int v = 0;
    while (*p >= '0' && *p <= '9') {
        v = v * 10 + (*p++ - '0');
        if (v > VTPARMAX) v = VTPARMAX;
    }
    return v;
}

int nparams() {
    int n = 1;
    for (const char* p = vtbuf; *p; p++)
        if (*p == ';') n++;
    return n;
}

// Count parameter: missing or 0 means 1.
int vtcount() {
    int n = vtparam(0);
    return n < 1 ? 1 : n;
}

bool hasbyte(char c) {
    return std::strchr(vtbuf, c) != nullptr;
}

// Rows the cursor may move between: the scrolling region when the cursor is inside it.
int toprow() {
    return vscregion && vdestline >= vscregtop ? vscregtop : 0;
}
int botrow() {
    return vscregion && vdestline <= vscregbot ? vscregbot : vlines - 1;
}

// ---- character output --------------------------------------------------------------------

// A printable byte through the character sets into the cell at the cursor; the screen applies
// insert mode, the pending wrap and the bottom-right rule.
void emputc(int c) {
    vputch(grconvert(c, 0));
}

// The console hook for a reversed screen: this console has nothing to switch.
void revbwmap() {}

// ---- renditions ----------------------------------------------------------------------------

int normcolor() {
    int c = colormap[0];
    if (c == -1) c = bwmap[0];
    return (c >> 8) & 0xff;
}

void reloadcolors() {
    std::memcpy(colormap, pcscreen ? bwmap : usermap, sizeof colormap);
    vcolor(bwmap[0]);
}

void sgrreset() {
    if (isansi()) reloadcolors();
    vsetattr(0);
}

void setbit(int bit, bool on) {
    vsetattr(on ? (vcurattr | bit) : (vcurattr & ~bit));
}

// SGR colour numbers 30..37, 39, 40..47, 49.
void sgrcolor(int n, bool permanent) {
    if ((n >= 30 && n <= 37) || n == 39)
        isofg(n == 39 ? 7 : n - 30, permanent);
    else if ((n >= 40 && n <= 47) || n == 49)
        isobg(n == 49 ? 0 : n - 40, permanent);
}

// Select graphic rendition, VT100, VT220 and ANSI.
void sgr() {
    if (vtbuf[0] == '<' || vtbuf[0] == '=' || vtbuf[0] == '>') {
        int n = vtparam(0);
        if (n == 38 || n == 48) return;
        if (vtbuf[0] == '<' && ((n >= 30 && n <= 37) || n == 39)) sgrcolor(n, true);
        if (vtbuf[0] != '<' && ((n >= 40 && n <= 47) || n == 49)) sgrcolor(n, true);
        return;
    }
    if (vtbuf[0] == '\0' || vtbuf[0] == ';') sgrreset();
    const bool colour4 = isansi() || isvt220();
    const char* p = vtbuf;
    while (*p) {
        if (*p < '0' || *p > '9') {
            p++;
            continue;
        }
        // The single-digit renditions act byte by byte; everything else is read whole.
        char d = *p;
        char next = p[1];
        bool digitnext = next >= '0' && next <= '9';
        if (d == '0') {
            sgrreset();
            p++;
            continue;
        }
        if (d == '1') {
            setbit(0x1000, true);
            p++;
            continue;
        }
        if (d == '4' && !(colour4 && digitnext)) {
            setbit(0x2000, true);
            p++;
            continue;
        }
        if (d == '5') {
            setbit(0x4000, true);
            p++;
            continue;
        }
        if (d == '7') {
            setbit(0x8000, true);
            p++;
            continue;
        }
        int n = 0;
        while (*p >= '0' && *p <= '9') {
            n = n * 10 + (*p++ - '0');
            if (n > VTPARMAX) n = VTPARMAX;
        }
        switch (n) {
        case 22:
            setbit(0x1000, false);
            break;
        case 24:
            setbit(0x2000, false);
            break;
        case 25:
            setbit(0x4000, false);
            break;
        case 27:
            setbit(0x8000, false);
            break;
        default:
            sgrcolor(n, false);
            break;
        }
    }
}

// Palette entries (rendition top bits) of the normal, bold, blink and reverse renditions.
constexpr int PAL_NORMAL = 0x0000, PAL_BOLD = 0x1000, PAL_BLINK = 0x4000, PAL_REVERSE = 0x8000;

// Select graphic rendition, SCO-ANSI: the first parameter is the command, the rest its
// arguments.
void scosgr() {
    int n = vtparam(0);
    int a1 = vtparam(1) & 15, a2 = vtparam(2) & 15;
    int args = nparams();
    switch (n) {
    case 0:
        vsetattr(0);
        reloadcolors();
        break;
    case 1:
        setbit(0x1000, true);
        break;
    case 2:
        if (args < 3) break;
        vsetpallete(PAL_NORMAL, (a2 << 4) | a1, 0);
        vsetpallete(PAL_REVERSE, (a1 << 4) | a2, 0);
        vsetpallete(PAL_BOLD, (a2 << 4) | a1 | 8, 0);
        break;
    case 3:
        vblink(a1 ? 1 : 0);
        break;
    case 4:
        setbit(0x2000, true);
        break;
    case 5:
        setbit(0x4000, true);
        vblink(1);
        break;
    case 7: {
        if (args == 1) {
            setbit(0x8000, true);
            break;
        }
        int c = (colormap[8] == -1 ? bwmap[8] : colormap[8]) >> 8 & 0xff;
        int rv = (c & 0xf0) | a1;
        if (args >= 3) rv = (a2 << 4) | a1;
        vsetpallete(PAL_REVERSE, rv, 0);
        break;
    }
    case 10:
        vcharset = 0;
        break;
    case 11:
        vcharset = 6;
        break;
    case 12:
        vcharset = 7;
        break;
    default:
        sgrcolor(n, false);
        break;
    }
}

} // namespace

// ---- parameters ---------------------------------------------------------------------------

int vtgetp1() {
    return vtparam(0);
}
int vtgetp2() {
    return vtparam(1);
}
int vtgetp3() {
    return vtparam(2);
}
int vtqgetp1() {
    return vtparam(0);
}

// ---- colours ------------------------------------------------------------------------------

void isofg(int n, int permanent) {
    int c = normcolor();
    int k = ISOmap[n & 7];
    vsetpallete(PAL_NORMAL, (c & 0xf8) | k, permanent);
    vsetpallete(PAL_BOLD, (c & 0xf0) | k | 8, permanent);
    vsetpallete(PAL_BLINK, (c & 0xf8) | k | 0x80, permanent);
    vsetpallete(PAL_REVERSE, (k << 4) | (c & 0x88) | ((c >> 4) & 7), permanent);
}

void isobg(int n, int permanent) {
    int c = normcolor();
    int k = ISOmap[n & 7];
    int normal = (k << 4) | (c & 0x8f);
    vsetpallete(PAL_NORMAL, normal, permanent);
    vsetpallete(PAL_BOLD, normal | 8, permanent);
    vsetpallete(PAL_BLINK, normal | 0x80, permanent);
    vsetpallete(PAL_REVERSE, k | (c & 8) | ((c & 0x0f) << 4), permanent);
}

void ansicolor(int n) {
    sgrcolor(n, false);
}

// ---- cursor save and restore ----------------------------------------------------------------

namespace {
CsSave vtsavcs; // the character sets ESC 7 saved
} // namespace

void savestat() {
    vtsavx = vdestcol;
    vtsavy = vdestline;
    vtsavattr = vcurattr;
    vtsavset = vcharset;
    cssave(vtsavcs);
}

void restorestat() {
    csrestore(vtsavcs);
    vsetattr(vtsavattr);
    moveto(vtsavy, vtsavx);
}

void vtsavreset() {
    vtsavx = vtsavy = vtsavattr = 0;
    vtsavset = vcharset;
    cssave(vtsavcs);
}

// ---- erase, insert and delete ---------------------------------------------------------------

void erasedisplay(int selective) {
    const int row = vdestline, col = vdestcol, how = vtparam(0);
    if (selective) erasemode = 1;
    switch (how) {
    case 0:
        vclreos(row, col);
        break;
    case 1:
        for (int r = 0; r < row; r++)
            vclreol(r, 0);
        vclrbol(row, col < fvcols() ? col : fvcols() - 1);
        break;
    case 2:
        if ((vrelorg && vscregion) || selective) {
            int top = vrelorg && vscregion ? vscregtop : 0;
            int bot = vrelorg && vscregion ? vscregbot : vlines - 1;
            for (int r = top; r <= bot; r++)
                vclreol(r, 0);
        } else {
            vclear();
        }
        break;
    default:
        break;
    }
    if (selective) erasemode = 0;
    if (how == 2 && (isansi() || issco()))
        moveto(0, 0);
    else if (vdestline != row || vdestcol != col)
        moveto(row, col);
}

void eraseline(int selective) {
    int row = vdestline, col = vdestcol;
    if (selective) erasemode = 1;
    int w = fvcols();
    switch (vtparam(0)) {
    case 0:
        if (col < w) vclreol(row, col);
        break;
    case 1:
        vclrbol(row, col < w ? col : w - 1);
        break;
    case 2:
        vclreol(row, 0);
        break;
    default:
        break;
    }
    if (selective) erasemode = 0;
    if (vdestline != row || vdestcol != col) moveto(row, col);
}

void insline(int n) {
    int row = vdestline, col = vdestcol;
    if (vscregion) {
        if (row < vscregtop || row > vscregbot) return;
        int room = vscregbot - row + 1;
        if (n > room) n = room;
        for (int i = 0; i < n; i++)
            vsline(vscregbot, row);
        moveto(row, col);
        return;
    }
    int room = vlines - row;
    if (n > room) n = room;
    for (int i = 0; i < n; i++)
        viline(row - vorigin);
    moveto(row, 0);
}

void delline(int n) {
    int row = vdestline, col = vdestcol;
    if (vscregion) {
        if (row < vscregtop || row > vscregbot) return;
        int room = vscregbot - row + 1;
        if (n > room) n = room;
        for (int i = 0; i < n; i++)
            vsline(row, vscregbot);
        moveto(row, col);
        return;
    }
    int room = vlines - row;
    if (n > room) n = room;
    for (int i = 0; i < n; i++)
        vdline(row - vorigin);
    moveto(row, 0);
}

// ---- index, tabs and shifts -------------------------------------------------------------------

void vt_ri() {
    int top = vscregion ? vscregtop : 0;
    if (vdestline > top) {
        moveto(vdestline - 1, vdestcol);
        return;
    }
    if (vdestline < top) {
        if (vdestline > 0) moveto(vdestline - 1, vdestcol);
        return;
    }
    int col = vdestcol;
    int bot = vscregion ? vscregbot : vlines - 1;
    vsline(bot, top);
    moveto(top, col);
}

void vt_hts() {
    if (vdestcol >= 0 && vdestcol < 132) tabs[vdestcol] = 1;
}

namespace {

void vt_ind() {
    newline();
}

void vt_nel() {
    vdestcol = 0;
    newline();
}

void horiztab() {
    int w = fvcols();
    int m = mode();
    if (m == EM_VT52 || m == EM_ANSI) {
        // Spaces in the current rendition up to the next multiple of eight.
        for (int i = 0; i < 8; i++) {
            int before = vdestcol, line = vdestline;
            vputch(' ');
            if (vdestcol % 8 == 0 || (vdestcol == before && vdestline == line) || XNwrap) break;
        }
        return;
    }
    int col = vdestcol + 1;
    while (col < w - 1 && col < 132 && !tabs[col])
        col++;
    if (col > w - 1) col = w - 1;
    if (m == EM_SCOANSI && col == w - 1 && (col >= 132 || !tabs[col])) {
        dowrap(0);
        return;
    }
    moveto(vdestline, col);
}

void backtab(int n) {
    int col = vdestcol;
    for (int i = 0; i < n && col > 0; i++) {
        col--;
        while (col > 0 && (col >= MAXCOLS || !tabs[col]))
            col--;
    }
    moveto(vdestline, col);
}

void scrollregion(bool up) {
    int row = vdestline, col = vdestcol;
    int top = vscregion ? vscregtop : 0;
    int bot = vscregion ? vscregbot : vlines - 1;
    if (up)
        vsline(top, bot);
    else
        vsline(bot, top);
    moveto(row, col);
}

// ---- the SCO-ANSI key programming string (ESC Q k d text d) ---------------------------------
int prgkey = 0;
int prgdelim = 0;
char prgbuf[PRGKEYMAX + 1];
int prglen = 0;

void scokey(int c) {
    switch (state) {
    case 20:
        prgkey = c - '0';
        if (prgkey < 0 || prgkey >= NPRGKEYS) {
            state = 0;
            return;
        }
        state = 21;
        return;
    case 21:
        prgdelim = c;
        prglen = 0;
        state = 22;
        return;
    case 22:
        if (c == prgdelim) {
            prgbuf[prglen] = '\0';
            setprgkey(prgkey, prgbuf);
            state = 0;
            return;
        }
        if (c == '^') {
            state = 23;
            return;
        }
        break;
    case 23:
        state = 22;
        c -= 32;
        if (c <= 0) return;
        break;
    default:
        state = 0;
        return;
    }
    if (prglen < PRGKEYMAX) prgbuf[prglen++] = static_cast<char>(c);
}

// ---- C0 and C1 controls ------------------------------------------------------------------------

void cancel() {
    state = 0;
    vtptr = 0;
    vtbuf[0] = '\0';
}

// One more parameter or intermediate byte of a sequence; the rest of an overlong one is lost.
void collect(int c) {
    if (vtptr < VTBUFSIZ - 1) {
        vtbuf[vtptr++] = static_cast<char>(c);
        vtbuf[vtptr] = '\0';
    }
}

// A byte of an escape or control sequence from `lowest` up is its final: the sequence ends
// (true, the caller acts on vtcmd); bytes below are intermediates or parameters, collected.
bool takefinal(int c, int lowest) {
    if (c < lowest) {
        collect(c);
        return false;
    }
    if (c > 0x7e) return false;
    vtcmd = c;
    ostate = state;
    state = 0;
    return true;
}

void startseq(int next) {
    state = next;
    vtptr = 0;
    vtbuf[0] = '\0';
}

// Strings that are not shown: operating-system commands (window titles, hyperlinks), privacy
// messages, application program commands. They end with BEL, ST (ESC \, or 0x9C in VT200 8-bit
// mode), CAN or SUB; any other ESC ends them and starts a sequence.
void ignstring(int c) {
    if (vtstrign == 2) {
        vtstrign = 0;
        startseq(1);
        emvt100(c);
        return;
    }
    if (c == 7 || c == 24 || c == 26 || (c == 0x9c && vt200mode == 2))
        vtstrign = 0;
    else if (c == 27)
        vtstrign = 2;
}

void c0control(int c) {
    switch (c) {
    case 7: // BEL
        bell();
        break;
    case 8: // BS
        XNwrap = 0;
        if (vdestcol > 0) moveto(vdestline, vdestcol - 1);
        break;
    case 9: // HT
        horiztab();
        break;
    case 10: // LF
    case 11: // VT
    case 12: // FF
        if (c == 12 && issco()) {
            if (vscregion) {
                for (int r = vscregtop; r <= vscregbot; r++)
                    vclreol(r, 0);
                moveto(vscregtop, 0);
            } else {
                vclear();
            }
            break;
        }
        if (vnlmode) vdestcol = 0;
        newline();
        break;
    case 13: // CR
        moveto(vdestline, 0);
        break;
    case 14: // SO
        if (isvt220())
            vtlshift(1);
        else if (!issco())
            setcset(1);
        break;
    case 15: // SI
        if (isvt220())
            vtlshift(0);
        else
            setcset(0);
        break;
    case 24: // CAN
        cancel();
        vtdcson = 0;
        break;
    case 26: // SUB
        cancel();
        vtdcson = 0;
        vputch(A_GLYPH | (pcset ? 0xb1 : 2)); // the error glyph: a checkerboard
        break;
    case 27: // ESC
        if (issco() && state != 0)
            cancel();
        else
            startseq(1);
        break;
    default:
        break;
    }
}

// The byte after ESC: an intermediate that picks the next state, or the final of an ESC
// sequence (vtescape).
void escbyte(int c) {
    if (mode() == EM_VT52) {
        state = 0;
        vt52escape(c);
        return;
    }
    switch (c) {
    case ' ':
        state = 8;
        return;
    case '#':
        state = 7;
        return;
    case '(':
        state = 3;
        return;
    case ')':
        state = 4;
        return;
    case '*':
        state = 5;
        return;
    case '+':
        state = 6;
        return;
    case '[':
        startseq(2);
        return;
    default:
        break;
    }
    if (takefinal(c, 0x30)) vtescape();
}

// A C1 control in VT200 8-bit mode is its 7-bit form, ESC and the byte less 0x40, and takes the
// same path; it ends any sequence in progress. The other C1 bytes mean nothing here and leave a
// sequence alone.
void c1control(int c) {
    switch (c) {
    case 0x84: // IND
    case 0x85: // NEL
    case 0x88: // HTS
    case 0x8d: // RI
    case 0x8e: // SS2
    case 0x8f: // SS3
    case 0x90: // DCS
    case 0x98: // SOS
    case 0x9b: // CSI
    case 0x9d: // OSC
    case 0x9e: // PM
    case 0x9f: // APC
        startseq(1);
        escbyte(c - 0x40);
        break;
    default:
        break;
    }
}

// ESC # final: line attributes and the alignment test.
void lineattr(int c) {
    switch (c) {
    case '3':
        vsetlattr(vdestline, 2);
        break;
    case '4':
        vsetlattr(vdestline, 3);
        break;
    case '5':
        vsetlattr(vdestline, 0);
        break;
    case '6':
        vsetlattr(vdestline, 1);
        break;
    case '8':
        testdisp('E');
        break;
    default:
        break;
    }
}

void dispatchcsi() {
    if (vtbuf[0] == '?')
        vtqcontrol();
    else if (vtbuf[0] == '=' && issco())
        vtecontrol();
    else
        vtcontrol();
}

} // namespace

// ---- the interpreter ---------------------------------------------------------------------------

namespace {
// No string swallowed and no printer taking the bytes: the state machine alone decides.
bool plainstate() {
    return !vtdcson && !vtstrign && !(prstat & (2 | 4));
}
// True when emvt100 would put a printable ASCII byte straight on the screen as it is.
bool plainprint() {
    return state == 0 && plainstate() && grplain() && !disptab;
}
bool printable(unsigned char c) {
    return c >= 0x20 && c <= 0x7e;
}
bool csiparam(unsigned char c) { // parameter and intermediate bytes
    return c >= 0x20 && c < 0x40;
}
} // namespace

int emvt100s(const unsigned char* p, int n) {
    int m = vemode & ~1;
    int i = 0;
    // Cursor moves wait for what is drawn next; the console's cursor is in place when the run
    // is drawn.
    struct Defer {
        Defer() { vdefer++; }
        ~Defer() {
            if (--vdefer == 0) vsync();
        }
        Defer(const Defer&) = delete;
        Defer& operator=(const Defer&) = delete;
    } defer;
    const bool utf8 = m == EM_XTERM || (linecs && m != EM_SCOANSI);
    while (i < n && !wactive && vbegscr && (vemode & ~1) == m) {
        bool capt = castat == 2 && !nocapt;
        if (utf8 && (printable(p[i]) || p[i] >= 0xc2) && plainprint() && xtidle()) {
            int k = vpututf8(p + i, n - i, xtwidth);
            if (capt)
                for (int j = i; j < i + k; j++)
                    capture(p[j]);
            i += k;
            if (k > 0) continue;
        }
        if (printable(p[i]) && plainprint() && xtidle()) {
            int k = i + 1 + vprintrun(p + i + 1, n - i - 1);
            if (capt)
                for (int j = i; j < k; j++)
                    capture(p[j]);
            while (i < k)
                i += vputs(p + i, k - i);
            continue;
        }
        if (p[i] == 27 && i + 1 < n && p[i + 1] == '[' && state == 0 && plainstate() && xtidle() &&
            m != EM_VT52) { // CSI: straight to its parameters
            if (capt) capture(p[i]), capture(p[i + 1]);
            startseq(2);
            i += 2;
            continue;
        }
        if (csiparam(p[i]) && state == 2 && plainstate()) { // a control sequence's parameters
            int k = i + 1;
            while (k < n && csiparam(p[k]))
                k++;
            if (capt)
                for (int j = i; j < k; j++)
                    capture(p[j]);
            // As collect() byte by byte: what does not fit is lost.
            int fit = std::clamp(VTBUFSIZ - 1 - vtptr, 0, k - i);
            std::memcpy(vtbuf + vtptr, p + i, static_cast<size_t>(fit));
            vtptr += fit;
            vtbuf[vtptr] = '\0';
            i = k;
            // Its final byte, as the interpreter would take it.
            if (i < n && p[i] >= 0x40 && p[i] <= 0x7e && xtidle() && plainstate()) {
                if (capt) capture(p[i]);
                if (takefinal(p[i++], 0x40)) dispatchcsi();
            }
            continue;
        }
        if (capt) capture(p[i]);
        emvt100(p[i++]);
    }
    return i;
}

void emvt100(int c) {
    if (mode() == EM_XTERM || (linecs && mode() != EM_SCOANSI)) {
        emxterm(c);
        return;
    }
    emvt100b(c);
}

void emvt100b(int c) {
    if (vmaskpar) c &= 0x7f;
    c &= 0xff;
    if (vtdcson) {
        if (dcstring(c)) { // an ESC ended the string: the byte after it is the escape's
            startseq(1);
            emvt100(c);
        }
        return;
    }
    if (state >= 20 && state <= 23) {
        scokey(c);
        return;
    }
    if (vtstrign) {
        ignstring(c);
        return;
    }
    if ((prstat & (2 | 4)) && emprint(c)) return;
    if (state == 0 && (vcharset == 6 || vcharset == 7) && c != 27) {
        emputc(c);
        return;
    }
    if (c >= 0x80 && c <= 0x9f) {
        if (issco()) {
            if (c == 0x9b) {
                startseq(2);
                return;
            }
        } else if (vt200mode == 2 || mode() == EM_XTERM) {
            c1control(c);
            return;
        }
        if (state != 0) return;
        emputc(c);
        return;
    }
    if (c < 32) {
        c0control(c);
        return;
    }
    if (c == 127 && state != 10 && state != 11) return; // DEL, unless a VT52 address byte
    switch (state) {
    case 0:
        emputc(c);
        return;
    case 1:
        escbyte(c);
        return;
    case 2:
        if (takefinal(c, 0x40)) dispatchcsi();
        return;
    case 3:
    case 4:
    case 5:
    case 6:
        if (c > 0x7e) return;
        if (c < 0x30) { // an intermediate: the set's final is still to come
            collect(c);
            return;
        }
        vtcmd = c;
        ostate = state;
        state = vtpcontrol(c);
        if (state < 0 || state > 8) state = 0;
        return;
    case 7:
        vtcmd = c;
        ostate = state;
        state = 0;
        lineattr(c);
        return;
    case 10:
    case 11:
        vt52cursor(c);
        return;
    case 8:
        vtcmd = c;
        ostate = state;
        state = 0;
        if (c == 'F') vtc18out = 0;
        if (c == 'G') vtc18out = 1;
        return;
    default:
        state = 0;
        return;
    }
}

// ESC + final.
void vtescape() {
    if (vtptr != 0) return; // an intermediate byte this family does not know
    switch (vtcmd) {
    case '7': // DECSC
        savestat();
        break;
    case '8': // DECRC
        restorestat();
        break;
    case '=': // DECKPAM
        appkey = 1;
        break;
    case '>': // DECKPNM
        appkey = 0;
        break;
    case 'D': // IND
        vt_ind();
        break;
    case 'E': // NEL
        vt_nel();
        break;
    case 'H': // HTS
        vt_hts();
        break;
    case 'M': // RI
        vt_ri();
        break;
    case 'N': // SS2
        vt_ss2();
        break;
    case 'O': // SS3
        vt_ss3();
        break;
    case 'P': // DCS
        dcsreset();
        vtdcson = 1;
        vdcstate = 0;
        break;
    case ']': // OSC
    case '^': // PM
    case '_': // APC
    case 'X': // SOS
        vtstrign = 1;
        break;
    case 'Q': // SCO-ANSI function key programming
        if (issco()) state = 20;
        break;
    case 'R':
        delline(1);
        break;
    case 'Z': // DECID
        vt_ident(0);
        break;
    case 'c': // RIS
        vt_reset();
        break;
    case 'n': // LS2
        if (isvt220()) vtlshift(2);
        break;
    case 'o': // LS3
        if (isvt220()) vtlshift(3);
        break;
    case '|': // LS3R
        if (isvt220()) vtrshift(3);
        break;
    case '}': // LS2R
        if (isvt220()) vtrshift(2);
        break;
    case '~': // LS1R
        if (isvt220()) vtrshift(1);
        break;
    default:
        break;
    }
}

// CSI + final.
void vtcontrol() {
    if (mode() == EM_XTERM && xtcontrol()) return;
    const int w = fvcols();
    const char lead = vtbuf[0];
    switch (vtcmd) {
    case '@': { // ICH - insert blanks
        int n = vtcount();
        if (n > w - vdestcol) n = w - vdestcol;
        int row = vdestline, col = vdestcol;
        XNwrap = 0;
        for (int i = 0; i < n; i++)
            vinsert(' ', 0);
        if (vdestline != row || vdestcol != col) moveto(row, col);
        break;
    }
    case 'A': // CUU
        moveto(std::max(vdestline - vtcount(), toprow()), vdestcol);
        break;
    case 'B': // CUD
        moveto(std::min(vdestline + vtcount(), botrow()), vdestcol);
        break;
    case 'C': // CUF
        moveto(vdestline, std::min(vdestcol + vtcount(), w - 1));
        break;
    case 'D': // CUB
        moveto(vdestline, std::max(vdestcol - vtcount(), 0));
        break;
    case 'E': // CNL
        moveto(std::min(vdestline + vtcount(), botrow()), 0);
        break;
    case 'F': // CPL
        moveto(std::max(vdestline - vtcount(), toprow()), 0);
        break;
    case 'H': // CUP
    case 'f': // HVP
        cpos(vtcount() - 1, (vtparam(1) < 1 ? 1 : vtparam(1)) - 1);
        break;
    case 'J': // ED
        erasedisplay(0);
        break;
    case 'K': // EL
        eraseline(0);
        break;
    case 'L': // IL
        insline(vtcount());
        break;
    case 'M': // DL
        delline(vtcount());
        break;
    case 'P': { // DCH
        int n = vtcount();
        if (n > w - vdestcol) n = w - vdestcol;
        int row = vdestline, col = vdestcol;
        XNwrap = 0;
        vdelete(n);
        if (vdestline != row || vdestcol != col) moveto(row, col);
        break;
    }
    case 'S': // SU
        scrollregion(true);
        break;
    case 'T': // SD
        scrollregion(false);
        break;
    case 'X': { // ECH
        int n = vtcount();
        if (n > w - vdestcol) n = w - vdestcol;
        int row = vdestline, col = vdestcol;
        verasech(row, col, n);
        if (vdestline != row || vdestcol != col) moveto(row, col);
        break;
    }
    case 'Z': // CBT
        backtab(vtcount());
        break;
    case '`': { // HPA
        int c = nparams() > 1 ? vtparam(1) : vtparam(0);
        moveto(vdestline, (c < 1 ? 1 : c) - 1);
        break;
    }
    case 'a': // HPR
        moveto(vdestline, std::min(vdestcol + vtcount(), w - 1));
        break;
    case 'c': // DA
        if (vtparam(0) == 0) vt_ident(lead == '>');
        break;
    case 'd': { // VPA
        int r = vtcount() - 1;
        moveto(r > vlines - 1 ? vlines - 1 : r, vdestcol);
        break;
    }
    case 'e': // VPR
        moveto(std::min(vdestline + vtcount(), vlines - 1), vdestcol);
        break;
    case 'g':
        if (issco()) { // display a PC glyph
            int g = vtparam(0);
            if (g >= 0 && g <= 255) {
                int keep = vcharset;
                vcharset = 6;
                emputc(g);
                vcharset = keep;
            }
            break;
        }
        if (vtparam(0) == 0) { // TBC
            if (vdestcol < 132) tabs[vdestcol] = 0;
        } else if (vtparam(0) == 3) {
            for (auto& t : tabs)
                t = 0;
        }
        break;
    case 'h': // SM
    case 'l': // RM
        for (int i = 0, n = nparams(); i < n && i < 16; i++) {
            bool set = vtcmd == 'h';
            switch (vtparam(i)) {
            case 2: // KAM
                kdisable = set;
                break;
            case 4: // IRM
                vinsmode = set;
                break;
            case 12: // SRM
                dupmode = set ? 1 : 2;
                break;
            case 20: // LNM
                vnlmode = set;
                break;
            default:
                break;
            }
        }
        break;
    case 'i': // MC
        switch (vtparam(0)) {
        case 0:
            prscreen();
            break;
        case 5:
            setprint(4);
            break;
        case 2:
            if (issco()) {
                char line[134];
                for (int r = 0; r < vlines; r++) {
                    int n = 0;
                    for (int c = 0; c < vcols && c < 132; c++)
                        line[n++] = static_cast<char>(vscreen[r][c] & 0xff);
                    line[n++] = '\n';
                    replyraw(line, n);
                }
            }
            break;
        default:
            break;
        }
        break;
    case 'm': // SGR
        if (issco())
            scosgr();
        else
            sgr();
        break;
    case 'n': // DSR
        if (vtparam(0) == 5) {
            sndcsi("0n");
        } else if (vtparam(0) == 6) {
            char buf[32];
            std::snprintf(buf, sizeof buf, "%d;%dR", vdestline - vorigin + 1, vdestcol + 1);
            sndcsi(buf);
        }
        break;
    case 'p':
        if (lead == '!') { // DECSTR
            vt_softreset();
        } else if (hasbyte('"') && isvt220()) { // DECSCL
            int level = vtparam(0);
            if (level == 61) {
                vt200mode = 0;
                vmaskpar = 1;
                vtc18out = 0;
                nrcsmode = 1;
            } else if (level == 62 && vtparam(1) <= 2) {
                vtc18out = vtparam(1) != 1;
                if (mode() == EM_VT2208) {
                    vt200mode = 2;
                    vmaskpar = 0;
                    nrcsmode = 0;
                } else {
                    vt200mode = 1;
                    vmaskpar = 1;
                    nrcsmode = 1;
                }
            }
        }
        break;
    case 'q':
        if (hasbyte('"')) { // DECSCA
            int p = vtparam(0);
            if (p == 1)
                vsetattr(vcurattr | 0x0100);
            else if (p == 0 || p == 2)
                vsetattr(vcurattr & ~0x0100);
        }
        break;
    case 'r': { // DECSTBM
        if (issco()) break;
        int top = vtparam(0) < 1 ? 1 : vtparam(0);
        int bot = vtparam(1) == 0 ? vlines : vtparam(1);
        if (top < bot && bot <= vlines) {
            if (top == 1 && bot == vlines) {
                vscregion = 0;
                vscregtop = 0;
                vscregbot = vlines - 1;
                vorigin = 0;
                moveto(0, 0);
            } else {
                vscregion = 1;
                vscregtop = top - 1;
                vscregbot = bot - 1;
                vorigin = vrelorg ? vscregtop : 0;
                moveto(vscregtop, 0);
            }
        } else {
            vscregion = 0;
            vscregtop = 0;
            vscregbot = vlines - 1;
            vorigin = 0;
        }
        break;
    }
    case 's': // SCOSC
        savestat();
        break;
    case 'u': // SCORC
        restorestat();
        break;
    case 'z':
        selpage(vtcount() - 1);
        break;
    case '}':
        if (hasbyte('$')) statline(vtparam(0) == 0 ? 2 : 1, 0);
        break;
    case '~':
        if (hasbyte('$') && vtparam(0) <= 1) statline(3, 0);
        break;
    default:
        break;
    }
}

// CSI ? ... final: private modes, selective erase, printing and reports.
void vtqcontrol() {
    if (mode() == EM_XTERM) xtqcontrol();
    switch (vtcmd) {
    case 'h':
    case 'l': {
        bool set = vtcmd == 'h';
        for (int i = 0, n = nparams(); i < n && i < 16; i++) {
            switch (vtparam(i)) {
            case 1: // DECCKM
                appcur = set;
                break;
            case 2: // DECANM: reset leaves for VT52
                if (!set) {
                    emode = EM_VT52;
                    vemode = EM_VT52 | (vemode & 1);
                    vt200mode = 0;
                    vtc18out = 0;
                }
                break;
            case 3: // DECCOLM
                set132col(set);
                break;
            case 5: // DECSCNM
                if (set != (revmap != 0)) revbwmap();
                revmap = set;
                break;
            case 6: // DECOM
                vrelorg = set;
                vorigin = set && vscregion ? vscregtop : 0;
                moveto(vorigin, 0);
                break;
            case 7: // DECAWM
                AMon = set;
                if (!set) XNwrap = 0;
                break;
            case 18: // DECPFF
                prformfd = set;
                break;
            case 19: // DECPEX
                prextent = set;
                break;
            case 25: // DECTCEM
                setcursor(set ? -1 : 0);
                break;
            case 42: // DECNRCM
                nrcsmode = set;
                break;
            default:
                break;
            }
        }
        break;
    }
    case 'J': // DECSED
        erasedisplay(1);
        break;
    case 'K': // DECSEL
        eraseline(1);
        break;
    case 'i':
        switch (vtqgetp1()) {
        case 1:
            prcurlin(vdestline);
            break;
        case 4:
            prauto = 0;
            break;
        case 5:
            prauto = 1;
            break;
        default:
            break;
        }
        break;
    case 'n':
        switch (vtqgetp1()) {
        case 15:
            sndcsi("?10n");
            break;
        case 25:
            sndcsi(vtfkeyl ? "?21n" : "?20n");
            break;
        case 26:
            sndcsi("?27;1n");
            break;
        default:
            break;
        }
        break;
    default:
        break;
    }
}

// CSI = n final (SCO-ANSI colours), n at most 15.
void vtecontrol() {
    int n = vtqgetp1();
    if (n > 15) return;
    auto entry = [](int idx) {
        int c = colormap[idx >> 12];
        if (c == -1) c = bwmap[idx >> 12];
        return (c >> 8) & 0xff;
    };
    switch (vtcmd) {
    case 'E':
        vblink(n ? 1 : 0);
        break;
    case 'F':
        vsetpallete(PAL_NORMAL, (entry(PAL_NORMAL) & 0xf0) | n, 0);
        break;
    case 'G':
        vsetpallete(PAL_NORMAL, (entry(PAL_NORMAL) & 0x0f) | (n << 4), 0);
        break;
    case 'H':
        vsetpallete(PAL_REVERSE, (entry(PAL_REVERSE) & 0xf0) | n, 0);
        break;
    case 'I':
        vsetpallete(PAL_REVERSE, (entry(PAL_REVERSE) & 0x0f) | (n << 4), 0);
        break;
    default:
        break;
    }
}
