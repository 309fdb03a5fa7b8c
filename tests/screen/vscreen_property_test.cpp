// The virtual screen's one invariant: after any sequence of screen operations, what the console
// shows (the driver's bytes fed into libvterm) is what screen memory holds, and a full redraw
// into a fresh terminal gives the same picture as the incremental updates.
#include "consoles.h"
#include "screen/vscreen.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>

namespace {

// The DEC glyphs the test draws (slots 11..25) and what libvterm shows for them ("": not drawn).
const int kGlyphs[] = {11, 12, 13, 14, 15, 18, 21, 22, 23, 24, 25};
const char* const kReal[] = {"┘", "┐", "┌", "└", "┼", "", "", "─", "", "", "├", "┤", "┴", "┬", "│"};
// PC colour numbers as the console numbers them.
const int kAnsi[8] = {0, 4, 2, 6, 1, 5, 3, 7};

bool mono() {
    return Ncolors <= 0 || (cap::Setc.empty() && cap::Setf.empty());
}

// A cell as the console shows it, in the terms memory can be compared in: the text, and unless
// blank its renditions, or on a colour console in PC-screen mode its colours and intensity
// (`all`: everything).
std::string seen(const CellView& v, bool all = false) {
    std::string s = v.text.empty() ? " " : v.text;
    if (s == " ") return s;
    bool colours = pcscreen && !mono();
    if (colours || all) s += " fg" + std::to_string(v.fg) + " bg" + std::to_string(v.bg);
    if (!colours || all) s += {' ', "Uu"[v.underline], "Kk"[v.blink], "Rr"[v.reverse]};
    return s + " b" + "01"[v.bold];
}

// What a memory cell should look like: a glyph as the real line-drawing character where the
// console can draw them, else the look-alike; a PC colour byte in its colours with intensity as
// bold, or on a monochrome console a background as reverse, blue as underline, intensity as
// bold and blink as blink.
std::string expected(vcell cell) {
    CellView v;
    int code = cell & 0xff, cb = (cell >> 8) & 0xff;
    v.text = std::string(1, static_cast<char>(code));
    if (pcscreen && (code < 32 || code == 127)) v.text = " ";
    if (!pcscreen && (cell & A_GLYPH))
        v.text = cap::GS.empty() ? std::string(1, char(_xegrset[code])) : kReal[code - 11];
    if (pcscreen && !mono())
        v.fg = kAnsi[cb & 7], v.bg = kAnsi[(cb >> 4) & 7], v.bold = cb & 0x88;
    else if (pcscreen)
        v.bold = cb & 0x08, v.underline = (cb & 0x0f) == 1, v.blink = cb & 0x80,
        v.reverse = cb & 0x70;
    else
        v.bold = cell & A_BOLD, v.underline = cell & A_UNDER, v.blink = cell & A_BLINK,
        v.reverse = cell & A_REVERSE;
    return seen(v);
}

// The first five console cells where `why(r, c)` finds a fault, "" when there is none.
template <class Why> std::string mismatches(Why why) {
    std::ostringstream d;
    int shown = 0;
    for (int r = 0; r < vlines && r < Lines; r++)
        for (int c = 0; c < Cols; c++) {
            if (r == Lines - 1 && c == Cols - 1 && AM && !XN) continue; // never written
            std::string w = why(r, c);
            if (!w.empty() && shown++ < 5) d << "(" << r << "," << c << ") " << w << "\n";
        }
    return d.str();
}

std::string differences(const VtJudge& j) {
    return mismatches([&](int r, int cc) {
        int vc = vbegcol + cc,
            width = vlattr[r] ? std::max(std::min(vcols, vcolmax) / 2, 1) : vcols;
        std::string want =
            expected(vc < vcols && vc < vcolmax && vc < width ? vscreen[r][vc] : ' ');
        std::string got = seen(j.cell(r, cc));
        return got == want ? "" : "console '" + got + "' memory '" + want + "'";
    });
}

// The operations, drawn with the weights (out of 100) below; failures name them by number.
// clang-format off
enum Op { Put, Puts, Cpos, Attr, Newline, Dowrap, Uscroll, Dscroll, Iline, Dline, Sline, Insert,
          Delete, Clreol, Clrbol, Clreos, Erasech, Clear, Region, NoRegion, Lattr, Autowrap,
          Insmode, Noscroll, Erasemode, Scrleft, RedrawPart, Redraw, NOPS };
const int kWeights[NOPS] = {25, 10, 10, 5, 6, 2, 2, 2, 2, 2, 3, 2, 2, 3, 2, 1, 2, 1, 3, 1, 2, 2,
                            2, 1, 2, 1, 2, 2};
const int kAttrs[] = {0, A_BOLD, A_UNDER, A_BLINK, A_REVERSE, A_BOLD | A_REVERSE,
                      A_UNDER | A_BLINK, A_PROTECT, A_PROTECT | A_BOLD};
// clang-format on

// One random session: geometry, then a sequence of operations. Returns "" or a failure text.
std::string session(const char* term, Source src, uint32_t seed) {
    std::mt19937 rng(seed);
    auto rnd = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    Console con(term, src);
    if (con.status != 0) return "tinit failed";
    vscreenreset();
    Lines = rnd(1, 6) == 1 ? rnd(1, 8) : rnd(8, 66);
    Cols = rnd(1, 6) == 1 ? rnd(2, 20) : rnd(20, 132);
    vlines = rnd(0, 3) == 0 ? std::max(1, Lines - rnd(0, 3)) : Lines;
    vcols = Cols;
    if (Cols < 132 && rnd(0, 4) == 0) vcols = rnd(Cols + 1, 132); // panning
    vemode = rnd(0, 3) == 0 ? EM_ANSI : EM_VT100;
    if (vemode == EM_ANSI && AM && !XN) vemode = EM_VT100; // its wrap would scroll twice
    // PC-screen mode, cells holding colour bytes.
    if (rnd(0, 2) == 0) pcscreen = 1, std::copy(std::begin(bwmap), std::end(bwmap), colormap);
    eminit(Cols);
    vscregtop = 0, vscregbot = vlines - 1;
    VtJudge judge(Lines, Cols);
    judge.feed(con.take());
    std::ostringstream log; // the session so far, for the failure text
    log << (pcscreen ? "PC screen, " : "") << term << " seed " << seed << ": " << Lines << "x"
        << Cols << " emulated " << vlines << "x" << vcols << " mode " << vemode << "\n";
    int nops = rnd(20, 160);
    for (int i = 0; i < nops; i++) {
        int op = 0;
        for (int pick = rnd(0, 99), acc = kWeights[0]; pick >= acc; acc += kWeights[++op]) {
        }
        int r1 = rnd(-2, vlines + 2), r2 = rnd(-2, vlines + 2), c1 = rnd(-2, vcols + 2);
        int k = 0; // the operation's own parameter
        if (op == Put) {
            k = rnd(1, 12);
            for (int n = 0; n < k; n++)
                vputch(rnd(0, 15) == 0 && !pcscreen ? A_GLYPH | kGlyphs[rnd(0, 10)] : rnd(33, 126));
        }
        if (op == Puts) { // a run as the emulators hand it over, often past the row's end
            unsigned char run[200];
            k = rnd(1, static_cast<int>(sizeof run));
            for (int n = 0; n < k; n++)
                run[n] = static_cast<unsigned char>(rnd(32, 126));
            for (int n = 0; n < k;)
                n += vputs(run + n, k - n);
        }
        if (op == Cpos) cpos(r1, c1);
        if (op == Attr) {
            vsetattr(kAttrs[rnd(0, 8)]);
            if (pcscreen && rnd(0, 1)) vcolor(k = rnd(0, 255) << 8);
        }
        if (op == Newline) newline();
        if (op == Dowrap) dowrap(k = rnd(0, 1));
        if (op == Uscroll) vuscroll(r1, 1);
        if (op == Dscroll) vdscroll(r1);
        if (op == Iline) viline(r1);
        if (op == Dline) vdline(r1);
        if (op == Sline) vsline(r1, r2);
        if (op == Insert) k = rnd(0, 1), vinsert(rnd(33, 126), k);
        if (op == Delete) vdelete(k = rnd(0, 6));
        if (op == Clreol) vclreol(vdestline, vdestcol);
        if (op == Clrbol) vclrbol(vdestline, vdestcol);
        if (op == Clreos) vclreos(vdestline, vdestcol);
        if (op == Erasech) verasech(vdestline, vdestcol, k = rnd(-1, 20));
        if (op == Clear) vclear();
        if (op == Region) {
            int t = rnd(0, vlines - 1), b = rnd(0, vlines - 1);
            vscregtop = std::min(t, b), vscregbot = std::max(t, b), vrelorg = k = rnd(0, 1);
            vscregion = vscregtop > 0 || vscregbot < vlines - 1, vorigin = vrelorg * vscregtop;
        }
        if (op == NoRegion) vscregtop = vorigin = vrelorg = vscregion = 0, vscregbot = vlines - 1;
        if (op == Lattr) vsetlattr(r1, k = rnd(0, 3));
        if (op == Autowrap) AMon = !AMon;
        if (op == Insmode) vinsmode = !vinsmode;
        if (op == Noscroll) vnoscroll = !vnoscroll;
        if (op == Erasemode) erasemode = !erasemode;
        if (op == Scrleft) scrleft();
        if (op == RedrawPart)
            k = rnd(0, vcols), _vredraw(r1, std::min(c1, k), r2, std::max(c1, k), 0);
        if (op == Redraw) vredraw();
        log << "op " << op << " r" << r1 << " r" << r2 << " c" << c1 << " k" << k << "\n";
        if (i % 16 == 15 || i == nops - 1 || getenv("VORN_PROP_EVERY")) {
            judge.feed(con.take());
            std::string d = differences(judge);
            if (!d.empty()) return log.str() + d;
        }
    }
    judge.feed(con.take());
    if (judge.cursorRow() != vdestline || judge.cursorCol() != vdestcol - vbegcol)
        return log.str() + "cursor: console " + std::to_string(judge.cursorRow()) + "," +
               std::to_string(judge.cursorCol()) + " memory " + std::to_string(vdestline) + "," +
               std::to_string(vdestcol - vbegcol);
    // The whole picture again from memory, into a terminal that saw nothing else.
    VtJudge fresh(Lines, Cols);
    fresh.feed(cap::EA);
    vredraw();
    fresh.feed(con.take());
    std::string d = mismatches([&](int r, int c) {
        std::string x = seen(judge.cell(r, c), true), y = seen(fresh.cell(r, c), true);
        return x == y ? "" : "incremental '" + x + "' redraw '" + y + "'";
    });
    return d.empty() ? "" : log.str() + "redraw differs\n" + d;
}

// clang-format off
struct PropRun { const char* term; Source src; int seeds; };
// clang-format on
class ScreenProperty : public testing::TestWithParam<PropRun> {};

TEST_P(ScreenProperty, ConsoleShowsScreenMemory) {
    int first = 1, seeds = GetParam().seeds;
    if (const char* n = getenv("VORN_PROP_SEEDS")) seeds = atoi(n); // longer runs by hand
    if (const char* one = getenv("VORN_PROP_SEED")) first = atoi(one);
    for (int s = first; s <= seeds; s++) {
        std::string f = session(GetParam().term, GetParam().src, static_cast<uint32_t>(s));
        ASSERT_TRUE(f.empty()) << f;
    }
    vscreenreset();
}

// The consoles of the program's own file with many seeds, the other sources and entries with a
// few: each has its own strings, padding and formatters.
// clang-format off
const PropRun kRuns[] = {
    {"xterm", Source::OwnFile, 400},       {"vt100", Source::OwnFile, 150},
    {"linux", Source::OwnFile, 150},       {"vorn-noce", Source::OwnFile, 100},
    {"vorn-nocs", Source::OwnFile, 100},   {"vorn-noaldl", Source::OwnFile, 100},
    {"ansi", Source::OwnFile, 150},        {"vorn-mono", Source::OwnFile, 30},
    {"xterm-256color", Source::OwnFile, 30}, {"vt220", Source::OwnFile, 30},
    {"screen", Source::OwnFile, 30},       {"tmux", Source::OwnFile, 30},
    {"vt100", Source::TermcapVar, 30},     {"xterm", Source::System, 40},
    {"vt100", Source::System, 30},         {"linux", Source::System, 30},
    {"screen", Source::System, 30},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Consoles, ScreenProperty, testing::ValuesIn(kRuns),
                         [](const testing::TestParamInfo<PropRun>& i) {
                             return consolename(i.param.term, i.param.src);
                         });

} // namespace
