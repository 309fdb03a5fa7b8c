// The rules of the virtual screen that the console-equals-memory property cannot see: cursor
// clamping, blank rows per emulation, erase and protected-field modes, panning of a 132-column
// screen, resizing, line attributes and rendition mapping.
#include "consoles.h"
#include "screen/textrun.h"
#include "screen/vscreen.h"

#include <gtest/gtest.h>

namespace {

using P = std::pair<int, int>;

struct Screen : testing::Test {
    std::unique_ptr<Console> con;
    void open(const char* term) {
        con.reset(); // its writer goes before the next one is set
        con = std::make_unique<Console>(term);
        ASSERT_EQ(con->status, 0);
        vscreenreset();
        Lines = vlines = 24, Cols = vcols = 80, vemode = EM_VT100;
        eminit(80), vscregbot = 23, con->take();
    }
    void SetUp() override { open("xterm"); }
    void TearDown() override { vscreenreset(), vemode = 8; }
    // Text at row, col (-1: where the cursor is) in a rendition.
    void put(int row, int col, const std::string& s, int attr = 0) {
        if (row >= 0) cpos(row, col);
        vsetattr(attr);
        for (unsigned char c : s)
            vputch(c);
        vsetattr(0);
    }
    std::string memrow(int r, int from = 0, int n = -1) {
        std::string s;
        for (int c = from; c < (n < 0 ? vcols : from + n); c++)
            s += static_cast<char>(vscreen[r][c] & 0xff);
        return s.erase(s.find_last_not_of(' ') + 1);
    }
    P cursor() const { return {vdestline, vdestcol}; }
};

TEST_F(Screen, CursorAddressingClampsAndDoubleWidthRows) {
    const struct {
        int top, bottom, origin, relorg, row, col;
        P want;
    } cases[] = {
        {0, 23, 0, 0, -1, -1, {0, 0}},    // CSI 0;0H and the like: 0, never -1
        {0, 23, 0, 0, 40, 200, {23, 79}}, // beyond the screen
        {5, 10, 5, 1, 0, 0, {5, 0}},      // origin mode: rows count from the region top
        {5, 10, 5, 1, 20, 3, {10, 3}},    // ... and stop at its bottom
        {5, 10, 5, 1, -9, 3, {0, 3}},     // a negative row still ends at 0
        {5, 10, 0, 0, 20, 3, {20, 3}},    // without origin mode the region does not bind
    };
    for (auto& c : cases) {
        vscregtop = c.top, vscregbot = c.bottom, vorigin = c.origin, vrelorg = c.relorg;
        cpos(c.row, c.col);
        EXPECT_EQ(cursor(), c.want) << c.row << "," << c.col;
    }
    vscregtop = vorigin = vrelorg = 0, vscregbot = 23;
    vsetlattr(3, 1), vsetlattr(4, 1);
    cpos(0, 0);
    cpos(3, 60); // from a single-width row: 60 is below 80, so clamped to the half
    EXPECT_EQ(vdestcol, 39);
    cpos(4, 10);
    cpos(3, 60); // from a double-width row: 60 is not below 40, so halved
    EXPECT_EQ(vdestcol, 30);
    AMon = 0;
    put(3, 0, std::string(50, 'w'));
    EXPECT_EQ(vdestcol, 39);
    EXPECT_EQ(memrow(3), std::string(40, 'w'));
    put(6, 0, std::string(70, 'a')); // setting a line attribute clears the right half
    vsetlattr(6, 2);
    EXPECT_EQ(memrow(6), std::string(40, 'a'));
    EXPECT_EQ(vdestcol, 39);
}

TEST_F(Screen, BlankRowRenditionDependsOnTheEmulation) {
    const P cases[] = {{EM_VT100, 0x0020},  {EM_VT52, 0x0020},   {EM_ANSI, 0x0020},
                       {EM_VT2208, 0x0020}, {EM_PCTERM, 0x0020}, {EM_WYSE60, 0x0020},
                       {32, 0x8020},        {128, 0x8020},       {EM_TTY, 0x8020},
                       {EM_IB3101, 0x1020}};
    for (auto [mode, blank] : cases) {
        vemode = mode;
        vsetattr(A_REVERSE), vuscroll(0, 1);
        int up = static_cast<int>(vscreen[23][5]);
        vsline(10, 2);
        int down = static_cast<int>(vscreen[2][5]);
        vsline(2, 10);
        vsetattr(0);
        EXPECT_EQ((std::vector<int>{up, down, static_cast<int>(vscreen[10][5])}),
                  std::vector<int>(3, blank))
            << "mode " << mode;
    }
}

TEST_F(Screen, ErasingAndInsertingRespectProtectedCells) {
    for (int selective : {1, 0}) {
        put(2, 0, "AB", A_PROTECT | A_UNDER);
        put(-1, 0, "cd", A_BOLD);
        erasemode = selective;
        vclreol(2, 0), erasemode = 0;
        // A selective erase keeps protected cells; of the others the character goes and the
        // rendition stays.
        const int kept[] = {A_PROTECT | A_UNDER | 'A', A_PROTECT | A_UNDER | 'B', A_BOLD | ' '};
        for (int c = 0; c < 3; c++)
            EXPECT_EQ(vscreen[2][c], selective ? kept[c] : ' ') << c;
    }
    put(5, 5, "keep", A_PROTECT);
    put(-1, 0, "lose");
    erasemode = 1;
    vclear(), erasemode = 0;
    EXPECT_EQ(memrow(5), "     keep");
    // Protected-field mode: an insert shifts only up to the first protected (bold) cell, and on
    // a protected cell it rings the bell.
    put(4, 0, "ab");
    put(-1, 0, "P", A_BOLD);
    put(-1, 0, "z");
    protect = 1;
    cpos(4, 0), vinsert('i', 0);
    EXPECT_EQ(memrow(4), "iaPz");
    con->take();
    cpos(4, 2), vinsert('j', 0);
    protect = 0;
    EXPECT_EQ(memrow(4), "iaPz");
    EXPECT_NE(con->take().find('\a'), std::string::npos);
}

TEST_F(Screen, WideScreenSwitchesTheConsoleOrPansInStepsOf16) {
    set132col(1); // xterm has the 132-column string
    EXPECT_EQ(P(Cols, col132), P(132, 1));
    EXPECT_NE(con->take().find("\033[?3h"), std::string::npos);
    cpos(0, 120);
    EXPECT_EQ(vbegcol, 0);
    set132col(0);
    EXPECT_EQ(Cols, 80);
    EXPECT_NE(con->take().find("\033[?3l"), std::string::npos);
    open("linux"); // no 132-column string
    set132col(1);
    EXPECT_EQ((std::vector<int>{vcols, Cols, col132}), (std::vector<int>{132, 80, 0}));
    const P steps[] = {{79, 0},   {85, 16}, {95, 16}, {96, 32},
                       {131, 64}, {70, 64}, {20, 16}, {5, 0}};
    for (auto [col, begin] : steps) {
        cpos(0, col);
        EXPECT_EQ(P(vbegcol, vendcol), P(begin, begin + 79)) << col;
    }
    put(3, 100, "far right");
    EXPECT_EQ(P(vbegcol, vcols), P(32, 132));
    EXPECT_EQ(memrow(3, 100, 9), "far right");
    scrleft();
    EXPECT_EQ(vbegcol, 0);
    set132col(0);
    EXPECT_EQ(vcols, 80);
}

TEST_F(Screen, VsetsizeCopiesAndClamps) {
    put(0, 0, "HELLO");
    put(23, 75, "END");
    vsetlattr(1, 1), vsetattr(A_UNDER);
    vsetsize(30, 100, 0);
    EXPECT_EQ(P(vlines, vcols), P(30, 100));
    EXPECT_EQ(memrow(0, 0, 5) + memrow(23, 75, 3), "HELLOEND");
    EXPECT_EQ(vscreen[0][85], A_UNDER | ' '); // beyond the old width: current rendition
    EXPECT_EQ(vscreen[27][3], A_UNDER | ' '); // beyond the old height
    EXPECT_EQ(vlattr[1], 1);
    cpos(29, 99), vsetsize(10, 40, 0);
    EXPECT_EQ(cursor(), P(9, 39));
    EXPECT_EQ(memrow(0, 0, 5), "HELLO");
    // Rows, columns, status line; the console's rows and columns and the emulated rows.
    const std::vector<int> sizes[] = {{0, 0, 0, 1, 1, 1},         {0, 0, 1, 2, 1, 1},
                                      {100, 200, 0, 66, 132, 66}, {-5, 40, 0, 1, 40, 1},
                                      {25, 80, 1, 25, 80, 24},    {66, 132, 0, 66, 132, 66}};
    for (auto& s : sizes) {
        vstatus = s[2];
        vsetsize(s[0], s[1], 1);
        EXPECT_EQ((std::vector<int>{Lines, Cols, vlines}), std::vector<int>(s.begin() + 3, s.end()))
            << s[0] << "x" << s[1];
        EXPECT_TRUE(vdestline < vlines && vdestcol < Cols);
    }
    vstatus = 0;
    // Before the screen exists only the sizes are recorded and no operation touches memory.
    vscreenreset();
    vsetsize(30, 90, 0);
    EXPECT_EQ(P(Lines, Cols), P(30, 90));
    EXPECT_EQ(vbegscr, nullptr);
    vclreol(5, 5), vuscroll(3, 1), vsline(1, 9), vinsert('x', 1), vdelete(4), vredraw();
}

TEST_F(Screen, NoScrollModeAndTheBottomRightCellOfAConsoleThatWrapsAtOnce) {
    put(0, 0, "top");
    vnoscroll = 1; // a line feed on the last row goes to the first, nothing scrolls
    cpos(23, 2), newline();
    vnoscroll = 0;
    EXPECT_EQ(vdestline, 0);
    EXPECT_EQ(memrow(0), "top");
    open("ansi"); // am without xn
    AMon = 1;
    put(23, 78, "ab");
    EXPECT_EQ(memrow(23), std::string(78, ' ') + "a"); // the last cell neither stored nor shown
}

TEST_F(Screen, RenditionMappingPcColoursAndGlyphs) {
    protrev = 1;
    vsetattr(A_BOLD | A_UNDER); // bold shown as reverse
    EXPECT_EQ(vcurattr, A_REVERSE | A_UNDER);
    protrev = 0, vemode = EM_IB3101;
    vsetattr(A_UNDER | A_REVERSE); // the 3101 shows both as bold
    EXPECT_EQ(vcurattr, A_BOLD);
    vemode = EM_VT100;
    vsetattr(0);
    cpos(1, 0), vputch(A_GLYPH | 18);
    pcset = 1; // PC box characters borrow the console's lines; PC 129 stays a look-alike
    for (int pc : {196, 179, 218, 217, 205, 129, 65})
        vputch(A_GLYPH | pc);
    pcset = 0;
    VtJudge judge(24, 80);
    judge.feed(cap::EA + con->take());
    EXPECT_EQ(judge.row(1), "──│┌┘─uA");
    // PC-screen mode: cells hold colour bytes.
    vscreenreset();
    pcscreen = 1, std::copy(std::begin(bwmap), std::end(bwmap), colormap);
    eminit(80);
    EXPECT_EQ(vscreen[0][0], 0x0720);
    vsetattr(A_REVERSE);
    EXPECT_EQ(vattr, 0x7000);
    vcolor(0x1e00), cpos(0, 0), vputch('c');
    EXPECT_EQ(vscreen[0][0], 0x1e00 | 'c');
    vsetpallete(0x8000, 0x4f, 0);
    EXPECT_EQ(P(colormap[8], bwmap[8]), P(0x4f00, 0x7000));
}

} // namespace

// Printable runs are judged eight bytes at a time: a byte that ends one is found at every offset.
TEST(TextRun, EndsAtTheFirstByteThatIsNotPrintableAscii) {
    for (unsigned char stop : {0x00, 0x1b, 0x1f, 0x7f, 0x80, 0xc3, 0xff})
        for (int at = 0; at < 20; at++) {
            unsigned char buf[20];
            for (int k = 0; k < 20; k++)
                buf[k] = k % 2 ? 0x20 : 0x7e; // the range's ends count
            buf[at] = stop;
            EXPECT_EQ(vprintrun(buf, 20), at) << int(stop) << " at " << at;
            EXPECT_EQ(vprintrun(buf, at), at);
        }
}
