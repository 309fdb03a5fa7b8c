// The DEC/ANSI interpreter: screen memory, cursor, renditions and what the console was told
// (judged by libvterm). Ordinary cursor, wrap, tab, region and scrolling behaviour is proven by
// vttest and the recorded streams; here are hostile input, clamps, and what neither reaches.
#include "emu.h"
#include "screen/keyboard.h"
#include "support/vtjudge.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

namespace {
struct ScreenCase {
    const char* what;
    int emulation;
    std::string input;
    std::string screen; // rows joined with '\n', trailing blanks removed
    int row, col;       // cursor afterwards
};

void check(const ScreenCase& c) {
    const int rows = c.emulation == EM_SCOANSI ? 25 : 24;
    Emu emu(c.emulation, "xterm", rows);
    VtJudge judge(rows, 80);
    emu.feed(c.input);
    judge.feed(emu.takeOutput());
    EXPECT_EQ(std::tuple(emu.screen(), vdestline, vdestcol), std::tuple(c.screen, c.row, c.col))
        << c.what;
    // The console shows what memory holds.
    for (int r = 0; r < vlines; r++)
        EXPECT_EQ(judge.row(r), emu.row(r)) << c.what << " row " << r;
}
} // namespace

TEST(Vt100Screen, HostileParametersAndBrokenSequences) {
    std::string many = "\033[";
    for (int i = 0; i < 1000; i++)
        many += "7;";
    // clang-format off
    const ScreenCase cases[] = {
        {"CUU saturates", EM_VT100, "\033[10;10H\033[99999999999999A", "", 0, 9},
        {"CUD stops at the last row", EM_VT100, "\033[999B", "", 23, 0},
        {"CUF stops at the last column", EM_VT100, "\033[4294967297C", "", 0, 79},
        {"CUB and BS stop at column 0", EM_VT100, "abc\033[9D\b\bx", "xbc", 0, 1},
        {"VPA clamps", EM_VT100, "\033[300d", "", 23, 0},
        {"a thousand parameters", EM_VT100, many + "H", "", 6, 6},
        {"ICH huge", EM_VT100, "abc\033[1;2H\033[99999@", "a", 0, 1},
        {"DCH huge", EM_VT100, "abcdef\033[1;2H\033[65535P", "a", 0, 1},
        {"ECH huge", EM_VT100, "abcdef\033[1;2H\033[99999999X", "a", 0, 1},
        {"IL huge", EM_VT100, "1\r\n2\r\n3\033[2;1H\033[999999L", "1", 1, 0},
        {"DL huge", EM_VT100, "1\r\n2\r\n3\033[2;1H\033[999999M", "1", 1, 0},
        {"origin mode clamps", EM_VT100, "\033[2;5r\033[?6h\033[20;1Hx", "\n\n\n\nx", 4, 1},
        {"bad region is off", EM_VT100, "\033[5;2r\033[24;1H1\n2", std::string(22, '\n') + "1\n 2",
         23, 2},
        {"CAN cancels a sequence", EM_VT100, "\033[2\030Jx", "Jx", 0, 2},
        {"controls act inside a sequence", EM_VT100, "ab\033[\b2Cx", "ab x", 0, 4},
        {"ESC in a sequence starts a new one", EM_VT100, "abc\033[1;1H\033[5\033[K", "", 0, 0},
        {"unknown finals, DEL", EM_VT100, "a\033[5y\033[?99hb\033~\177c", "abc", 0, 3},
        {"a window title is not shown", EM_VT100, "a\033]0;title\007b", "ab", 0, 2},
        {"OSC 8 ends at ST", EM_VT100, "\033]8;;http://x\033\\link\033]8;;\033\\.", "link.", 0, 5},
        {"ESC ends a string and starts a sequence", EM_VT100, "x\033]2;t\033[1;3Hy", "x y", 0, 3},
        {"CAN ends a string", EM_VT100, "\033_private\030ok", "ok", 0, 2},
        {"SCO: ESC in a sequence cancels it", EM_SCOANSI, "abc\033[1;1H\033[5\033[K", "[Kc", 0, 2},
    };
    // clang-format on
    for (const ScreenCase& c : cases)
        check(c);
}

TEST(Vt100Screen, RareSequencesAndEmulationDifferences) {
    // clang-format off
    const ScreenCase cases[] = {
        {"ECH", EM_VT100, "abcdef\033[1;2H\033[3X", "a   ef", 0, 1},
        {"insert mode", EM_VT100, "abc\033[1;2H\033[4hXY\033[4lZ", "aXYZc", 0, 4},
        {"ESC R deletes a line", EM_VT100, "1\r\n2\r\n3\033[1;1H\033R", "2\n3", 0, 0},
        {"IL in a region", EM_VT100, "1\r\n2\r\n3\r\n4\033[1;3r\033[2;1H\033[L", "1\n\n2\n4", 1, 0},
        {"SU and SD", EM_VT100, "1\r\n2\r\n3\033[S\033[T\033[T", "\n\n2\n3", 2, 1},
        {"reverse index at row 0", EM_VT100, "a\033Mb", " b\na", 0, 2},
        {"CNL and CPL", EM_VT100, "\033[5;5H\033[2E\033[1F", "", 5, 0},
        {"HPA, HPR, VPA, VPR", EM_VT100, "\033[10`\033[5a\033[4d\033[2e", "", 5, 14},
        {"HPA takes the second parameter when given", EM_VT100, "\033[3;20`", "", 0, 19},
        {"VT and FF are line feeds", EM_VT100, "a\vb\fc", "a\n b\n  c", 2, 3},
        {"line-feed mode", EM_VT100, "\033[20hab\ncd", "ab\ncd", 1, 2},
        {"no auto-wrap", EM_VT100, "\033[?7l" + std::string(80, 'a') + "bc",
         std::string(79, 'a') + "c", 0, 79},
        {"HT stops at column 79", EM_VT100, "\033[1;75H\t\tx", std::string(79, ' ') + "x", 0, 79},
        {"back tab", EM_VT100, "\033[1;20H\033[Zx\033[2Zy\033[99Zz", "z       y       x", 0, 1},
        {"ED 2 keeps the cursor", EM_VT100, "aa\r\nbb\033[2J", "", 1, 2},
        {"ANSI: ED 2 homes", EM_ANSI, "aa\r\nbb\033[2J", "", 0, 0},
        {"ANSI: CSI s and u", EM_ANSI, "\033[4;4H\033[s\033[H\033[ux", "\n\n\n   x", 3, 4},
        {"ANSI: wraps at once", EM_ANSI, std::string(80, 'a'), std::string(80, 'a'), 1, 0},
        {"ANSI: tabs write spaces", EM_ANSI, "ab\tc", "ab      c", 0, 9},
        {"8-bit NEL", EM_VT2208, "ab\x85", "ab", 1, 0},
        {"8-bit IND and RI", EM_VT2208, "\033[5;1Ha\204b\215\215c", "\n\n\n  c\na\n b", 3, 3},
        {"VT52: ESC Y with two spaces homes", EM_VT52, "abc\033Y  x", "xbc", 0, 1},
        {"VT52: ESC Y clamps", EM_VT52, "\033Y\177\177x", std::string(23, '\n') + std::string(79, ' ') + "x", 23, 79},
        {"VT52: moves and erases", EM_VT52, "abcd\033D\033D\033K\033A\033Bz", "ab\n  z", 1, 3},
        {"VT52: reverse line feed scrolls at row 0", EM_VT52, "a\033Ib", " b\na", 0, 2},
        {"VT52: no control sequences", EM_VT52, "\033[2Jx", "2Jx", 0, 3},
        {"SCO: FF clears the screen", EM_SCOANSI, "abc\r\ndef\f", "", 0, 0},
        {"SCO: no scrolling region", EM_SCOANSI, "\033[2;3r\033[25;1H\n", "", 24, 0},
        {"SCO: HT wraps at the last column", EM_SCOANSI, "\033[1;79H\tx", "\nx", 1, 1},
    };
    // clang-format on
    for (const ScreenCase& c : cases)
        check(c);
}

TEST(Vt100Screen, EightBitBytesInSevenBitModes) {
    // In VT100 the C1 range is text; with the top bit masked 0x9B becomes ESC, and ESC 1 is a
    // sequence of its own.
    for (int mask : {0, 1}) {
        Emu emu(EM_VT100);
        maskpar = mask;
        emulate(EM_VT100, 0);
        emu.feed("\301\342\2331mx");
        EXPECT_EQ(emu.row(0), mask ? "Abmx" : "\301\342\2331mx") << mask;
    }
}

TEST(Vt100Renditions, SgrBitsAndAnsiColours) {
    Emu emu(EM_VT100);
    // In VT100 "44" is two underlines, not a colour.
    emu.feed("\033[1;4;5;7mA\033[22mB\033[0mC\033[4mD\033[24;1mE\033[;7mF\033[7;27mG\033[0;44mH");
    // clang-format off
    const int want[] = {A_BOLD | A_UNDER | A_BLINK | A_REVERSE, A_UNDER | A_BLINK | A_REVERSE, 0,
                        A_UNDER, A_BOLD, A_REVERSE, 0, A_UNDER};
    // clang-format on
    for (int c = 0; c < 8; c++)
        EXPECT_EQ(emu.rend(0, c), want[c]) << c;
    Emu ansi(EM_ANSI);
    ASSERT_GT(Ncolors, 0);
    ansi.feed("\033[44m\033[31m"); // red on blue, and blue on red for reverse
    EXPECT_EQ(std::tuple(colormap[0], colormap[8]), std::tuple(0x1400, 0x4100));
    ansi.feed("\033[0m");
    EXPECT_EQ(colormap[0], -1); // reset reloads the user's palette
    ansi.feed("\033[<32m");     // permanent default foreground
    EXPECT_EQ(usermap[0], 0x0200);
}

// Bold with a colour stays bold with fewer than 16 colours and with 256, where the colour table
// sends bright colours as plain ones; plain text keeps the colour (VT100 keeps it in the palette).
TEST(Colour, BoldColouredTextStaysBoldOnEveryColourConsole) {
    for (const char* term : {"xterm", "xterm-256color", "tmux-256color"}) {
        Emu emu(EM_VT100, term);
        VtJudge console(24, 80);
        emu.feed("\033[H\033[1;31mred\033[0m plain \033[1mbold\033[m");
        console.feed(emu.takeOutput());
        CellView red = console.cell(0, 0), plain = console.cell(0, 4), bold = console.cell(0, 10);
        EXPECT_EQ(std::tuple(red.bold, red.fg, plain.bold, bold.bold), std::tuple(1, 1, 0, 1))
            << term;
    }
}

TEST(Vt100Modes, HostSetModesAndResets) {
    Emu emu(EM_VT100);
    // Cursor and keypad application modes, keyboard locked (KAM), local echo (SRM off).
    emu.feed("\033[?1h\033=\033[2h\033[12l");
    EXPECT_EQ(std::tuple(appcur, appkey, kdisable, dupmode), std::tuple(1, 1, 1, 2));
    emu.feed("\033[?1l\033>\033[2l\033[12h");
    EXPECT_EQ(std::tuple(appcur, appkey, kdisable, dupmode), std::tuple(0, 0, 0, 1));
    emu.feed("\033[?2l");
    EXPECT_EQ(emode, EM_VT52);
    emu.feed("\033<");
    EXPECT_EQ(vemode & ~1, EM_VT100);
    emu.feed("text\033[5;10r\033[?6h\033[?1h\033[4h\033[1m\033c");
    EXPECT_EQ(std::tuple(emu.screen(), vscregion, vrelorg, appcur, vinsmode, vcurattr, state),
              std::tuple("", 0, 0, 0, 0, 0, 0));
    emu.feed("more\033[?6h\033[!p"); // the soft reset keeps the screen
    EXPECT_EQ(std::tuple(emu.screen(), vrelorg), std::tuple("more", 0));
}

// Auto print with no printer: the complaint is shown once (its own line feed must not print
// again) and auto print stops.
TEST(Printer, AutoPrintWithoutAPrinterComplainsOnceAndStops) {
    Emu emu(EM_VT100);
    emu.feed("\033[?5ione\r\ntwo\r\nthree\r\n");
    const std::string out = emu.takeOutput(), msg = "Printing is not built yet";
    ASSERT_NE(out.find(msg), std::string::npos);
    EXPECT_EQ(out.find(msg, out.find(msg) + 1), std::string::npos);
    EXPECT_EQ(prauto, 0);
}

TEST(ScoAnsi, ProgrammedKeysAndGlyphsStayInBounds) {
    const std::tuple<std::string, int, std::string> cases[] = {
        {"\033Q0'hello'", 0, "hello"},
        {"\033Q1\"a^Jb\"", 1, "a*b"}, // ^ stores the next byte minus 32
        {"\033Q_|last|", 47, "last"}, // "0" + 47
        {"\033Q2xx", 2, ""},          // empty text removes the key
        {"\033Q3/" + std::string(100, 'k') + "/", 3, std::string(79, 'k')},
    };
    for (const auto& [input, key, want] : cases) {
        Emu emu(EM_SCOANSI, "xterm", 25);
        setprgkey(key, "old");
        emu.feed(input);
        EXPECT_EQ(std::tuple(prgkeys[key], state), std::tuple(want, 0)) << input;
    }
    // Slot 48 is past the last: nothing is stored and the rest is text; glyph 300 is not shown.
    Emu emu(EM_SCOANSI, "xterm", 25);
    emu.feed("\033Q`'x'\r\n\033[65g\033[300g\033[66g");
    for (int k = 0; k < NPRGKEYS; k++)
        EXPECT_EQ(prgkeys[k], "") << k;
    EXPECT_EQ(emu.screen(), "'x'\nAB");
}

TEST(Vt100Split, EveryCutOfAStreamGivesTheSameScreenAndReplies) {
    const std::string stream = "\033[2J\033[3;20r\033[?6h\033[1;1Hhead\033[1;4;7mline\033[m\r\n"
                               "\033[4hins\033[4l\033[5;5H\033[2@\033[1P\033[K\033[6n\033#6"
                               "\033[?6l\033[r\033[24;1Hbottom\n\033M\033[3g\033H\tx\033[c";
    auto feed = [&](size_t cut) {
        Emu emu(EM_VT100);
        emu.feed(stream.substr(0, cut));
        emu.feed(stream.substr(cut));
        return emu.screen() + "@" + std::to_string(vdestline) + "," + std::to_string(vdestcol) +
               emu.takeReplies();
    };
    const std::string whole = feed(stream.size());
    for (size_t cut = 0; cut < stream.size(); cut++)
        EXPECT_EQ(feed(cut), whole) << "cut at " << cut;
}

TEST(TtyEmulation, PlainTextWrapsAndScrolls) {
    Emu emu(EM_TTY);
    // No interpretation: ESC goes to the console, the rest is text.
    emu.feed("ab\tc\bd\r\n" + std::string(81, 'x') + "\033[2J");
    EXPECT_EQ(emu.screen(), "ab      d\n" + std::string(80, 'x') + "\nx[2J");
    EXPECT_EQ(std::tuple(vdestline, vdestcol), std::tuple(2, 4));
}
