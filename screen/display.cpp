#include "screen/display.h"

#include "screen/hooks.h"
#include "screen/termcap.h"
#include "screen/vscreen.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

// clang-format off
const uint16_t _xegrset[GRSETSIZ] = {
    ' ', '*', '#', 'h', 'f', 'r', 'l', 'o', '#', 'n', 'v', '+', '+', '+', '+', '+',
    '-', '-', '-', '-', '_', '+', '+', '+', '+', '|', '<', '>', '*', '!', 'f', 'o',
    '+', '+', '+', '+', '+', '-', '|', '+', '+', '+', '+', '-', '|', ' ', ' ', ' ',
    ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
    'o', 'o', '*', '*', '*', '*', ' ', 'o', 'o', 'o', 'o', 'o', 'd', 'd', 'o', '>',
    '<', '|', '!', 'P', 'S', '_', '|', '^', 'v', '>', '<', 'L', '-', '^', 'v', '^',
    'C', 'u', 'e', 'a', 'a', 'a', 'a', 'c', 'e', 'e', 'e', 'i', 'i', 'i', 'A', 'A',
    'E', 'a', 'A', 'o', 'o', 'o', 'u', 'u', 'y', 'O', 'U', 'c', 'L', 'Y', 'P', 'f',
    'a', 'i', 'o', 'u', 'n', 'N', 'a', 'o', '?', '-', '-', '/', '/', '!', '<', '>',
    '#', '#', '#', '|', '+', '+', '+', '+', '+', '+', '|', '+', '+', '+', '+', '+',
    '+', '+', '+', '+', '-', '+', '+', '+', '+', '+', '+', '+', '+', '=', '+', '+',
    '+', '+', '+', '+', '+', '+', '+', '+', '+', '+', '+', '#', '#', '#', '#', '#',
    'a', 'B', 'G', 'p', 'S', 's', 'u', 't', 'F', 'T', 'O', 'd', '8', 'f', 'e', 'n',
    '=', '+', '>', '<', '(', ')', '/', '~', 'o', '.', '.', 'v', 'n', '2', '#', ' ',
};

// Groups of slots showing the same shape: the DEC glyph first, then the further pieces and the
// PC box characters (slot = PC code - 32 for codes 127..255, 63 + code below 32) that may
// borrow its console byte. Each group ends with -1; the list with 0xFFFE.
const int _gremap[] = {
    11, 36, 42, 185, 156, 157, 158, -1,      // lower right  ┘ ╝ ╜ ╛
    12, 34, 40, 159, 155, 151, 152, -1,      // upper right  ┐ ╗ ╖ ╕
    13, 33, 39, 186, 169, 182, 181, -1,      // upper left   ┌ ╔ ╓ ╒
    14, 35, 41, 160, 168, 179, 180, -1,      // lower left   └ ╚ ╙ ╘
    15, 32, 165, 174, 183, 184, -1,          // crossing     ┼ ╬ ╫ ╪
    18, 37, 43, 16, 17, 19, 20, 164, 173, -1, // horizontal  ─ ═
    25, 38, 44, 147, 154, -1,                // vertical     │ ║
    21, 163, 172, 167, 166, -1,              // left tee     ├ ╠ ╟ ╞
    22, 148, 153, 150, 149, -1,              // right tee    ┤ ╣ ╢ ╡
    23, 161, 170, 176, 175, -1,              // bottom tee   ┴ ╩ ╨ ╧
    24, 162, 171, 178, 177, -1,              // top tee      ┬ ╦ ╥ ╤
    2, 144, 145, 146, -1,                    // checkerboard ░ ▒ ▓
    7, 216, -1,                              // degree
    8, 209, -1,                              // plus/minus
    1, 67, -1,                               // diamond
    26, 211, -1, 27, 210, -1,                // less/greater or equal
    28, 195, -1, 30, 124, -1,                // pi, pound
    31, 217, 218, -1,                        // bullet
    0xFFFE,
};
// clang-format on

uint16_t _grset[GRSETSIZ];
int vemode = EM_VT100;

namespace {

struct CapName {
    const char* id;
    std::string* var;
};

// The screen strings in the order they are read at start-up.
// clang-format off
const CapName capnames[] = {
    {"bc", &cap::BC}, {"ce", &cap::CE}, {"cd", &cap::CD}, {"cl", &cap::CL}, {"cm", &cap::CM},
    {"up", &cap::UP}, {"se", &cap::SE}, {"dl", &cap::DL}, {"al", &cap::AL}, {"pc", &cap::xPC},
    {"ks", &cap::KS}, {"ke", &cap::KE}, {"vi", &cap::VI}, {"vs", &cap::VS}, {"ve", &cap::VE},
    {"ti", &cap::TI}, {"te", &cap::TE}, {"is", &cap::IS}, {"us", &cap::US}, {"ue", &cap::UE},
    {"GS", &cap::GS}, {"GE", &cap::GE}, {"GH", &cap::GH}, {"GV", &cap::GV}, {"G1", &cap::G1},
    {"G2", &cap::G2}, {"G3", &cap::G3}, {"G4", &cap::G4}, {"Ga", &cap::Ga}, {"Sc", &cap::Setc},
    {"po", &cap::PO}, {"pf", &cap::PF}, {"BE", &cap::BE}, {"BD", &cap::BD}, {"mr", &cap::MR},
    {"mb", &cap::MB}, {"md", &cap::MD}, {"me", &cap::ME}, {"as", &cap::AS}, {"ae", &cap::AE},
    {"ac", &cap::AC}, {"Sf", &cap::Setf}, {"Sb", &cap::Setb}, {"Gm", &cap::Gm}, {"eA", &cap::EA},
    {"ds", &cap::DS}, {"fs", &cap::FS}, {"ts", &cap::TS}, {"RI", &cap::RI}, {"cs", &cap::CS},
    {"sf", &cap::SF}, {"sr", &cap::SR}, {"sc", &cap::SC}, {"rc", &cap::RC}, {"op", &cap::OrigPair},
    {"tN", &cap::tN}, {"tW", &cap::tW}, {"so", &cap::SO},
};
// clang-format on

// PC colour number to the console's (ANSI) colour number.
const int defcolor[16] = {0, 4, 2, 6, 1, 5, 3, 7, 0, 4, 2, 6, 1, 5, 3, 7};

std::function<void(const char*, size_t)> conswriter;
bool ansicolors = false; // colour strings from the system's setaf/setab (ANSI colour order)
bool statinuse = false;  // the status line is entered
int statrow = 0, statcol = 0;
int lastshape = -1; // cursor shape before the last invisible one
int curshape = -1;
// The host's cursor style (DECSCUSR 0..6): the console's strings for it (terminfo Ss and Se), or
// the sequence itself for a console of the xterm kind; the style last sent.
std::string stylecap, styleend;
bool xtermlike = false;
int curstyle = 0;

bool havecons() {
    return !(*disphooks.server || *disphooks.quiet);
}

using Batch = OutBatch;

bool startswith(const char* s, const char* p) {
    return s && std::strncmp(s, p, std::strlen(p)) == 0;
}

int hexdigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A console without cursor addressing (a glass or dumb terminal) is moved with the plain
// controls every terminal obeys: line feeds down, carriage return to the margin, backspaces
// left and spaces right. It cannot go up; the rows of such a console are only a count.
void relmove(int row, int col) {
    for (int r = ccurline; r < row; r++)
        _ttyout('\n');
    int from = ccurcol;
    if (col == 0 && from != 0) {
        _ttyout('\r');
        from = 0;
    } else if (col < from) {
        if (from - col > col) {
            _ttyout('\r');
            from = 0;
        } else {
            for (; from > col; from--)
                _ttyout('\b');
        }
    }
    for (; from < col; from++)
        _ttyout(' ');
}

void fillslots(const std::string& s, std::initializer_list<int> slots) {
    if (s.empty()) return;
    for (int slot : slots)
        _grset[slot] = static_cast<uint16_t>(static_cast<unsigned char>(s[0]) | 0x100);
}

} // namespace

void batchend() {
    if (!disphooks.rxwaiting()) oflush();
}

void setconswriter(std::function<void(const char*, size_t)> w) {
    conswriter = std::move(w);
}

int bttyout(const void* buf, size_t count) {
    if (conswriter) {
        conswriter(static_cast<const char*>(buf), count);
        return static_cast<int>(count);
    }
    if (*disphooks.consfd < 0) return 0; // no console (a transfer run without one)
    const char* p = static_cast<const char*>(buf);
    size_t left = count;
    while (left > 0) {
        ssize_t n = write(*disphooks.consfd, p, left);
        if (n < 0 && errno == EINTR) continue; // a signal must not lose what the screen shows
        if (n <= 0) break;
        p += n;
        left -= static_cast<size_t>(n);
    }
    return static_cast<int>(count - left);
}

void oflush() {
    if (optr > 0) bttyout(obuf, static_cast<size_t>(optr));
    optr = 0;
}

void _ttyout(int byte) {
    if (optr >= OBUFMAX) oflush();
    obuf[optr++] = static_cast<uint8_t>(byte);
    if (vemode & 1) {
        if (optr >= OBUFMAX) oflush();
    } else {
        int level = std::clamp(obufsiz, 1, OBUFMAX);
        if (optr >= level || !disphooks.rxwaiting()) oflush();
    }
}

int _ttyputc(int byte) {
    _ttyout(byte);
    return byte;
}

namespace {

// A string tputs would pass through unchanged: no "$<..>" delay and no leading termcap-style
// delay digits. Those are copied straight into the buffer.
bool plaincap(const std::string& s) {
    unsigned char c0 = static_cast<unsigned char>(s[0]);
    if ((c0 >= '0' && c0 <= '9') || c0 == '.') return false;
    for (char c : s) // capability strings are short: a loop beats a library call
        if (c == '$') return false;
    return true;
}

// The results of formatting one parameterised capability for small argument pairs. Moving the
// cursor and setting colours happen for most received bytes; the formatting in the termcap
// library is far dearer than a lookup. A result depends only on the arguments and on the
// capabilities, which change only through tinit, _vinit (and so setcap) and displayreset: each
// of them empties the caches.
template <int kRows, int kCols> class ParamCache {
  public:
    template <class F> const std::string& get(int a, int b, F make) {
        if (a < 0 || b < 0 || a >= kRows || b >= kCols) {
            spare = make();
            return spare;
        }
        size_t i = static_cast<size_t>(a) * kCols + static_cast<size_t>(b);
        if (!filled[i]) {
            vals[i] = make();
            filled[i] = true;
        }
        return vals[i];
    }
    void clear() { std::fill(filled.begin(), filled.end(), false); }

  private:
    std::string spare;
    std::vector<std::string> vals = std::vector<std::string>(kRows * kCols);
    std::vector<bool> filled = std::vector<bool>(kRows * kCols);
};

ParamCache<128, 256> cmcache;
ParamCache<128, 128> cscache;
ParamCache<256, 1> fgcache, bgcache;

// The cursor string is the ANSI one (row and column from 1, decimal): formatted here, directly.
// -1 until decided for the current capabilities.
int ansicm = -1;

void clearcaches() {
    ansicm = -1;
    cmcache.clear();
    cscache.clear();
    fgcache.clear();
    bgcache.clear();
}

} // namespace

void outcap(const std::string& s) {
    if (s.empty()) return;
    if (!plaincap(s)) {
        if (s.size() < 2) {
            ztputs(s, _ttyputc);
            return;
        }
        Batch b; // one string, one write
        ztputs(s, _ttyputc);
        return;
    }
    if (s.size() < 2) {
        _ttyout(static_cast<unsigned char>(s[0]));
        return;
    }
    _ttyouts(s.data(), s.size());
}

void _ttyouts(const void* bytes, size_t count) {
    Batch b; // one string, one write
    const char* p = static_cast<const char*>(bytes);
    if (count <= 16 && optr + static_cast<int>(count) < OBUFMAX) {
        // Capability strings and short runs: a plain copy costs less than a library call.
        for (size_t i = 0; i < count; i++)
            obuf[optr + static_cast<int>(i)] = static_cast<uint8_t>(p[i]);
        optr += static_cast<int>(count);
        return;
    }
    while (count > 0) {
        if (optr >= OBUFMAX) oflush();
        size_t n = std::min(count, static_cast<size_t>(OBUFMAX - optr));
        std::memcpy(obuf + optr, p, n);
        optr += static_cast<int>(n);
        p += n;
        count -= n;
        if (optr >= OBUFMAX) oflush();
    }
}

int tinit(const char* name) {
    clearcaches();
    if (!name || !*name) {
        if (havecons()) {
            disphooks.message("Terminal type variable TERM not set\n");
            return -1;
        }
        Lines = 24;
        Cols = 80;
        return 0;
    }
    if (!zztgetent(name)) {
        std::string msg = "Can't find terminal type from TERM variable: ";
        disphooks.message((msg + name + "\n").c_str());
        return -1;
    }
    int total = 0;
    for (const CapName& c : capnames) {
        c.var->clear();
        if (zztgetstr(c.id, *c.var)) total += static_cast<int>(c.var->size()) + 1;
    }
    total += disphooks.keycaps();
    if (total > TBUFSIZ) {
        std::string msg = "Termcap capability lengths exceed " + std::to_string(TBUFSIZ);
        disphooks.message((msg + " bytes\n").c_str());
        return -1;
    }
    // Colour strings: modern system entries have only the ANSI-ordered setaf/setab.
    ansicolors = false;
    if (!ourtermcap && cap::Setf.empty()) {
        std::string af, ab;
        if (zztgetstr("AF", af) && zztgetstr("AB", ab)) {
            cap::Setf = af;
            cap::Setb = ab;
            ansicolors = true;
        }
    }
    stylecap.clear();
    styleend.clear();
    if (!ourtermcap && zztgetstr("Ss", stylecap)) zztgetstr("Se", styleend);
    if (cap::MR.empty()) cap::MR = cap::SO;
    if (cap::MB.empty()) cap::MB = cap::SO;
    if (cap::MD.empty()) cap::MD = cap::SO;
    if (cap::ME.empty()) cap::ME = cap::SE;
    if (cap::GS.empty()) cap::GS = cap::AS;
    if (cap::GE.empty()) cap::GE = cap::AE;
    padchar = cap::xPC.empty() ? 0 : cap::xPC[0];
    XS = zztgetflag("xs");
    SG = zztgetnum("sg");
    if (SG > 0) {
        XS = 1;
        cap::SO = std::string(static_cast<size_t>(std::min(SG, 8)), '\b') + cap::SO;
    }
    XN = zztgetflag("xn");
    AM = zztgetflag("am");
    PT = zztgetflag("pt");
    CT = zztgetflag("CT");
    HS = zztgetflag("hs");
    ES = zztgetflag("es");
    BCE = zztgetflag("be") || zztgetflag("ut");
    int n = zztgetnum("Co");
    Ncolors = n > 0 ? n : 0;
    NCV = std::max(zztgetnum("NC"), 0);
    n = zztgetnum("pa");
    PA = n > 0 ? n : 0;
    n = zztgetnum("co");
    if (n > 0) Cols = std::min(n, 132);
    n = zztgetnum("li");
    if (n > 0) Lines = std::min(n, 66);
    return 0;
}

void _vinit() {
    clearcaches(); // the capabilities may change below
    const char* term = getenv("TERM");
    std::copy(std::begin(defcolor), std::end(defcolor), extcolor);
    if (!startswith(term, "ansi") && !ourtermcap && !ansicolors)
        for (int i = 0; i < 16; i++)
            extcolor[i] = i & 7;

    // A Wyse console draws lines with its own graphics mode and shows renditions with
    // embedded attributes.
    bool wyse = startswith(term, "wy5") || startswith(term, "wy6") || startswith(term, "wyse5") ||
                startswith(term, "wy350") || (term && std::strcmp(term, "w50") == 0);
    if (wyse) {
        if (cap::GS.empty() || (!cap::G1.empty() && cap::G1[0] == '\033')) {
            cap::GS = "\033H\002";
            cap::GE = "\033H\003";
            cap::GH = ":";
            cap::GV = "6";
            cap::G1 = "3";
            cap::G2 = "2";
            cap::G3 = "1";
            cap::G4 = "5";
            if (cap::Ga.empty()) cap::Ga = "@@@7@@@@@@@@53218:::@@49=06@@@2315:62315:6";
        }
        if (SG > 0 || cap::ME != cap::SE) {
            cap::SO = cap::US = cap::MD = cap::MB = cap::MR = "\033`6\033)";
            cap::SE = cap::UE = cap::ME = "\033(";
            XS = 0;
            SG = 0;
        }
    }

    xtermlike = startswith(term, "xterm") || startswith(term, "tmux") || startswith(term, "rxvt");
    std::copy(std::begin(_xegrset), std::end(_xegrset), _grset);
    fillslots(cap::G4, {11, 36, 42});
    fillslots(cap::G3, {14, 35, 41});
    fillslots(cap::G2, {13, 33, 39});
    fillslots(cap::G1, {12, 34, 40});
    fillslots(cap::GH, {16, 17, 18, 23, 24, 37, 43});
    fillslots(cap::GV, {25, 21, 22, 38, 44});
    // ac: pairs of DEC glyph letter and console byte.
    for (size_t i = 0; i + 1 < cap::AC.size(); i += 2) {
        int a = static_cast<unsigned char>(cap::AC[i]);
        int b = static_cast<unsigned char>(cap::AC[i + 1]);
        if (a >= '_' && a - '_' < 32) _grset[a - '_'] = static_cast<uint16_t>(b | 0x100);
    }
    // Ga: a marker byte meaning "no entry", then one byte per slot from 0.
    if (!cap::Ga.empty()) {
        char marker = cap::Ga[0];
        for (size_t i = 1; i < cap::Ga.size() && i <= 45; i++)
            if (cap::Ga[i] != marker)
                _grset[i - 1] =
                    static_cast<uint16_t>(static_cast<unsigned char>(cap::Ga[i]) | 0x100);
    }
    // Similar glyphs borrow a drawable one.
    for (const int* g = _gremap; *g != 0xFFFE;) {
        const int* first = g;
        int src = (*first >= 0 && *first < GRSETSIZ) ? _grset[*first] : ' ';
        bool real = src < 32 || src > 127;
        for (g++; *g >= 0 && *g != 0xFFFE; g++)
            if (real && *g < GRSETSIZ && _grset[*g] >= 32 && _grset[*g] <= 127)
                _grset[*g] = static_cast<uint16_t>(src);
        if (*g < 0) g++;
    }
    for (size_t i = 0; i < cap::Gm.size() && i < 16; i++) {
        int d = hexdigit(cap::Gm[i]);
        if (d >= 0) extcolor[i] = d;
    }

    disphooks.consinit(havecons());
    // Line drawing by shift-out needs the alternate set designated first.
    if (!cap::EA.empty()) {
        Batch b;
        outcap(cap::EA);
    }
}

void consexit() {
    setcursorstyle(0);
    oflush();
    disphooks.consrestore();
}

int setcap(const char* name, const char* value) {
    if (!name || !value) return 0;
    for (const CapName& c : capnames) {
        if (std::strcmp(c.id, name) == 0) {
            *c.var = value;
            _vinit();
            return 1;
        }
    }
    return disphooks.setkeycap(name, value) ? 1 : 0;
}

void _cpos(int row, int col) {
    Batch b;
    row = std::clamp(row, 0, Lines - 1);
    col = std::clamp(col, 0, Cols - 1);
    if (ansicm < 0) ansicm = cap::CM == "\033[%i%d;%dH" || cap::CM == "\033[%i%p1%d;%p2%dH";
    if (ansicm) {
        char buf[32] = "\033[";
        int n = 2;
        auto decimal = [&](int v) { // v >= 1
            char d[12];
            int k = 0;
            for (; v > 0 && k < 12; v /= 10)
                d[k++] = static_cast<char>('0' + v % 10);
            while (k > 0)
                buf[n++] = d[--k];
        };
        decimal(row + 1);
        buf[n++] = ';';
        decimal(col + 1);
        buf[n++] = 'H';
        _ttyouts(buf, static_cast<size_t>(n));
    } else if (!cap::CM.empty()) {
        outcap(cmcache.get(row, col, [&] { return zztgoto(cap::CM, col, row); }));
    } else {
        relmove(row, col);
    }
    ccurline = row;
    ccurcol = col;
}

void _vclear() {
    Batch b;
    outcap(cap::CL);
    ccurline = ccurcol = 0;
}

void _vclreol(int row, int col) {
    Batch b;
    if (!cap::CE.empty()) {
        outcap(cap::CE);
        return;
    }
    // Writing the last cell of the last row would scroll a console that wraps at once.
    int last = (AM && !XN && row >= Lines - 1) ? Cols - 2 : Cols - 1;
    for (int c = col; c <= last; c++)
        _ttyout(' ');
    _cpos(row, col);
}

void _vclres(int row, int col) {
    Batch b;
    if (!cap::CD.empty()) {
        outcap(cap::CD);
        return;
    }
    _vclreol(row, col);
    for (int r = row + 1; r < Lines; r++) {
        _cpos(r, 0);
        _vclreol(r, 0);
    }
    _cpos(row, col);
}

void _viline() {
    Batch b;
    if (cap::AL.empty()) {
        vredraw();
        return;
    }
    int row = ccurline, col = ccurcol;
    outcap(cap::AL);
    // The inserted line pushed text into the console rows below the emulated screen.
    if (Lines - vlines >= 2) {
        _cpos(vlines, 0);
        _vclres(vlines, 0);
    }
    _cpos(row, col);
}

void _vdline() {
    Batch b;
    if (cap::DL.empty()) {
        vredraw();
        return;
    }
    outcap(cap::DL);
}

void _vsline(int top, int bottom) {
    Batch b;
    int lo = std::clamp(std::min(top, bottom), 0, Lines - 1);
    int hi = std::clamp(std::max(top, bottom), 0, Lines - 1);
    bool up = top < bottom;
    int row = ccurline, col = ccurcol;
    const std::string& scroll = up ? cap::SF : cap::SR;
    bool whole = lo == 0 && hi == Lines - 1;
    if (!scroll.empty() && (whole || !cap::CS.empty())) {
        outcap(cap::SC);
        if (!whole) outcap(cscache.get(hi, lo, [&] { return TGOTO(cap::CS, hi, lo); }));
        _cpos(up ? hi : lo, 0);
        outcap(scroll);
        if (!whole) {
            int l = Lines - 1;
            outcap(cscache.get(l, 0, [&] { return TGOTO(cap::CS, l, 0); }));
        }
        if (!cap::RC.empty() && !cap::SC.empty())
            outcap(cap::RC);
        else
            _cpos(row, col);
        ccurline = row;
        ccurcol = col;
        return;
    }
    if (cap::AL.empty() || cap::DL.empty()) {
        vredraw();
        return;
    }
    _cpos(up ? lo : hi, 0);
    outcap(cap::DL);
    _cpos(up ? hi : lo, 0);
    outcap(cap::AL);
    _cpos(row, col);
}

void _vset(int rendition) {
    if (vdestcol < vbegcol || vdestcol > vendcol) return;
    Batch b;
    rendition &= 0xf000;
    if (lastrend != 0 || lastcolor >= 0 || lastfg != 0 || lastbg != 0) outcap(cap::ME);
    lastcolor = -1;
    lastfg = lastbg = 0;
    if (rendition != 0) {
        if (rendition & 0x2000) outcap(cap::US);
        if (rendition & 0x1000) outcap(cap::MD);
        if (rendition & 0x4000) outcap(cap::MB);
        if (rendition & 0x8000) outcap(cap::MR);
    } else if (SG <= 0 && (lastrend & 0x2000)) {
        outcap(cap::UE);
    }
    lastrend = rendition;
}

void _vcolor(int color) {
    if (vdestcol < vbegcol || vdestcol > vendcol) return;
    int c = (color >> 8) & 0xff;
    bool mono = Ncolors <= 0 || (cap::Setc.empty() && cap::Setf.empty());
    if (mono) {
        int r = 0;
        if (c & 0x70) r |= 0x8000;
        if (c & 0x08) r |= 0x1000;
        if (c & 0x80) r |= 0x4000;
        if ((c & 0x0f) == 1) r |= 0x2000;
        _vset(r);
        lastcolor = c;
        lastfg = lastbg = -1;
        return;
    }
    Batch b;
    // Intensity is shown by bold wherever the colour numbers sent cannot carry it: always with
    // fewer than 16 colours, and with more when the table maps bright colours to plain ones
    // (as it does unless the description says otherwise).
    int fg = extcolor[c & 0x0f], bg = extcolor[(c >> 4) & 0x0f];
    bool lost =
        ((c & 0x08) && (Ncolors < 16 || fg < 8)) || ((c & 0x80) && (Ncolors < 16 || bg < 8));
    if (lost) {
        if (!(lastrend & 0x1000)) {
            outcap(cap::MD);
            lastrend |= 0x1000;
        }
    } else if (lastrend) {
        outcap(cap::ME);
        lastrend = 0;
    }
    outcolor(fg, bg);
    lastcolor = c;
    lastfg = lastbg = -1;
}

namespace {
// The nearest of the console's first n palette colours to a colour (-1 default stays).
int fitcolor(int c, int n) {
    if (c < 0) return -1;
    if (c < 0x1000000 && c < n) return c;
    int r, g, b;
    if (c >= 0x1000000) {
        r = (c >> 16) & 0xff, g = (c >> 8) & 0xff, b = c & 0xff;
    } else if (c >= 232) {
        r = g = b = 8 + 10 * (c - 232);
    } else if (c >= 16) {
        static const int steps[6] = {0, 95, 135, 175, 215, 255};
        r = steps[(c - 16) / 36], g = steps[(c - 16) / 6 % 6], b = steps[(c - 16) % 6];
    } else {
        return n >= 8 ? c & 7 : -1; // a bright colour on an eight-colour console
    }
    if (n >= 256) {
        auto lvl = [](int v) { return v < 48 ? 0 : v < 115 ? 1 : (v - 35) / 40; };
        return 16 + 36 * lvl(r) + 6 * lvl(g) + lvl(b);
    }
    if (n < 8) return -1;
    int k = (r > 127 ? 1 : 0) | (g > 127 ? 2 : 0) | (b > 127 ? 4 : 0);
    if (n >= 16 && (r > 191 || g > 191 || b > 191)) k += 8;
    return k;
}

void sendext(int c, bool fg) {
    char buf[32];
    int n;
    if (c < 0) {
        _ttyouts(fg ? "\033[39m" : "\033[49m", 5);
        return;
    }
    if (c >= 0x1000000)
        n = std::snprintf(buf, sizeof buf, "\033[%d;2;%d;%d;%dm", fg ? 38 : 48, (c >> 16) & 0xff,
                          (c >> 8) & 0xff, c & 0xff);
    else if (!cap::Setf.empty() && !cap::Setb.empty() && ansicolors) {
        if (fg)
            outcap(fgcache.get(c, 0, [&] { return ztparm(cap::Setf, c); }));
        else
            outcap(bgcache.get(c, 0, [&] { return ztparm(cap::Setb, c); }));
        return;
    } else if (c < 8)
        n = std::snprintf(buf, sizeof buf, "\033[%dm", (fg ? 30 : 40) + c);
    else if (c < 16)
        n = std::snprintf(buf, sizeof buf, "\033[%dm", (fg ? 90 : 100) + c - 8);
    else
        n = std::snprintf(buf, sizeof buf, "\033[%d;5;%dm", fg ? 38 : 48, c);
    _ttyouts(buf, static_cast<size_t>(n));
}
} // namespace

void _vextcolor(int fg, int bg, int fgslot, int bgslot) {
    if (vdestcol < vbegcol || vdestcol > vendcol) return;
    if (fgslot == lastfg && bgslot == lastbg) return;
    Batch b;
    int n = Ncolors > 0 ? Ncolors : 0;
    if (fgslot != lastfg) {
        int c = fg >= 0x1000000 && construecolor ? fg : fitcolor(fg, n);
        if (n > 0 || c < 0) sendext(c, true);
    }
    if (bgslot != lastbg) {
        int c = bg >= 0x1000000 && construecolor ? bg : fitcolor(bg, n);
        if (n > 0 || c < 0) sendext(c, false);
    }
    lastfg = fgslot;
    lastbg = bgslot;
    lastcolor = -1;
}

bool localeutf8() {
    const char* v = nullptr;
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        v = getenv(name);
        if (v && *v) break;
        v = nullptr;
    }
    if (!v) return false;
    std::string s(v);
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s.find("utf-8") != std::string::npos || s.find("utf8") != std::string::npos;
}

const uint16_t decglyphs[32] = {0x0020, 0x25c6, 0x2592, 0x2409, 0x240c, 0x240d, 0x240a, 0x00b0,
                                0x00b1, 0x2424, 0x240b, 0x2518, 0x2510, 0x250c, 0x2514, 0x253c,
                                0x23ba, 0x23bb, 0x2500, 0x23bc, 0x23bd, 0x251c, 0x2524, 0x2534,
                                0x252c, 0x2502, 0x2264, 0x2265, 0x03c0, 0x2260, 0x00a3, 0x00b7};

// PC (code page 437) glyphs as Unicode: codes 0..31, then 127..255.
// clang-format off
const uint16_t pcglyphs[32 + 129] = {
    0x0020, 0x263a, 0x263b, 0x2665, 0x2666, 0x2663, 0x2660, 0x2022,
    0x25d8, 0x25cb, 0x25d9, 0x2642, 0x2640, 0x266a, 0x266b, 0x263c,
    0x25ba, 0x25c4, 0x2195, 0x203c, 0x00b6, 0x00a7, 0x25ac, 0x21a8,
    0x2191, 0x2193, 0x2192, 0x2190, 0x221f, 0x2194, 0x25b2, 0x25bc,
    0x2302, 0x00c7, 0x00fc, 0x00e9, 0x00e2, 0x00e4, 0x00e0, 0x00e5,
    0x00e7, 0x00ea, 0x00eb, 0x00e8, 0x00ef, 0x00ee, 0x00ec, 0x00c4,
    0x00c5, 0x00c9, 0x00e6, 0x00c6, 0x00f4, 0x00f6, 0x00f2, 0x00fb,
    0x00f9, 0x00ff, 0x00d6, 0x00dc, 0x00a2, 0x00a3, 0x00a5, 0x20a7,
    0x0192, 0x00e1, 0x00ed, 0x00f3, 0x00fa, 0x00f1, 0x00d1, 0x00aa,
    0x00ba, 0x00bf, 0x2310, 0x00ac, 0x00bd, 0x00bc, 0x00a1, 0x00ab,
    0x00bb, 0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562,
    0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255d, 0x255c, 0x255b,
    0x2510, 0x2514, 0x2534, 0x252c, 0x251c, 0x2500, 0x253c, 0x255e,
    0x255f, 0x255a, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256c,
    0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553,
    0x256b, 0x256a, 0x2518, 0x250c, 0x2588, 0x2584, 0x258c, 0x2590,
    0x2580, 0x03b1, 0x00df, 0x0393, 0x03c0, 0x03a3, 0x03c3, 0x00b5,
    0x03c4, 0x03a6, 0x0398, 0x03a9, 0x03b4, 0x221e, 0x03c6, 0x03b5,
    0x2229, 0x2261, 0x00b1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00f7,
    0x2248, 0x00b0, 0x2219, 0x00b7, 0x221a, 0x207f, 0x00b2, 0x25a0,
    0x00a0,
};
// clang-format on

void _ucsout(int cp) {
    if (cp < 0x80 || !consutf8) {
        _ttyout(cp < 0x100 ? cp : '?');
        return;
    }
    unsigned char buf[4];
    size_t n;
    if (cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff)) cp = 0xfffd;
    if (cp < 0x800) {
        buf[0] = static_cast<unsigned char>(0xc0 | (cp >> 6));
        buf[1] = static_cast<unsigned char>(0x80 | (cp & 0x3f));
        n = 2;
    } else if (cp < 0x10000) {
        buf[0] = static_cast<unsigned char>(0xe0 | (cp >> 12));
        buf[1] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3f));
        buf[2] = static_cast<unsigned char>(0x80 | (cp & 0x3f));
        n = 3;
    } else {
        buf[0] = static_cast<unsigned char>(0xf0 | (cp >> 18));
        buf[1] = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3f));
        buf[2] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3f));
        buf[3] = static_cast<unsigned char>(0x80 | (cp & 0x3f));
        n = 4;
    }
    _ttyouts(buf, n);
}

void outcolor(int fg, int bg) {
    Batch b;
    if (!ourtermcap) {
        if (!cap::Setf.empty()) outcap(fgcache.get(fg, 0, [&] { return ztparm(cap::Setf, fg); }));
        if (!cap::Setb.empty()) outcap(bgcache.get(bg, 0, [&] { return ztparm(cap::Setb, bg); }));
        return;
    }
    if (!cap::Setc.empty()) {
        outcap(tcolor(cap::Setc, fg, bg));
    } else {
        if (!cap::Setf.empty()) outcap(tcolor(cap::Setf, fg, bg));
        if (!cap::Setb.empty()) outcap(tcolor(cap::Setb, bg, fg));
    }
}

std::string tcolor(const std::string& format, int fg, int bg) {
    static const std::string oops = "OOPS";
    int val[2] = {fg, bg};
    int idx = 0;
    std::string out;
    for (size_t i = 0; i < format.size(); i++) {
        char c = format[i];
        if (c != '%') {
            out += c;
            continue;
        }
        if (++i >= format.size()) return oops;
        c = format[i];
        switch (c) {
        case '%':
            out += '%';
            continue;
        case 'i':
            val[0]++, val[1]++;
            continue;
        case 'r':
            std::swap(val[0], val[1]);
            continue;
        default:
            break;
        }
        int v = val[idx & 1];
        idx++;
        switch (c) {
        case 'd':
            out += std::to_string(std::clamp(v, 0, 999));
            break;
        case '2':
        case '3': {
            int w = c - '0';
            int u = std::clamp(v, 0, 999);
            char digits[3];
            for (int k = w - 1; k >= 0; k--, u /= 10)
                digits[k] = static_cast<char>('0' + u % 10);
            out.append(digits, w);
            break;
        }
        case '.':
            if ((v & 0xff) == 0) return oops;
            out += static_cast<char>(v);
            break;
        case '+':
            if (++i >= format.size()) return oops;
            v += static_cast<unsigned char>(format[i]);
            if ((v & 0xff) == 0) return oops;
            out += static_cast<char>(v);
            break;
        default:
            return oops;
        }
    }
    return out;
}

void _gttyout(int entry) {
    Batch b;
    bool g = (entry & 0x100) && !cap::GS.empty();
    if (g) outcap(cap::GS);
    _ttyout(entry & 0xff);
    if (g) outcap(cap::GE);
}

void _vsetsize() {}
void _vsetfont() {}
void poscursor() {}

void setcursor(int shape) {
    if (shape == 5) shape = lastshape;
    Batch b;
    switch (shape) {
    case -1:
    case 3:
    case 4:
        outcap(cap::VE);
        break;
    case 0:
        if (curshape != 0) lastshape = curshape;
        outcap(cap::VI);
        break;
    case 1:
    case 2:
        outcap(cap::VS);
        break;
    default:
        return;
    }
    curshape = shape;
}

void setcursorstyle(int style) {
    style = std::clamp(style, 0, 6);
    if (style == curstyle) return;
    Batch b;
    if (!stylecap.empty()) {
        if (style == 0 && !styleend.empty())
            outcap(styleend);
        else
            outcap(ztparm(stylecap, style));
    } else if (xtermlike) {
        const char seq[] = {'\033', '[', static_cast<char>('0' + style), ' ', 'q'};
        _ttyouts(seq, sizeof seq);
    } else {
        return; // a console that may not know it: its cursor stays as it is
    }
    curstyle = style;
}

void statline(int mode, int col) {
    if (!HS) return;
    Batch b;
    switch (mode) {
    case 1:
        statrow = ccurline;
        statcol = ccurcol;
        if (ES && !cap::RI.empty()) {
            outcap(TGOTO(cap::TS, 1, 1));
            outcap(TGOTO(cap::RI, col, col));
        } else {
            outcap(TGOTO(cap::TS, col + 1, col + 1));
        }
        statinuse = true;
        break;
    case 2:
        outcap(cap::FS);
        _cpos(statrow, statcol);
        break;
    case 0:
        if (!statinuse) break;
        [[fallthrough]];
    case 3:
        outcap(cap::DS);
        statinuse = false;
        break;
    default:
        break;
    }
}

void _getmattrs(int& rows, int& cols) {
    rows = Lines;
    cols = Cols;
    conswinsize(rows, cols);
}

bool conswinsize(int& rows, int& cols) {
    winsize ws{};
    if (*disphooks.consfd < 0 || ioctl(*disphooks.consfd, TIOCGWINSZ, &ws) != 0 || ws.ws_row == 0 ||
        ws.ws_col == 0)
        return false;
    rows = ws.ws_row;
    cols = ws.ws_col;
    return true;
}

void winchcatch(int) {
    winchsig = 1;
}

void setkbd(int type) {
    kbdtype = type;
}

void displayreset() {
    clearcaches();
    for (const CapName& c : capnames)
        c.var->clear();
    XS = XN = AM = PT = CT = HS = ES = BCE = Ncolors = NCV = PA = SG = 0;
    padchar = 0;
    Lines = 24;
    Cols = 80;
    optr = 0;
    obufsiz = 512;
    std::copy(std::begin(_xegrset), std::end(_xegrset), _grset);
    std::copy(std::begin(defcolor), std::end(defcolor), extcolor);
    ccurline = ccurcol = lastrend = kbdtype = 0;
    lastcolor = -1;
    lastfg = lastbg = 0;
    consutf8 = construecolor = 0;
    ansicolors = statinuse = false;
    statrow = statcol = 0;
    lastshape = -1;
    curshape = -1;
    stylecap.clear();
    styleend.clear();
    xtermlike = false;
    curstyle = 0;
    conswriter = nullptr;
    termcapreset();
}
