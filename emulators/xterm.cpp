// The XTERM emulation: what today's hosts expect of a terminal ("xterm-256color"). It is the
// VT100 interpreter with a UTF-8 decoder in front of it and a few more controls.
//
// Every received byte goes through the decoder first. Bytes below 0x80 go on to the interpreter
// as they are; a decoded code point from U+0080 to U+009F is a C1 control; anything from U+00A0
// up is printed, one or two columns wide or joined to the previous character as a combining
// mark. Malformed input (a stray continuation byte, a lead byte cut short, overlong forms,
// surrogates, code points beyond U+10FFFF) shows as U+FFFD, and the byte that broke a sequence
// is read again on its own, so no byte can hide the ones after it.
//
// The controls added here: SGR with 256 and 24-bit colours and the console's own default
// colours; CHA, CHT, CBT, REP, SU and SD with counts; DECSCUSR; the alternate screen (1049, 47,
// 1047); bracketed paste (2004) and mouse reporting (1000, 1002, 1006), which are handed on to
// the console so that its pastes and clicks reach the host as the host asked. Operating-system
// commands (titles) are swallowed by the interpreter without being stored.
#include "emulators/emulate.h"
#include "ports/trans.h"
#include "screen/display.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

// UTF-8 decoder state.
int need = 0;    // continuation bytes still to come
int cpacc = 0;   // the code point so far
int cpmin = 0;   // the least code point the sequence's length may carry (overlong below)
int cpbytes = 0; // bytes taken so far

// Ranges of code points, sorted, as [first, last].
struct Range {
    int lo, hi;
};

// clang-format off
// Combining marks and other characters that take no column of their own.
constexpr Range zerowidth[] = {
    {0x0300, 0x036f}, {0x0483, 0x0489}, {0x0591, 0x05bd}, {0x05bf, 0x05bf}, {0x05c1, 0x05c2},
    {0x05c4, 0x05c5}, {0x05c7, 0x05c7}, {0x0610, 0x061a}, {0x064b, 0x065f}, {0x0670, 0x0670},
    {0x06d6, 0x06dc}, {0x06df, 0x06e4}, {0x06e7, 0x06e8}, {0x06ea, 0x06ed}, {0x0711, 0x0711},
    {0x0730, 0x074a}, {0x07a6, 0x07b0}, {0x0901, 0x0902}, {0x093c, 0x093c}, {0x0941, 0x0948},
    {0x094d, 0x094d}, {0x0951, 0x0954}, {0x0962, 0x0963}, {0x0e31, 0x0e31}, {0x0e34, 0x0e3a},
    {0x0e47, 0x0e4e}, {0x1ab0, 0x1aff}, {0x1dc0, 0x1dff}, {0x200b, 0x200f}, {0x202a, 0x202e},
    {0x2060, 0x2063}, {0x20d0, 0x20ff}, {0x302a, 0x302f}, {0x3099, 0x309a}, {0xfe00, 0xfe0f},
    {0xfe20, 0xfe2f}, {0xfeff, 0xfeff}, {0xe0100, 0xe01ef},
};
// East Asian wide and full-width characters, and the emoji blocks shown two columns wide.
constexpr Range wide[] = {
    {0x1100, 0x115f}, {0x2329, 0x232a}, {0x2e80, 0x303e}, {0x3040, 0xa4cf}, {0xac00, 0xd7a3},
    {0xf900, 0xfaff}, {0xfe10, 0xfe19}, {0xfe30, 0xfe6f}, {0xff00, 0xff60}, {0xffe0, 0xffe6},
    {0x1f300, 0x1f64f}, {0x1f900, 0x1f9ff}, {0x20000, 0x2fffd}, {0x30000, 0x3fffd},
};
// clang-format on

template <size_t N> bool inranges(const Range (&t)[N], int cp) {
    if (cp < t[0].lo || cp > t[N - 1].hi) return false;
    const Range* r = std::upper_bound(std::begin(t), std::end(t), cp,
                                      [](int v, const Range& x) { return v < x.lo; });
    return r != std::begin(t) && cp <= (r - 1)->hi;
}

// The width of every code point of the Basic Multilingual Plane, two bits each (the value plus
// one: 0 a control, 1 a combining mark, 2 one column, 3 two), for text in bulk.
struct BmpWidths {
    uint8_t bits[0x10000 / 4] = {};
    BmpWidths() {
        for (int cp = 0; cp < 0x10000; cp++) {
            int w;
            if (cp < 0x20 || (cp >= 0x7f && cp < 0xa0))
                w = -1;
            else if (inranges(zerowidth, cp))
                w = 0;
            else
                w = inranges(wide, cp) ? 2 : 1;
            bits[cp >> 2] |= static_cast<uint8_t>((w + 1) << ((cp & 3) * 2));
        }
    }
};
const BmpWidths bmpwidths;

// A decoded code point from U+00A0 up.
void xtprint(int cp) {
    if (state != 0 || vtdcson || vtstrign) return; // inside a sequence or a string
    int w = xtwidth(cp);
    if (w < 0) return;
    vputcp(cp, w);
}

void decoded(int cp) {
    if (cp < 0xa0)
        emvt100b(cp);
    else
        xtprint(cp);
}

void badseq() {
    need = 0;
    decoded(0xfffd);
}

// ---- SGR ----------------------------------------------------------------------------------

struct Sgr {
    int attr;
    int fg, bg;
};

// Parameters of an SGR: values with the separator that came before each (';' or ':').
int sgrparams(int* v, char* sep, int max) {
    int n = 0;
    const char* p = vtbuf;
    char before = ';';
    for (;;) {
        int x = -1;
        while (*p >= '0' && *p <= '9') {
            x = (x < 0 ? 0 : x) * 10 + (*p++ - '0');
            if (x > 99999) x = 99999;
        }
        if (n < max) {
            v[n] = x;
            sep[n] = before;
            n++;
        }
        if (*p != ';' && *p != ':') break;
        before = *p++;
    }
    return n;
}

// The colour after 38 or 48 at v[i]: its slot, and how many parameters it took.
int extcolor(const int* v, const char* sep, int n, int i, int& slot) {
    if (i >= n) return 0;
    auto at = [&](int k) { return k < n && v[k] >= 0 ? v[k] : 0; };
    if (v[i] == 5) {
        if (i + 1 >= n) return 1;
        int idx = at(i + 1);
        if (idx <= 255) slot = 1 + idx;
        return 2;
    }
    if (v[i] == 2) {
        // 38;2;r;g;b, or with colons 38:2:space:r:g:b (the colour space may be left empty).
        int k = i + 1;
        if (sep[i] == ':' && i + 4 < n && sep[i + 4] == ':') k++;
        if (k + 2 >= n) return n - i;
        int r = at(k), g = at(k + 1), b = at(k + 2);
        if (r <= 255 && g <= 255 && b <= 255) slot = vcolslot(r, g, b);
        return k + 3 - i;
    }
    return 1;
}

void xtsgr() {
    int v[32];
    char sep[32];
    int n = sgrparams(v, sep, 32);
    Sgr s{vcurattr, cellfg(vextattr), cellbg(vextattr)};
    for (int i = 0; i < n; i++) {
        int x = v[i] < 0 ? 0 : v[i];
        switch (x) {
        case 0:
            s = Sgr{0, COLDEFAULT, COLDEFAULT};
            break;
        case 1:
            s.attr |= A_BOLD;
            break;
        case 4:
            // 4:0 is "no underline" in the colon form.
            if (i + 1 < n && sep[i + 1] == ':') {
                if (v[i + 1] == 0)
                    s.attr &= ~A_UNDER;
                else
                    s.attr |= A_UNDER;
                i++;
            } else {
                s.attr |= A_UNDER;
            }
            break;
        case 5:
        case 6:
            s.attr |= A_BLINK;
            break;
        case 7:
            s.attr |= A_REVERSE;
            break;
        case 21:
            s.attr |= A_UNDER;
            break;
        case 22:
            s.attr &= ~A_BOLD;
            break;
        case 24:
            s.attr &= ~A_UNDER;
            break;
        case 25:
            s.attr &= ~A_BLINK;
            break;
        case 27:
            s.attr &= ~A_REVERSE;
            break;
        case 38:
        case 48: {
            int slot = -1;
            i += extcolor(v, sep, n, i + 1, slot);
            if (slot >= 0) (x == 38 ? s.fg : s.bg) = slot;
            break;
        }
        case 39:
            s.fg = COLDEFAULT;
            break;
        case 49:
            s.bg = COLDEFAULT;
            break;
        default:
            if (x >= 30 && x <= 37)
                s.fg = 1 + x - 30;
            else if (x >= 40 && x <= 47)
                s.bg = 1 + x - 40;
            else if (x >= 90 && x <= 97)
                s.fg = 1 + 8 + x - 90;
            else if (x >= 100 && x <= 107)
                s.bg = 1 + 8 + x - 100;
            break; // italic, faint, crossed out and the like: not shown
        }
    }
    vextattr = (static_cast<vcell>(s.fg) << FGSHIFT) | (static_cast<vcell>(s.bg) << BGSHIFT);
    vsetattr(s.attr);
}

// ---- cursor and rows -----------------------------------------------------------------------

int count1() {
    int n = vtgetp1();
    return std::clamp(n, 1, MAXCOLS * MAXROWS);
}

void tabforward(int n) {
    int w = fvcols();
    int c = vdestcol;
    for (int k = 0; k < n && c < w - 1; k++) {
        c++;
        while (c < w - 1 && !tabs[c])
            c++;
    }
    vdestcol = std::min(c, w - 1);
    cgoto();
}

void tabback(int n) {
    int c = vdestcol;
    for (int k = 0; k < n && c > 0; k++) {
        c--;
        while (c > 0 && !tabs[c])
            c--;
    }
    vdestcol = c;
    cgoto();
}

// SU / SD: the region (or the screen) scrolls n rows; the cursor stays.
void scrolln(int n, bool up) {
    int top = vscregion ? vscregtop : 0;
    int bot = vscregion ? vscregbot : vlines - 1;
    n = std::min(n, bot - top + 1);
    int row = vdestline, col = vdestcol;
    for (int k = 0; k < n; k++)
        vsline(up ? top : bot, up ? bot : top);
    vdestline = row;
    vdestcol = col;
    cgoto();
}

// REP: the character left of the cursor again, n times (at most a screenful).
void repeatlast(int n) {
    int r = vdestline;
    int c = XNwrap ? vdestcol : vdestcol - 1;
    if (c >= 0 && (vscreen[r][c] & C_WIDER)) c--;
    if (c < 0) return;
    vcell cell = vscreen[r][c];
    if (cell & C_CLUSTER) return;
    int cp = cellcp(cell);
    n = std::min(n, vlines * vcols);
    for (int k = 0; k < n; k++) {
        if (cell & A_GLYPH)
            vputch(A_GLYPH | (cp & 31));
        else if (cp < 0x80)
            vputch(cp);
        else
            vputcp(cp, (cell & C_WIDE) ? 2 : 1);
    }
}

// A private mode the console itself must follow for the host to get what it asked for.
void consmode(int n, bool set) {
    char buf[24];
    int len = std::snprintf(buf, sizeof buf, "\033[?%d%c", n, set ? 'h' : 'l');
    OutBatch b;
    _ttyouts(buf, static_cast<size_t>(len));
}

// The console's answers to what the host asked for go on to the host.
void passreports() {
    transpassunknown(xtpaste || xtmouse || xtsgrmouse);
}

} // namespace

int xtwidth(int cp) {
    if (cp >= 0 && cp < 0x10000) return ((bmpwidths.bits[cp >> 2] >> ((cp & 3) * 2)) & 3) - 1;
    if (cp < 0) return -1;
    if (inranges(zerowidth, cp)) return 0;
    return inranges(wide, cp) ? 2 : 1;
}

bool xtidle() {
    return need == 0;
}

void emxterm(int c) {
    c &= 0xff;
    if (need > 0) {
        if ((c & 0xc0) == 0x80) {
            cpacc = (cpacc << 6) | (c & 0x3f);
            cpbytes++;
            if (--need > 0) return;
            if (cpacc < cpmin || cpacc > 0x10ffff || (cpacc >= 0xd800 && cpacc <= 0xdfff))
                decoded(0xfffd);
            else
                decoded(cpacc);
            return;
        }
        badseq(); // cut short: the byte starts afresh below
    }
    if (c < 0x80) {
        emvt100b(c);
    } else if (c >= 0xc2 && c <= 0xdf) {
        need = 1, cpacc = c & 0x1f, cpmin = 0x80;
    } else if (c >= 0xe0 && c <= 0xef) {
        need = 2, cpacc = c & 0x0f, cpmin = 0x800;
    } else if (c >= 0xf0 && c <= 0xf4) {
        need = 3, cpacc = c & 0x07, cpmin = 0x10000;
    } else {
        decoded(0xfffd); // a stray continuation byte, C0/C1 (overlong lead) or F5..FF
    }
    cpbytes = 1;
}

bool xtcontrol() {
    bool sp = std::strchr(vtbuf, ' ') != nullptr;
    if (sp) {
        if (vtcmd == 'q') { // DECSCUSR
            xtcursor = std::clamp(vtgetp1(), 0, 6);
            setcursorstyle(xtcursor);
        }
        return true; // other sequences with a space are not this emulation's
    }
    if (vtbuf[0] == '>' || vtbuf[0] == '<' || vtbuf[0] == '=') {
        return vtcmd != 'c'; // only DA2 ('c') is answered, by the VT100 code
    }
    switch (vtcmd) {
    case 'G': // CHA
        vdestcol = std::min(count1(), fvcols()) - 1;
        cgoto();
        return true;
    case 'I': // CHT
        tabforward(count1());
        return true;
    case 'Z': // CBT
        tabback(count1());
        return true;
    case 'b': // REP
        repeatlast(count1());
        return true;
    case 'S': // SU
        scrolln(count1(), true);
        return true;
    case 'T':                                     // SD
        if (std::strchr(vtbuf, ';')) return true; // mouse highlight tracking: not supported
        scrolln(count1(), false);
        return true;
    case 'm': // SGR
        xtsgr();
        return true;
    case 't': // window operations: nothing to move or report
        return true;
    default:
        return false;
    }
}

void xtqcontrol() {
    if (vtcmd != 'h' && vtcmd != 'l') return;
    bool set = vtcmd == 'h';
    const char* p = vtbuf + 1;
    for (int i = 0; i < 16 && *p; i++) {
        int n = 0;
        while (*p >= '0' && *p <= '9') {
            n = std::min(n * 10 + (*p++ - '0'), 99999);
        }
        if (*p == ';')
            p++;
        else if (*p)
            break;
        switch (n) {
        case 47:   // the alternate screen
        case 1047: // the same, cleared on the way back
            valtscreen(set, 0);
            break;
        case 1048: // save / restore the cursor
            set ? savestat() : restorestat();
            break;
        case 1049: // the alternate screen, with the cursor saved
            valtscreen(set, 1);
            break;
        case 1000: // mouse clicks
        case 1002: // mouse clicks and drags
            xtmouse = set ? n : 0;
            consmode(n, set);
            break;
        case 1006: // mouse reports in the SGR form
            xtsgrmouse = set;
            consmode(n, set);
            break;
        case 2004: // bracketed paste
            xtpaste = set;
            consmode(n, set);
            break;
        default: // focus events (1004) stay off; the VT100 modes are the interpreter's
            break;
        }
    }
    passreports();
}

void xtreset() {
    // What the console was asked to do for the host is undone.
    if (xtmouse) consmode(xtmouse, false);
    if (xtsgrmouse) consmode(1006, false);
    if (xtpaste) consmode(2004, false);
    if (xtcursor) setcursorstyle(0);
    need = cpacc = cpmin = cpbytes = 0;
    xtpaste = xtmouse = xtsgrmouse = xtcursor = 0;
    passreports();
    valtscreen(0, 0);
}
