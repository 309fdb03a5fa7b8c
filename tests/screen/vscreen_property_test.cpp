// The virtual screen's one invariant: after any sequence of screen operations, what the console
// shows (the driver's bytes fed into libvterm) is what screen memory holds, and a full redraw
// into a fresh terminal gives the same picture as the incremental updates.
#include "consoles.h"
#include "screen/vscreen.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>

namespace {

// libvterm's DEC special graphics for the glyph letters the test draws.
std::string decglyph(int c) {
    switch (c) {
    case 'j':
        return "┘";
    case 'k':
        return "┐";
    case 'l':
        return "┌";
    case 'm':
        return "└";
    case 'n':
        return "┼";
    case 'q':
        return "─";
    case 't':
        return "├";
    case 'u':
        return "┤";
    case 'v':
        return "┴";
    case 'w':
        return "┬";
    case 'x':
        return "│";
    case 'a':
        return "▒";
    default:
        return std::string(1, static_cast<char>(c));
    }
}
const int kGlyphs[] = {11, 12, 13, 14, 15, 18, 21, 22, 23, 24, 25};

std::string expectedText(uint16_t cell) {
    int code = cell & 0xff;
    if (pcscreen) return code < 32 || code == 127 ? " " : std::string(1, static_cast<char>(code));
    if (cell & A_GLYPH) {
        int e = _grset[code & 31];
        if ((e & 0x100) && !cap::GS.empty()) return decglyph(e & 0xff);
        return std::string(1, static_cast<char>(e & 0xff));
    }
    return std::string(1, static_cast<char>(code));
}

int rowwidthOf(int r) {
    return vlattr[r] ? std::max(std::min(vcols, vcolmax) / 2, 1) : vcols;
}

// Differences between the console picture and memory, "" when they agree.
std::string differences(const VtJudge& j, bool attrs = true) {
    std::ostringstream d;
    int shown = 0;
    for (int r = 0; r < vlines && r < Lines; r++) {
        for (int cc = 0; cc < Cols; cc++) {
            if (r == Lines - 1 && cc == Cols - 1 && AM && !XN) continue; // never written
            int vc = vbegcol + cc;
            uint16_t cell = ' ';
            if (vc < vcols && vc < vcolmax && vc < rowwidthOf(r)) cell = vscreen[r][vc];
            std::string want = expectedText(cell);
            CellView got = j.cell(r, cc);
            std::string g = got.text.empty() ? " " : got.text;
            bool blank = want == " ";
            bool bad = g != want;
            if (!bad && attrs && !blank && pcscreen) {
                // A colour byte: console colours through extcolor, intensity as bold.
                int cb = (cell >> 8) & 0xff;
                bad = got.fg != extcolor[cb & 15] || got.bg != extcolor[(cb >> 4) & 15] ||
                      got.bold != bool(cb & 0x88);
            } else if (!bad && attrs && !blank) {
                bad = got.bold != bool(cell & A_BOLD) || got.underline != bool(cell & A_UNDER) ||
                      got.blink != bool(cell & A_BLINK) || got.reverse != bool(cell & A_REVERSE);
            }
            if (bad && shown++ < 5)
                d << "(" << r << "," << cc << ") console '" << g << "' b" << got.bold << "u"
                  << got.underline << "k" << got.blink << "r" << got.reverse << " fg" << got.fg
                  << " bg" << got.bg << " memory '" << want << "' attr " << std::hex
                  << (cell & 0xff00) << std::dec << " want fg" << extcolor[(cell >> 8) & 15]
                  << " bg" << extcolor[(cell >> 12) & 15] << " pc" << pcscreen << "\n";
        }
    }
    return d.str();
}

std::string pictureDiff(const VtJudge& a, const VtJudge& b) {
    std::ostringstream d;
    int shown = 0;
    for (int r = 0; r < vlines && r < Lines; r++)
        for (int c = 0; c < Cols; c++) {
            if (r == Lines - 1 && c == Cols - 1 && AM && !XN) continue; // never written
            CellView x = a.cell(r, c), y = b.cell(r, c);
            std::string tx = x.text.empty() ? " " : x.text, ty = y.text.empty() ? " " : y.text;
            bool bad = tx != ty || (tx != " " && (x.bold != y.bold || x.underline != y.underline ||
                                                  x.blink != y.blink || x.reverse != y.reverse ||
                                                  x.fg != y.fg || x.bg != y.bg));
            if (bad && shown++ < 5)
                d << "(" << r << "," << c << ") incremental '" << tx << "' redraw '" << ty << "'\n";
        }
    return d.str();
}

struct PropRun {
    const char* term;
    int seeds;
};

class ScreenProperty : public testing::TestWithParam<PropRun> {};

// One random session: geometry, then a sequence of operations. Returns "" or a failure text.
std::string session(const char* term, uint32_t seed) {
    std::mt19937 rng(seed);
    auto rnd = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    Console con(term);
    if (con.status != 0) return "tinit failed";
    vscreenreset();
    Lines = rnd(1, 6) == 1 ? rnd(1, 8) : rnd(8, 66);
    Cols = rnd(1, 6) == 1 ? rnd(2, 20) : rnd(20, 132);
    vlines = rnd(0, 3) == 0 ? std::max(1, Lines - rnd(0, 3)) : Lines;
    vcols = Cols;
    bool panning = Cols < 132 && rnd(0, 4) == 0;
    if (panning) vcols = rnd(Cols + 1, 132);
    vemode = rnd(0, 3) == 0 ? E_ANSI : E_VT100;
    if (vemode == E_ANSI && AM && !XN) vemode = E_VT100; // its wrap would scroll twice
    bool colours = Ncolors > 0 && !cap::Setf.empty() && rnd(0, 2) == 0;
    if (colours) { // PC-screen mode: cells hold colour bytes
        pcscreen = 1;
        std::copy(std::begin(bwmap), std::end(bwmap), colormap);
    }
    eminit(Cols);
    vscregtop = 0;
    vscregbot = vlines - 1;
    VtJudge judge(Lines, Cols);
    judge.feed(con.take());
    std::ostringstream log;
    std::vector<std::string> ops;
    auto trail = [&] {
        std::string t;
        for (size_t k = ops.size() > 30 ? ops.size() - 30 : 0; k < ops.size(); k++)
            t += ops[k] + "\n";
        return log.str() + "... last operations:\n" + t;
    };
    log << (pcscreen ? "PC screen, " : "") << term << " seed " << seed << ": " << Lines << "x"
        << Cols << " emulated " << vlines << "x" << vcols << " mode " << vemode << "\n";
    const int attrs[] = {0,
                         A_BOLD,
                         A_UNDER,
                         A_BLINK,
                         A_REVERSE,
                         A_BOLD | A_REVERSE,
                         A_UNDER | A_BLINK,
                         A_PROTECT,
                         A_PROTECT | A_BOLD};
    int nops = rnd(20, 160);
    for (int i = 0; i < nops; i++) {
        int op = rnd(0, 99);
        int r1 = rnd(-2, vlines + 2), r2 = rnd(-2, vlines + 2), c1 = rnd(-2, vcols + 2);
        std::ostringstream o;
        if (op < 25) {
            int n = rnd(1, 12);
            for (int k = 0; k < n; k++)
                vputch(rnd(0, 15) == 0 && !pcscreen ? A_GLYPH | kGlyphs[rnd(0, 10)] : rnd(33, 126));
            o << "put " << n;
        } else if (op < 35) { // a run as the emulators hand it over, often past the row's end
            unsigned char run[200];
            int n = rnd(1, static_cast<int>(sizeof run));
            for (int k = 0; k < n; k++)
                run[k] = static_cast<unsigned char>(rnd(32, 126));
            for (int k = 0; k < n;)
                k += vputs(run + k, n - k);
            o << "puts " << n;
        } else if (op < 45) {
            cpos(r1, c1);
            o << "cpos " << r1 << "," << c1;
        } else if (op < 50) {
            int a = attrs[rnd(0, 8)];
            vsetattr(a);
            o << "attr " << a;
            if (pcscreen && rnd(0, 1)) {
                int col = rnd(0, 255) << 8;
                vcolor(col);
                o << " colour " << col;
            }
        } else if (op < 56) {
            newline();
            o << "newline";
        } else if (op < 58) {
            int k = rnd(0, 1);
            dowrap(k);
            o << "dowrap " << k;
        } else if (op < 60) {
            vuscroll(r1, 1);
            o << "vuscroll " << r1;
        } else if (op < 62) {
            vdscroll(r1);
            o << "vdscroll " << r1;
        } else if (op < 64) {
            viline(r1);
            o << "viline " << r1;
        } else if (op < 66) {
            vdline(r1);
            o << "vdline " << r1;
        } else if (op < 69) {
            vsline(r1, r2);
            o << "vsline " << r1 << "," << r2;
        } else if (op < 71) {
            int k = rnd(0, 1);
            vinsert(rnd(33, 126), k);
            o << "vinsert " << k;
        } else if (op < 73) {
            int k = rnd(0, 6);
            vdelete(k);
            o << "vdelete " << k;
        } else if (op < 76) {
            vclreol(vdestline, vdestcol);
            o << "vclreol";
        } else if (op < 78) {
            vclrbol(vdestline, vdestcol);
            o << "vclrbol";
        } else if (op < 79) {
            vclreos(vdestline, vdestcol);
            o << "vclreos";
        } else if (op < 81) {
            int k = rnd(-1, 20);
            verasech(vdestline, vdestcol, k);
            o << "verasech " << k;
        } else if (op < 82) {
            vclear();
            o << "vclear";
        } else if (op < 85) {
            int t = rnd(0, vlines - 1), b = rnd(0, vlines - 1);
            if (t > b) std::swap(t, b);
            vscregtop = t;
            vscregbot = b;
            vscregion = !(t == 0 && b == vlines - 1);
            vrelorg = rnd(0, 1);
            vorigin = vrelorg ? t : 0;
            o << "region " << t << "-" << b << " origin " << vrelorg;
        } else if (op < 86) {
            vscregtop = vorigin = vrelorg = vscregion = 0;
            vscregbot = vlines - 1;
            o << "no region";
        } else if (op < 88) {
            int a = rnd(0, 3);
            vsetlattr(r1, a);
            o << "lattr " << r1 << "=" << a;
        } else if (op < 90) {
            AMon = !AMon;
            o << "AMon " << AMon;
        } else if (op < 92) {
            vinsmode = !vinsmode;
            o << "insert mode " << vinsmode;
        } else if (op < 93) {
            vnoscroll = !vnoscroll;
            o << "noscroll " << vnoscroll;
        } else if (op < 95) {
            erasemode = !erasemode;
            o << "erasemode " << erasemode;
        } else if (op < 96) {
            scrleft();
            o << "scrleft";
        } else if (op < 98) {
            int c2 = rnd(0, vcols);
            _vredraw(r1, std::min(c1, c2), r2, std::max(c1, c2), 0);
            o << "redraw part";
        } else {
            vredraw();
            o << "vredraw";
        }
        ops.push_back(o.str());
        if (i % 16 == 15 || i == nops - 1 || getenv("VORN_PROP_EVERY")) {
            std::string bytes = con.take();
            judge.feed(bytes);
            std::string d = differences(judge);
            if (!d.empty() && getenv("VORN_PROP_EVERY")) {
                std::string esc;
                for (unsigned char ch : bytes)
                    esc += ch == 27  ? std::string("\\E")
                           : ch < 32 ? "^" + std::string(1, char(ch + 64))
                                     : std::string(1, char(ch));
                d += "bytes: " + esc + "\n";
            }
            if (!d.empty()) return trail() + d;
        }
    }
    judge.feed(con.take());
    if (judge.cursorRow() != vdestline || judge.cursorCol() != vdestcol - vbegcol) {
        std::ostringstream c;
        c << "cursor: console " << judge.cursorRow() << "," << judge.cursorCol() << " memory "
          << vdestline << "," << vdestcol << " window from " << vbegcol << "\n";
        return trail() + c.str();
    }
    // The whole picture again from memory, into a terminal that saw nothing else.
    VtJudge fresh(Lines, Cols);
    if (!cap::EA.empty()) {
        std::string ea = cap::EA;
        fresh.feed(ea);
    }
    vredraw();
    fresh.feed(con.take());
    std::string d = pictureDiff(judge, fresh);
    if (!d.empty()) return trail() + "redraw differs\n" + d;
    return "";
}

TEST_P(ScreenProperty, ConsoleShowsScreenMemory) {
    const PropRun& run = GetParam();
    int failures = 0;
    int first = 1, seeds = run.seeds;
    if (const char* n = getenv("VORN_PROP_SEEDS")) seeds = atoi(n); // longer runs by hand
    if (const char* one = getenv("VORN_PROP_SEED")) first = atoi(one);
    for (int s = first; s <= seeds && failures < 1; s++) {
        std::string f = session(run.term, static_cast<uint32_t>(s));
        if (!f.empty()) {
            ADD_FAILURE() << f;
            failures++;
        }
    }
    vscreenreset();
}

const PropRun kRuns[] = {
    {"xterm", 400},     {"vt100", 150},       {"linux", 150}, {"vorn-noce", 100},
    {"vorn-nocs", 100}, {"vorn-noaldl", 100}, {"ansi", 150},
};

INSTANTIATE_TEST_SUITE_P(Consoles, ScreenProperty, testing::ValuesIn(kRuns),
                         [](const testing::TestParamInfo<PropRun>& i) {
                             std::string n = i.param.term;
                             for (char& c : n)
                                 if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                             return n;
                         });

} // namespace
