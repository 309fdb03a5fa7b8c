// The subtle rules of the virtual screen: cursor clamping, blank rows per emulation, erase mode,
// panning of a 132-column screen, resizing, wrapping and line attributes.
#include "consoles.h"
#include "screen/vscreen.h"

#include <gtest/gtest.h>

namespace {

struct Screen : testing::Test {
    std::unique_ptr<Console> con;
    std::unique_ptr<VtJudge> judge;
    void open(const char* term, int rows = 24, int cols = 80) {
        con.reset(); // its writer goes before the next one is set
        con = std::make_unique<Console>(term);
        ASSERT_EQ(con->status, 0);
        vscreenreset();
        Lines = rows;
        Cols = cols;
        vlines = rows;
        vcols = cols;
        vemode = E_VT100;
        eminit(cols);
        vscregbot = vlines - 1;
        judge = std::make_unique<VtJudge>(rows, cols);
        sync();
    }
    void SetUp() override { open("xterm"); }
    void TearDown() override {
        vscreenreset();
        vemode = 8;
    }
    void sync() { judge->feed(con->take()); }
    void put(const std::string& s) {
        for (unsigned char c : s)
            vputch(c);
    }
    std::string memrow(int r, int from = 0, int n = -1) {
        std::string s;
        int end = n < 0 ? vcols : from + n;
        for (int c = from; c < end; c++)
            s += static_cast<char>(vscreen[r][c] & 0xff);
        while (!s.empty() && s.back() == ' ')
            s.pop_back();
        return s;
    }
};

TEST_F(Screen, EminitFillsAndPlacesTheCursor) {
    EXPECT_EQ(vdestline, 23);
    EXPECT_EQ(vdestcol, 0);
    for (int r = 0; r < 24; r++)
        for (int c = 0; c < 80; c++)
            ASSERT_EQ(vscreen[r][c], ' ');
    EXPECT_EQ(vendcol, 79);
    EXPECT_EQ(vscreen[1] - vscreen[0], vcolmax);
}

TEST_F(Screen, CursorAddressingClamps) {
    const struct {
        int top, bottom, origin, relorg;
        int row, col;
        int wantrow, wantcol;
    } cases[] = {
        {0, 23, 0, 0, -1, -1, 0, 0},    // CSI 0;0H and the like: 0, never -1
        {0, 23, 0, 0, 40, 200, 23, 79}, // beyond the screen
        {5, 10, 5, 1, 0, 0, 5, 0},      // origin mode: rows count from the region top
        {5, 10, 5, 1, 20, 3, 10, 3},    // ... and stop at its bottom
        {5, 10, 5, 1, -9, 3, 0, 3},     // a negative row still ends at 0
        {5, 10, 0, 0, 20, 3, 20, 3},    // without origin mode the region does not bind
    };
    for (auto& c : cases) {
        vscregtop = c.top;
        vscregbot = c.bottom;
        vorigin = c.origin;
        vrelorg = c.relorg;
        cpos(c.row, c.col);
        EXPECT_EQ(vdestline, c.wantrow) << c.row << "," << c.col;
        EXPECT_EQ(vdestcol, c.wantcol) << c.row << "," << c.col;
    }
    sync();
    EXPECT_EQ(judge->cursorRow(), vdestline);
    EXPECT_EQ(judge->cursorCol(), vdestcol);
}

TEST_F(Screen, CursorOnDoubleWidthRows) {
    vsetlattr(3, 1);
    vsetlattr(4, 1);
    cpos(0, 0);
    cpos(3, 60); // from a single-width row: 60 is below 80, so clamped to the half
    EXPECT_EQ(vdestcol, 39);
    cpos(4, 10);
    cpos(3, 60); // from a double-width row: 60 is not below 40, so halved
    EXPECT_EQ(vdestcol, 30);
    cpos(3, 0);
    AMon = 0;
    put(std::string(50, 'w'));
    EXPECT_EQ(vdestcol, 39);
    EXPECT_EQ(memrow(3), std::string(40, 'w'));
}

TEST_F(Screen, SettingALineAttributeClearsTheRightHalf) {
    cpos(6, 0);
    put(std::string(70, 'a'));
    vsetlattr(6, 2);
    EXPECT_EQ(memrow(6), std::string(40, 'a'));
    EXPECT_EQ(vdestcol, 39);
    sync();
    EXPECT_EQ(judge->row(6), std::string(40, 'a'));
}

TEST_F(Screen, BlankRowRenditionDependsOnTheEmulation) {
    const struct {
        int mode;
        uint16_t blank;
    } cases[] = {
        {E_VT100, 0x0020},  {E_VT52, 0x0020},   {E_ANSI, 0x0020}, {E_VT220_8, 0x0020},
        {E_PCTERM, 0x0020}, {E_WYSE60, 0x0020}, {32, 0x8020},     {128, 0x8020},
        {E_TTY, 0x8020},    {E_IB3101, 0x1020},
    };
    for (auto& c : cases) {
        vemode = c.mode;
        vsetattr(A_REVERSE);
        vuscroll(0, 1);
        EXPECT_EQ(vscreen[23][5], c.blank) << "vuscroll, mode " << c.mode;
        vsline(10, 2);
        EXPECT_EQ(vscreen[2][5], c.blank) << "vsline, mode " << c.mode;
        vsline(2, 10);
        EXPECT_EQ(vscreen[10][5], c.blank) << "vsline up, mode " << c.mode;
        vsetattr(0);
    }
}

TEST_F(Screen, EraseModeKeepsProtectedCells) {
    for (int selective : {1, 0}) {
        cpos(2, 0);
        vsetattr(A_PROTECT | A_UNDER);
        put("AB");
        vsetattr(A_BOLD);
        put("cd");
        vsetattr(0);
        erasemode = selective;
        vclreol(2, 0);
        erasemode = 0;
        if (selective) {
            EXPECT_EQ(vscreen[2][0], A_PROTECT | A_UNDER | 'A');
            EXPECT_EQ(vscreen[2][1], A_PROTECT | A_UNDER | 'B');
            EXPECT_EQ(vscreen[2][2], A_BOLD | ' '); // the character goes, the rendition stays
            sync();
            EXPECT_EQ(judge->row(2), "AB");
        } else {
            EXPECT_EQ(vscreen[2][0], ' ');
            EXPECT_EQ(vscreen[2][2], ' ');
            sync();
            EXPECT_EQ(judge->row(2), "");
        }
    }
    // A selective clear of the whole screen keeps them too.
    cpos(5, 5);
    vsetattr(A_PROTECT);
    put("keep");
    vsetattr(0);
    put("lose");
    erasemode = 1;
    vclear();
    erasemode = 0;
    EXPECT_EQ(memrow(5), "     keep");
    sync();
    EXPECT_EQ(judge->row(5), "     keep");
}

TEST_F(Screen, WideScreenOnANarrowConsolePansInStepsOf16) {
    open("linux"); // no 132-column string
    set132col(1);
    EXPECT_EQ(vcols, 132);
    EXPECT_EQ(Cols, 80);
    EXPECT_EQ(col132, 0);
    const struct {
        int col, begin;
    } steps[] = {{79, 0}, {85, 16}, {95, 16}, {96, 32}, {131, 64}, {70, 64}, {20, 16}, {5, 0}};
    for (auto& s : steps) {
        cpos(0, s.col);
        EXPECT_EQ(vbegcol, s.begin) << s.col;
        EXPECT_EQ(vendcol, s.begin + 79) << s.col;
    }
    cpos(3, 100);
    put("far right");
    sync();
    EXPECT_EQ(vbegcol, 32);
    EXPECT_EQ(judge->row(3), std::string(68, ' ') + "far right");
    scrleft();
    sync();
    EXPECT_EQ(vbegcol, 0);
    EXPECT_EQ(judge->row(3), "");
    set132col(0);
    EXPECT_EQ(vcols, 80);
    EXPECT_EQ(Cols, 80);
}

TEST_F(Screen, WideConsoleSwitchesTo132Columns) {
    set132col(1);
    EXPECT_EQ(Cols, 132);
    EXPECT_EQ(vcols, 132);
    EXPECT_EQ(col132, 1);
    EXPECT_NE(con->take().find("\033[?3h"), std::string::npos);
    cpos(0, 120);
    EXPECT_EQ(vbegcol, 0);
    set132col(0);
    EXPECT_EQ(Cols, 80);
    EXPECT_EQ(col132, 0);
    EXPECT_NE(con->take().find("\033[?3l"), std::string::npos);
}

TEST_F(Screen, VsetsizeCopiesAndClamps) {
    cpos(0, 0);
    put("HELLO");
    cpos(23, 75);
    put("END");
    vsetlattr(1, 1);
    vsetattr(A_UNDER);
    vsetsize(30, 100, 0);
    EXPECT_EQ(Lines, 30);
    EXPECT_EQ(Cols, 100);
    EXPECT_EQ(vlines, 30);
    EXPECT_EQ(vcols, 100);
    EXPECT_EQ(memrow(0, 0, 5), "HELLO");
    EXPECT_EQ(memrow(23, 75, 3), "END");
    EXPECT_EQ(vscreen[0][85], A_UNDER | ' '); // beyond the old width: current rendition
    EXPECT_EQ(vscreen[27][3], A_UNDER | ' '); // beyond the old height
    EXPECT_EQ(vlattr[1], 1);
    cpos(29, 99);
    vsetsize(10, 40, 0);
    EXPECT_EQ(vdestline, 9);
    EXPECT_EQ(vdestcol, 39);
    EXPECT_EQ(memrow(0, 0, 5), "HELLO");
    const struct {
        int rows, cols, status;
        int wantrows, wantcols, wantvlines;
    } sizes[] = {
        {0, 0, 0, 1, 1, 1},    {0, 0, 1, 2, 1, 1},      {100, 200, 0, 66, 132, 66},
        {-5, 40, 0, 1, 40, 1}, {25, 80, 1, 25, 80, 24}, {66, 132, 0, 66, 132, 66},
    };
    for (auto& s : sizes) {
        vstatus = s.status;
        vsetsize(s.rows, s.cols, 1);
        EXPECT_EQ(Lines, s.wantrows) << s.rows << "x" << s.cols;
        EXPECT_EQ(Cols, s.wantcols) << s.rows << "x" << s.cols;
        EXPECT_EQ(vlines, s.wantvlines) << s.rows << "x" << s.cols;
        EXPECT_LE(vdestline, vlines - 1);
        EXPECT_LE(vdestcol, Cols - 1);
    }
    vstatus = 0;
}

TEST_F(Screen, AutoWrapAndPendingWrap) {
    AMon = 0;
    cpos(5, 0);
    put(std::string(79, 'x') + "YZ");
    EXPECT_EQ(vdestcol, 79);
    EXPECT_EQ(vscreen[5][79] & 0xff, 'Z'); // the 81st overwrote the 80th
    EXPECT_EQ(XNwrap, 0);
    AMon = 1;
    cpos(7, 0);
    put(std::string(80, 'y'));
    EXPECT_EQ(vdestline, 7);
    EXPECT_EQ(vdestcol, 79);
    EXPECT_EQ(XNwrap, 1);
    put("n");
    EXPECT_EQ(vdestline, 8);
    EXPECT_EQ(vdestcol, 1);
    cpos(9, 0);
    put(std::string(80, 'z'));
    EXPECT_EQ(XNwrap, 1);
    cpos(9, 79); // a cursor move clears it
    EXPECT_EQ(XNwrap, 0);
    put("q");
    EXPECT_EQ(vdestline, 9);
    sync();
    EXPECT_EQ(judge->row(8), "n");
    EXPECT_EQ(judge->cursorRow(), 9);
    EXPECT_EQ(judge->cursorCol(), 79);
}

TEST_F(Screen, ANSIWrapsAtOnce) {
    vemode = E_ANSI;
    cpos(3, 0);
    put(std::string(80, 'a'));
    EXPECT_EQ(vdestline, 4);
    EXPECT_EQ(vdestcol, 0);
    EXPECT_EQ(XNwrap, 0);
}

TEST_F(Screen, LineFeedsAndRegions) {
    for (int r = 0; r < 24; r++) {
        cpos(r, 0);
        put("line" + std::to_string(r));
    }
    vscregtop = 5;
    vscregbot = 10;
    vscregion = 1;
    cpos(10, 3);
    newline();
    EXPECT_EQ(vdestline, 10);
    EXPECT_EQ(vdestcol, 3);
    EXPECT_EQ(memrow(5), "line6");
    EXPECT_EQ(memrow(10), "");
    EXPECT_EQ(memrow(11), "line11");
    EXPECT_EQ(memrow(4), "line4");
    vscregion = 0;
    vscregtop = 0;
    vscregbot = 23;
    cpos(23, 2);
    newline();
    EXPECT_EQ(memrow(0), "line1");
    EXPECT_EQ(memrow(23), "");
    EXPECT_EQ(vdestline, 23);
    vnoscroll = 1;
    newline();
    EXPECT_EQ(vdestline, 0);
    EXPECT_EQ(memrow(0), "line1");
    sync();
    EXPECT_EQ(judge->row(0), "line1");
    EXPECT_EQ(judge->row(4), "line6");
    EXPECT_EQ(judge->cursorRow(), 0);
}

TEST_F(Screen, BottomRightCellOnAConsoleThatWrapsAtOnce) {
    open("ansi"); // am without xn
    vemode = E_VT100;
    AMon = 1;
    cpos(23, 78);
    put("ab");
    EXPECT_EQ(vscreen[23][78] & 0xff, 'a');
    EXPECT_EQ(vscreen[23][79] & 0xff, ' '); // neither stored nor shown
    sync();
    EXPECT_EQ(judge->row(0), ""); // the console did not scroll
    EXPECT_EQ(judge->row(23), std::string(78, ' ') + "a");
}

TEST_F(Screen, InsertAndDeleteCells) {
    cpos(2, 0);
    put("abcdef");
    cpos(2, 2);
    vinsert('X', 1);
    EXPECT_EQ(memrow(2), "abXcdef");
    EXPECT_EQ(vdestcol, 3);
    cpos(2, 1);
    vdelete(3);
    EXPECT_EQ(memrow(2), "adef");
    // Protected-field mode: the shift stops at the first protected cell.
    cpos(4, 0);
    put("ab");
    vsetattr(A_BOLD);
    put("P");
    vsetattr(0);
    put("z");
    protect = 1;
    cpos(4, 0);
    vinsert('i', 0);
    EXPECT_EQ(memrow(4), "iaPz");
    con->take();
    cpos(4, 2);
    vinsert('j', 0); // the cursor cell itself is protected: bell
    EXPECT_EQ(memrow(4), "iaPz");
    EXPECT_NE(con->take().find('\a'), std::string::npos);
    protect = 0;
    sync();
}

TEST_F(Screen, RenditionMapping) {
    protrev = 1;
    vsetattr(A_BOLD | A_UNDER);
    EXPECT_EQ(vcurattr, A_REVERSE | A_UNDER);
    protrev = 0;
    vemode = E_IB3101;
    vsetattr(A_UNDER | A_REVERSE);
    EXPECT_EQ(vcurattr, A_BOLD);
    vemode = E_VT100;
    vsetattr(0);
}

TEST_F(Screen, PcScreenStoresColourBytes) {
    vscreenreset();
    pcscreen = 1;
    std::copy(std::begin(bwmap), std::end(bwmap), colormap);
    eminit(80);
    EXPECT_EQ(vscreen[0][0], 0x0720);
    vsetattr(A_REVERSE);
    EXPECT_EQ(vattr, 0x7000);
    vcolor(0x1e00);
    cpos(0, 0);
    put("c");
    EXPECT_EQ(vscreen[0][0], 0x1e00 | 'c');
    sync();
    EXPECT_EQ(judge->cell(0, 0).fg, 3);
    EXPECT_EQ(judge->cell(0, 0).bg, 4);
    vsetpallete(0x8000, 0x4f, 0);
    EXPECT_EQ(colormap[8], 0x4f00);
    EXPECT_EQ(bwmap[8], 0x7000);
}

TEST_F(Screen, AlignmentTestFillsTheScreen) {
    testdisp('E');
    EXPECT_EQ(vdestline, 0);
    EXPECT_EQ(vdestcol, 0);
    sync();
    for (int r = 0; r < 24; r++)
        EXPECT_EQ(judge->row(r), std::string(80, 'E')) << r;
}

TEST_F(Screen, GlyphsThroughTheGraphicsTable) {
    cpos(1, 0);
    vputch(A_GLYPH | 18);
    pcset = 1;
    vputch(A_GLYPH | 196); // PC single horizontal borrows the console's line
    vputch(A_GLYPH | 'A');
    pcset = 0;
    sync();
    EXPECT_EQ(judge->cell(1, 0).text, "─");
    EXPECT_EQ(judge->cell(1, 1).text, "─");
    EXPECT_EQ(judge->cell(1, 2).text, "A");
}

TEST_F(Screen, NoScreenYetRecordsSizesOnly) {
    vscreenreset();
    vsetsize(30, 90, 0);
    EXPECT_EQ(Lines, 30);
    EXPECT_EQ(Cols, 90);
    EXPECT_EQ(vbegscr, nullptr);
    // Operations before the screen exists touch no memory.
    vclreol(5, 5);
    vuscroll(3, 1);
    vsline(1, 9);
    vinsert('x', 1);
    vdelete(4);
    vredraw();
}

} // namespace
