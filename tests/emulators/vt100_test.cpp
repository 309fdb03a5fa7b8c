// The DEC/ANSI interpreter: what a byte stream leaves in screen memory and where the cursor
// stands, and that the console was told the same thing (judged by libvterm from the bytes the
// driver sent).
#include "emu.h"
#include "screen/interim_found.h"
#include "support/vtjudge.h"

#include <gtest/gtest.h>

#include <string>

namespace {
struct ScreenCase {
    const char* what;
    int emulation;
    std::string input;
    std::string screen; // rows joined with '\n', trailing blanks removed
    int row, col;       // cursor afterwards
};

std::string fill(int n, char c) {
    return std::string(static_cast<size_t>(n), c);
}

void check(const ScreenCase& c, int rows = 24) {
    Emu emu(c.emulation, "xterm", rows);
    VtJudge judge(rows, 80);
    emu.feed(c.input);
    judge.feed(emu.takeOutput());
    EXPECT_EQ(emu.screen(), c.screen) << c.what;
    EXPECT_EQ(vdestline, c.row) << c.what;
    EXPECT_EQ(vdestcol, c.col) << c.what;
    // The console shows what memory holds.
    for (int r = 0; r < vlines; r++)
        EXPECT_EQ(judge.row(r), emu.row(r)) << c.what << " row " << r;
}

// A stream fed whole and fed in two parts cut at `cut` leave the same screen.
std::string splitfeed(int emulation, const std::string& s, size_t cut) {
    Emu emu(emulation);
    emu.feed(s.substr(0, cut));
    emu.feed(s.substr(cut));
    char pos[32];
    std::snprintf(pos, sizeof pos, "@%d,%d", vdestline, vdestcol);
    return emu.screen() + pos + emu.takeReplies();
}
} // namespace

TEST(Vt100Screen, CursorMovementAndClamping) {
    const std::string many = "\033[" + [] {
        std::string p;
        for (int i = 0; i < 1000; i++)
            p += "7;";
        return p;
    }() + "H";
    const ScreenCase cases[] = {
        {"text and CR LF", EM_VT100, "ab\r\ncd", "ab\ncd", 1, 2},
        {"CUP", EM_VT100, "\033[3;5Hx", "\n\n    x", 2, 5},
        {"CUP defaults", EM_VT100, "\033[5;5H\033[;Hx", "x", 0, 1},
        {"CUU saturates", EM_VT100, "\033[10;10H\033[99999999999999A", "", 0, 9},
        {"CUD stops at the last row", EM_VT100, "\033[999B", "", 23, 0},
        {"CUF stops at the last column", EM_VT100, "\033[4294967297C", "", 0, 79},
        {"CUB stops at column 0", EM_VT100, "abc\033[9D", "abc", 0, 0},
        {"CNL and CPL", EM_VT100, "\033[5;5H\033[2E\033[1F", "", 5, 0},
        {"HPA, HPR, VPA, VPR", EM_VT100, "\033[10`\033[5a\033[4d\033[2e", "", 5, 14},
        {"HPA takes the second parameter when given", EM_VT100, "\033[3;20`", "", 0, 19},
        {"VPA clamps", EM_VT100, "\033[300d", "", 23, 0},
        {"a thousand parameters", EM_VT100, many, "", 6, 6},
        {"BS stops at column 0", EM_VT100, "a\b\b\bb", "b", 0, 1},
        {"CR and LF", EM_VT100, "abc\rX\n", "Xbc", 1, 1},
        {"VT and FF are line feeds", EM_VT100, "a\vb\fc", "a\n b\n  c", 2, 3},
        {"line-feed mode", EM_VT100, "\033[20hab\ncd", "ab\ncd", 1, 2},
        {"save and restore", EM_VT100, "\033[3;3H\0337\033[10;10H\0338x", "\n\n  x", 2, 3},
        {"CSI s and u", EM_ANSI, "\033[4;4H\033[s\033[H\033[ux", "\n\n\n   x", 3, 4},
    };
    for (const ScreenCase& c : cases)
        check(c);
}

TEST(Vt100Screen, EraseInsertDeleteWithClampedCounts) {
    const ScreenCase cases[] = {
        {"ICH", EM_VT100, "abcdef\033[1;3H\033[2@", "ab  cdef", 0, 2},
        {"ICH huge", EM_VT100, "abc\033[1;2H\033[99999@", "a", 0, 1},
        {"DCH", EM_VT100, "abcdef\033[1;2H\033[2P", "adef", 0, 1},
        {"DCH huge", EM_VT100, "abcdef\033[1;2H\033[65535P", "a", 0, 1},
        {"ECH", EM_VT100, "abcdef\033[1;2H\033[3X", "a   ef", 0, 1},
        {"ECH huge", EM_VT100, "abcdef\033[1;2H\033[99999999X", "a", 0, 1},
        {"EL 0", EM_VT100, "abcdef\033[1;3H\033[K", "ab", 0, 2},
        {"EL 1", EM_VT100, "abcdef\033[1;3H\033[1K", "   def", 0, 2},
        {"EL 2", EM_VT100, "abcdef\033[1;3H\033[2K", "", 0, 2},
        {"ED 0", EM_VT100, "aa\r\nbb\r\ncc\033[2;2H\033[J", "aa\nb", 1, 1},
        {"ED 1", EM_VT100, "aa\r\nbb\r\ncc\033[2;1H\033[1J", "\n b\ncc", 1, 0},
        {"ED 2 keeps the cursor", EM_VT100, "aa\r\nbb\033[2J", "", 1, 2},
        {"ED 2 homes in ANSI", EM_ANSI, "aa\r\nbb\033[2J", "", 0, 0},
        {"IL", EM_VT100, "1\r\n2\r\n3\033[2;1H\033[L", "1\n\n2\n3", 1, 0},
        {"DL", EM_VT100, "1\r\n2\r\n3\033[1;1H\033[2M", "3", 0, 0},
        {"IL huge", EM_VT100, "1\r\n2\r\n3\033[2;1H\033[999999L", "1", 1, 0},
        {"ESC R deletes a line", EM_VT100, "1\r\n2\r\n3\033[1;1H\033R", "2\n3", 0, 0},
        {"insert mode", EM_VT100, "abc\033[1;2H\033[4hXY\033[4lZ", "aXYZc", 0, 4},
        {"DECALN", EM_VT100, "\033#8",
         [] {
             std::string s;
             for (int r = 0; r < 24; r++)
                 s += fill(80, 'E') + (r < 23 ? "\n" : "");
             return s;
         }(),
         0, 0},
    };
    for (const ScreenCase& c : cases)
        check(c);
}

TEST(Vt100Screen, RegionsOriginModeAndScrolling) {
    const ScreenCase cases[] = {
        {"origin mode addresses inside the region", EM_VT100, "\033[2;5r\033[?6h\033[1;1Hx", "\nx",
         1, 1},
        {"origin mode clamps to the region", EM_VT100, "\033[2;5r\033[?6h\033[20;1Hx", "\n\n\n\nx",
         4, 1},
        {"the whole screen switches the region off", EM_VT100,
         "\033[1;24r\033[24;1H\n\033[?6h\033[3;1Hx", "\n\nx", 2, 1},
        {"an invalid region is off", EM_VT100, "\033[5;2r\033[24;1H1\n2",
         "\n\n\n\n\n\n\n\n\n"
         "\n\n\n\n\n\n\n\n\n\n\n\n\n1\n 2",
         23, 2},
        {"line feed scrolls only the region", EM_VT100,
         "top\033[2;3r\033[2;1Ha\r\nb\r\nc\033[24;1Hbottom",
         "top\nb\nc\n\n\n\n\n\n\n\n\n\n\n\n"
         "\n\n\n\n\n\n\n\n\nbottom",
         23, 6},
        {"reverse index at the region top scrolls down", EM_VT100,
         "\033[2;4r\033[2;1Ha\r\nb\r\nc\033[2;1H\033Mx", "\nx\na\nb", 1, 1},
        {"reverse index at row 0", EM_VT100, "a\033Mb", " b\na", 0, 2},
        {"IL inside a region", EM_VT100, "1\r\n2\r\n3\r\n4\033[1;3r\033[2;1H\033[L", "1\n\n2\n4", 1,
         0},
        {"DL inside a region", EM_VT100, "1\r\n2\r\n3\r\n4\033[1;3r\033[1;1H\033[M", "2\n3\n\n4", 0,
         0},
        {"SU and SD", EM_VT100, "1\r\n2\r\n3\033[S\033[T\033[T", "\n\n2\n3", 2, 1},
        {"IND and NEL", EM_VT100, "ab\033Dc\033Ed", "ab\n  c\nd", 2, 1},
        {"line feed at the bottom scrolls", EM_VT100, "first\033[24;1Hlast\n",
         [] {
             std::string s;
             for (int r = 0; r < 22; r++)
                 s += "\n";
             return s + "last";
         }(),
         23, 4},
    };
    for (const ScreenCase& c : cases)
        check(c);
}

TEST(Vt100Screen, WrapTabsAndControls) {
    const ScreenCase cases[] = {
        {"auto-wrap", EM_VT100, fill(80, 'a') + "b", fill(80, 'a') + "\nb", 1, 1},
        {"pending wrap is cleared by a move", EM_VT100, fill(80, 'a') + "\rb", "b" + fill(79, 'a'),
         0, 1},
        {"no auto-wrap overwrites the last column", EM_VT100, "\033[?7l" + fill(80, 'a') + "bc",
         fill(79, 'a') + "c", 0, 79},
        {"ANSI wraps at once", EM_ANSI, fill(80, 'a'), fill(80, 'a'), 1, 0},
        {"HT to the default stops", EM_VT100, "\ta\tb", "        a       b", 0, 17},
        {"HT never passes the last column", EM_VT100, "\033[1;75H\t\tx", fill(79, ' ') + "x", 0,
         79},
        {"HTS and TBC", EM_VT100, "\033[3g\033[1;4H\033H\r\tx\r\033[0g\tX", "   X", 0, 4},
        {"back tab", EM_VT100, "\033[1;20H\033[Zx\033[2Zy\033[99Zz", "z       y       x", 0, 1},
        {"ANSI tabs write spaces", EM_ANSI, "ab\tc", "ab      c", 0, 9},
        {"CAN cancels a sequence", EM_VT100, "\033[2\030Jx", "Jx", 0, 2},
        {"controls act inside a sequence", EM_VT100, "ab\033[\b2Cx", "ab x", 0, 4},
        {"DEL is ignored", EM_VT100, "a\177b", "ab", 0, 2},
        {"a window title is not shown", EM_VT100, "a\033]0;title\007b", "ab", 0, 2},
        {"hyperlinks end with ST", EM_VT100, "\033]8;;http://x\033\\link\033]8;;\033\\.", "link.",
         0, 5},
        {"an ESC ends a string and starts a sequence", EM_VT100, "x\033]2;t\033[1;3Hy", "x y", 0,
         3},
        {"CAN ends a string", EM_VT100, "\033_private\030ok", "ok", 0, 2},
        {"ESC in a sequence starts a new one", EM_VT100, "abc\033[1;1H\033[5\033[K", "", 0, 0},
        {"unknown finals are ignored", EM_VT100, "a\033[5y\033[?99hb\033~c", "abc", 0, 3},
        {"NEL in VT220 8-bit", EM_VT2208,
         "ab\x85"
         "c",
         "ab\nc", 1, 1},
        {"IND and RI in VT220 8-bit", EM_VT2208,
         "\033[5;1Ha\x84"
         "b\x8d\x8d"
         "c",
         "\n\n\n  c\na\n b", 3, 3},
    };
    for (const ScreenCase& c : cases)
        check(c);
}

TEST(Vt100Screen, ScoAnsiDifferences) {
    const ScreenCase cases[] = {
        {"ESC in a sequence cancels it", EM_SCOANSI, "abc\033[1;1H\033[5\033[K", "[Kc", 0, 2},
        {"FF clears the screen", EM_SCOANSI, "abc\r\ndef\f", "", 0, 0},
        {"no scrolling region", EM_SCOANSI, "\033[2;3r\033[25;1H\n", "", 24, 0},
        {"HT wraps at the last column", EM_SCOANSI, "\033[1;79H\tx", "\nx", 1, 1},
    };
    for (const ScreenCase& c : cases)
        check(c, 25);
}

TEST(Vt100Screen, SevenBitModeMasksEightBitBytes) {
    Emu emu(EM_VT100);
    maskpar = 1;
    emulate(EM_VT52, 0);
    emulate(EM_VT100, 0);
    // 0x9B loses its top bit and becomes ESC: ESC 1 is a sequence of its own.
    emu.feed("\xc1\xe2\x9b"
             "1mx");
    EXPECT_EQ(emu.row(0), "Abmx");
}

TEST(Vt100Screen, EightBitBytesAreTextOutsideVt220) {
    Emu emu(EM_VT100);
    emu.feed("a\x85"
             "b\x9b"
             "1m");
    EXPECT_EQ(emu.row(0), "a\x85"
                          "b\x9b"
                          "1m");
    EXPECT_EQ(vdestcol, 6);
}

TEST(Vt100Renditions, SgrBitsAndColours) {
    Emu emu(EM_VT100);
    emu.feed("\033[1;4;5;7mA\033[22mB\033[0mC\033[4mD\033[24;1mE\033[;7mF\033[7;27mG");
    EXPECT_EQ(emu.rend(0, 0), A_BOLD | A_UNDER | A_BLINK | A_REVERSE);
    EXPECT_EQ(emu.rend(0, 1), A_UNDER | A_BLINK | A_REVERSE);
    EXPECT_EQ(emu.rend(0, 2), 0);
    EXPECT_EQ(emu.rend(0, 3), A_UNDER);
    EXPECT_EQ(emu.rend(0, 4), A_BOLD);
    EXPECT_EQ(emu.rend(0, 5), A_REVERSE);
    EXPECT_EQ(emu.rend(0, 6), 0);
    // In VT100 "44" is two underlines, not a colour.
    emu.feed("\033[0;44mH");
    EXPECT_EQ(emu.rend(0, 7), A_UNDER);
}

TEST(Vt100Renditions, AnsiColoursGoToThePalette) {
    Emu emu(EM_ANSI);
    ASSERT_GT(Ncolors, 0);
    emu.feed("\033[44m");
    EXPECT_EQ(colormap[0], 0x1700); // blue background behind the grey foreground
    EXPECT_EQ(colormap[8], 0x7100); // reverse: blue on grey
    emu.feed("\033[31m");
    EXPECT_EQ(colormap[0], 0x1400);
    emu.feed("\033[0m");
    EXPECT_EQ(colormap[0], -1); // reset reloads the user's palette
    emu.feed("\033[<32m");      // permanent default foreground
    EXPECT_EQ(bwmap[0], 0x0200);
    EXPECT_EQ(usermap[0], 0x0200);
}

TEST(Vt100Modes, PrivateModesAndTheVt52Switch) {
    Emu emu(EM_VT100);
    emu.feed("\033[?1h\033=");
    EXPECT_EQ(appcur, 1);
    EXPECT_EQ(appkey, 1);
    emu.feed("\033[?1l\033>");
    EXPECT_EQ(appcur, 0);
    EXPECT_EQ(appkey, 0);
    emu.feed("\033[?2l");
    EXPECT_EQ(vemode & ~1, EM_VT52);
    EXPECT_EQ(emode, EM_VT52);
    emu.feed("\033<");
    EXPECT_EQ(vemode & ~1, EM_VT100);
    emu.feed("\033[2h\033[12l");
    EXPECT_EQ(kdisable, 1);
    EXPECT_EQ(dupmode, 2);
    emu.feed("\033[2l\033[12h");
    EXPECT_EQ(kdisable, 0);
    EXPECT_EQ(dupmode, 1);
}

TEST(Vt100Modes, SoftAndHardResetReturnToPowerOn) {
    Emu emu(EM_VT100);
    emu.feed("text\033[5;10r\033[?6h\033[?1h\033[4h\033[1m\033c");
    EXPECT_EQ(emu.screen(), "");
    EXPECT_EQ(vscregion, 0);
    EXPECT_EQ(vrelorg, 0);
    EXPECT_EQ(appcur, 0);
    EXPECT_EQ(vinsmode, 0);
    EXPECT_EQ(vcurattr, 0);
    EXPECT_EQ(state, 0);
    emu.feed("more\033[?6h\033[!p");
    EXPECT_EQ(vrelorg, 0);
    EXPECT_EQ(emu.screen(), "");
}

TEST(ScoAnsiKeys, HostProgrammedKeys) {
    struct Case {
        std::string input;
        int key;
        std::string want;
    };
    const Case cases[] = {
        {"\033Q0'hello'", 0, "hello"},
        {"\033Q1\"a^Jb\"", 1, "a*b"}, // ^ stores the next byte minus 32
        {"\033Q_|last|", 47, "last"}, // "0" + 47
        {"\033Q2xx", 2, ""},          // empty text removes the key
        {"\033Q3/" + fill(100, 'k') + "/", 3, fill(79, 'k')},
    };
    for (const Case& c : cases) {
        Emu emu(EM_SCOANSI, "xterm", 25);
        setprgkey(c.key, "old");
        if (c.want.empty()) setprgkey(c.key, "");
        emu.feed(c.input);
        EXPECT_EQ(prgkeys[c.key], c.want) << c.input;
        EXPECT_EQ(state, 0) << c.input;
    }
    // Key 48 is past the 48 slots: nothing is stored and the bytes after it are text.
    Emu emu(EM_SCOANSI, "xterm", 25);
    emu.feed("\033Q`'x'");
    for (int k = 0; k < NPRGKEYS; k++)
        EXPECT_EQ(prgkeys[k], "") << k;
    EXPECT_EQ(emu.row(0), "'x'");
}

TEST(ScoAnsiGlyphs, CsiGShowsOnlyGlyphsOfTheTable) {
    Emu emu(EM_SCOANSI, "xterm", 25);
    emu.feed("\033[65g\033[300g\033[66g");
    EXPECT_EQ(emu.row(0), "AB");
    EXPECT_EQ(vdestcol, 2);
}

TEST(Vt100Split, EveryCutOfAStreamGivesTheSameScreen) {
    const std::string stream = "\033[2J\033[3;20r\033[?6h\033[1;1Hhead\033[1;4;7mline\033[m\r\n"
                               "\033[4hins\033[4l\033[5;5H\033[2@\033[1P\033[K\033[6n\033#6"
                               "\033[?6l\033[r\033[24;1Hbottom\n\033M\033[3g\033H\tx";
    const std::string whole = splitfeed(EM_VT100, stream, stream.size());
    for (size_t cut = 0; cut < stream.size(); cut++)
        EXPECT_EQ(splitfeed(EM_VT100, stream, cut), whole) << "cut at " << cut;
}

TEST(TtyEmulation, PlainTextWrapsAndScrolls) {
    Emu emu(EM_TTY);
    emu.feed("ab\tc\bd\r\n" + fill(81, 'x'));
    EXPECT_EQ(emu.row(0), "ab      d");
    EXPECT_EQ(emu.row(1), fill(80, 'x'));
    EXPECT_EQ(emu.row(2), "x");
    EXPECT_EQ(vdestline, 2);
    EXPECT_EQ(vdestcol, 1);
    emu.feed("\033[2J"); // no interpretation: ESC goes to the console, the rest is text
    EXPECT_EQ(emu.row(2), "x[2J");
}
