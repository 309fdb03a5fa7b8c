// The console driver judged by libvterm: each primitive on several consoles (system database,
// the program's own termcap file, an entry held in TERMCAP), the fallbacks, the flush rule, the
// termcap reader's messages and its cursor-motion and colour formatters.
#include "consoles.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

namespace {

struct Case {
    const char* term;
    Source src;
    bool graphics; // the console draws real line-drawing glyphs
    bool colour;
};

// clang-format off
const Case kConsoles[] = {
    {"xterm", Source::System, true, true},       {"vt100", Source::System, true, false},
    {"linux", Source::System, true, true},       {"screen", Source::System, true, true},
    {"xterm", Source::OwnFile, true, true},      {"xterm-256color", Source::OwnFile, true, true},
    {"vt100", Source::OwnFile, true, false},     {"vt220", Source::OwnFile, true, false},
    {"linux", Source::OwnFile, true, true},      {"screen", Source::OwnFile, true, true},
    {"tmux", Source::OwnFile, true, true},       {"ansi", Source::OwnFile, false, true},
    {"vt100", Source::TermcapVar, true, false},  {"vorn-noce", Source::OwnFile, true, false},
    {"vorn-nocs", Source::OwnFile, true, false}, {"vorn-mono", Source::OwnFile, true, false},
};
// clang-format on

std::string caseName(const testing::TestParamInfo<Case>& i) {
    static const char* src[] = {"sys", "own", "var"};
    std::string n = std::string(src[static_cast<int>(i.param.src)]) + "_" + i.param.term;
    for (char& c : n)
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
    return n;
}

void put(const std::string& s) {
    for (unsigned char c : s)
        _ttyout(c);
}

class Primitives : public testing::TestWithParam<Case> {
  protected:
    void SetUp() override {
        con = std::make_unique<Console>(GetParam().term, GetParam().src);
        ASSERT_EQ(con->status, 0) << con->out;
        judge = std::make_unique<VtJudge>(Lines, Cols);
        judge->feed(con->take());
        model.assign(Lines, "");
    }
    // Writes a distinct 40-column text on every row.
    void fill() {
        for (int r = 0; r < Lines; r++) {
            char buf[64];
            snprintf(buf, sizeof buf, "row%02d-abcdefghijklmnopqrstuvwxyz0123456789", r);
            model[r] = std::string(buf).substr(0, 40);
            _cpos(r, 0);
            put(model[r]);
        }
        sync();
    }
    void sync() { judge->feed(con->take()); }
    void expectModel(const char* what) {
        sync();
        for (int r = 0; r < Lines; r++) {
            std::string m = model[r];
            while (!m.empty() && m.back() == ' ')
                m.pop_back();
            EXPECT_EQ(judge->row(r), m) << what << ", row " << r;
        }
    }
    std::unique_ptr<Console> con;
    std::unique_ptr<VtJudge> judge;
    std::vector<std::string> model;
};

TEST_P(Primitives, CursorPositions) {
    const int pos[][2] = {{0, 0},          {9, 9},  {10, 10}, {3, 3},  {0, 9},
                          {9, 0},          {10, 3}, {12, 40}, {0, 79}, {Lines - 1, 0},
                          {Lines - 1, 78}, {1, 32}, {13, 13}, {8, 8}};
    for (auto& p : pos) {
        _cpos(p[0], p[1]);
        sync();
        EXPECT_EQ(judge->cursorRow(), p[0]) << p[0] << "," << p[1];
        EXPECT_EQ(judge->cursorCol(), p[1]) << p[0] << "," << p[1];
        _ttyout('*');
        sync();
        EXPECT_EQ(judge->cell(p[0], p[1]).text, "*");
    }
    // Out of range is clamped to the console.
    _cpos(-5, 500);
    sync();
    EXPECT_EQ(judge->cursorRow(), 0);
    EXPECT_EQ(judge->cursorCol(), Cols - 1);
}

TEST_P(Primitives, Clears) {
    fill();
    _cpos(3, 20);
    _vclreol(3, 20);
    model[3].resize(20);
    expectModel("clear to end of line");
    EXPECT_EQ(judge->cursorRow(), 3);
    EXPECT_EQ(judge->cursorCol(), 20);

    _cpos(Lines - 1, 5);
    _vclreol(Lines - 1, 5);
    model[Lines - 1].resize(5);
    expectModel("clear to end of the last line");

    _cpos(10, 7);
    _vclres(10, 7);
    model[10].resize(7);
    for (int r = 11; r < Lines; r++)
        model[r].clear();
    expectModel("clear to end of screen");
    EXPECT_EQ(judge->cursorRow(), 10);
    EXPECT_EQ(judge->cursorCol(), 7);

    _vclear();
    model.assign(Lines, "");
    expectModel("clear");
}

TEST_P(Primitives, RegionScrollsBothWays) {
    fill();
    _cpos(3, 7);
    _vsline(5, 10); // up: row 5 lost, row 10 blank
    model.erase(model.begin() + 5);
    model.insert(model.begin() + 10, "");
    expectModel("scroll up");
    EXPECT_EQ(judge->cursorRow(), 3);
    EXPECT_EQ(judge->cursorCol(), 7);

    _vsline(12, 4); // down: row 12 lost, row 4 blank
    model.erase(model.begin() + 12);
    model.insert(model.begin() + 4, "");
    expectModel("scroll down");

    _vsline(0, Lines - 1); // the whole console
    model.erase(model.begin());
    model.push_back("");
    expectModel("whole screen up");

    _vsline(Lines - 1, 0);
    model.pop_back();
    model.insert(model.begin(), "");
    expectModel("whole screen down");
    EXPECT_EQ(judge->cursorRow(), 3);
    EXPECT_EQ(judge->cursorCol(), 7);
}

TEST_P(Primitives, InsertAndDeleteLine) {
    if (cap::AL.empty() || cap::DL.empty()) GTEST_SKIP() << "redrawn from screen memory";
    fill();
    _cpos(7, 0);
    _viline();
    model.insert(model.begin() + 7, "");
    model.pop_back();
    expectModel("insert line");
    _cpos(2, 0);
    _vdline();
    model.erase(model.begin() + 2);
    model.push_back("");
    expectModel("delete line");
}

TEST_P(Primitives, Renditions) {
    struct {
        int rend;
        char ch;
        bool bold, under, blink, rev;
    } const steps[] = {
        {0x1000, 'B', 1, 0, 0, 0}, {0x2000, 'U', 0, 1, 0, 0}, {0x4000, 'K', 0, 0, 1, 0},
        {0x8000, 'R', 0, 0, 0, 1}, {0xA000, 'X', 0, 1, 0, 1}, {0x0000, 'N', 0, 0, 0, 0},
        {0x3000, 'Y', 1, 1, 0, 0}, {0x0000, 'M', 0, 0, 0, 0},
    };
    _cpos(2, 0);
    for (auto& s : steps) {
        _vset(s.rend);
        _ttyout(s.ch);
    }
    sync();
    for (int i = 0; i < static_cast<int>(std::size(steps)); i++) {
        CellView c = judge->cell(2, i);
        EXPECT_EQ(c.text, std::string(1, steps[i].ch));
        EXPECT_EQ(c.bold, steps[i].bold) << steps[i].ch;
        EXPECT_EQ(c.underline, steps[i].under) << steps[i].ch;
        EXPECT_EQ(c.blink, steps[i].blink) << steps[i].ch;
        // The screen entry's standout is italics; its reverse comes from mr.
        EXPECT_EQ(c.reverse, steps[i].rev) << steps[i].ch;
    }
}

TEST_P(Primitives, Colours) {
    _cpos(5, 0);
    _vcolor(0x1700); // grey on blue
    _ttyout('a');
    _vcolor(0x7000); // black on grey
    _ttyout('b');
    _vcolor(0x0100); // blue on black
    _ttyout('c');
    _vcolor(0x1e00); // bright yellow on blue
    _ttyout('d');
    sync();
    CellView a = judge->cell(5, 0), b = judge->cell(5, 1), c = judge->cell(5, 2),
             d = judge->cell(5, 3);
    if (GetParam().colour) {
        EXPECT_EQ(a.fg, 7);
        EXPECT_EQ(a.bg, 4);
        EXPECT_EQ(b.fg, 0);
        EXPECT_EQ(b.bg, 7);
        EXPECT_EQ(c.fg, 4);
        EXPECT_EQ(d.fg, 3);
        EXPECT_EQ(d.bg, 4);
        if (Ncolors < 16) {
            EXPECT_TRUE(d.bold);
            EXPECT_FALSE(a.bold);
        }
    } else {
        // Monochrome: a background shows as reverse, blue as underline, intensity as bold.
        EXPECT_TRUE(a.reverse);
        EXPECT_TRUE(b.reverse);
        EXPECT_FALSE(c.reverse);
        EXPECT_TRUE(c.underline);
        EXPECT_TRUE(d.bold && d.reverse);
        EXPECT_EQ(a.fg, -1);
        EXPECT_EQ(a.bg, -1);
    }
}

TEST_P(Primitives, LineDrawingGlyphs) {
    // Slots of the DEC glyphs q x l k m j n and their PC box-drawing relatives.
    const int slots[] = {18, 25, 13, 12, 14, 11, 15, 164, 147, 186, 185};
    const char* real[] = {"─", "│", "┌", "┐", "└", "┘", "┼", "─", "│", "┌", "┘"};
    const char* plain[] = {"-", "|", "+", "+", "+", "+", "+", "-", "|", "+", "+"};
    _cpos(4, 0);
    for (int s : slots)
        _gttyout(_grset[s]);
    _ttyout('A'); // plain text follows in the normal set
    sync();
    for (size_t i = 0; i < std::size(slots); i++)
        EXPECT_EQ(judge->cell(4, static_cast<int>(i)).text,
                  GetParam().graphics ? real[i] : plain[i])
            << "slot " << slots[i];
    EXPECT_EQ(judge->cell(4, static_cast<int>(std::size(slots))).text, "A");
}

INSTANTIATE_TEST_SUITE_P(Consoles, Primitives, testing::ValuesIn(kConsoles), caseName);

// ---- fallbacks give the same bytes on screen as the capable console ------------------------

TEST(Fallbacks, NoClearToEndWritesSpacesAndRepositions) {
    Console c("vorn-noce");
    ASSERT_EQ(c.status, 0);
    EXPECT_TRUE(cap::CE.empty());
    EXPECT_TRUE(cap::CD.empty());
    c.take();
    _cpos(2, 75);
    _vclreol(2, 75);
    EXPECT_EQ(c.take(), "\033[3;76H     \033[3;76H");
}

TEST(Fallbacks, NoRegionScrollsByDeleteAndInsertLine) {
    Console c("vorn-nocs");
    ASSERT_EQ(c.status, 0);
    c.take();
    _cpos(1, 2);
    _vsline(3, 6);
    EXPECT_EQ(c.take(), "\033[2;3H\033[4;1H\033[M\033[7;1H\033[L\033[2;3H");
}

TEST(Fallbacks, RegionScrollSavesAndRestoresTheCursor) {
    Console c("vt100");
    c.take();
    _cpos(1, 2);
    _vsline(3, 6);
    EXPECT_EQ(c.take(), "\033[2;3H\0337\033[4;7r\033[7;1H\n\033[1;24r\0338");
    _vsline(6, 3);
    EXPECT_EQ(c.take(), "\0337\033[4;7r\033[4;1H\033M\033[1;24r\0338");
}

TEST(Fallbacks, StatusLineOnlyWithHs) {
    Console t("tmux");
    t.take();
    statline(1, 4);
    statline(2, 0);
    statline(3, 0);
    EXPECT_EQ(t.take(), "\033]0;\007\033[1;1H\033]0;\007");
    Console x("xterm");
    x.take();
    statline(1, 4);
    statline(2, 0);
    statline(0, 0);
    EXPECT_EQ(x.take(), "");
}

TEST(Fallbacks, CursorShapes) {
    Console c("xterm");
    c.take();
    const struct {
        int shape;
        const char* bytes;
    } steps[] = {
        {1, "\033[?12;25h"},
        {0, "\033[?25l"},
        {5, "\033[?12;25h"},
        {3, "\033[?12l\033[?25h"},
        {9, ""},
        {-1, "\033[?12l\033[?25h"},
        {0, "\033[?25l"},
        {5, "\033[?12l\033[?25h"},
    };
    for (auto& s : steps) {
        setcursor(s.shape);
        EXPECT_EQ(c.take(), s.bytes) << s.shape;
    }
}

TEST(Graphics, RemapLetsBoxCharactersBorrowRealGlyphs) {
    Console c("xterm");
    EXPECT_EQ(_grset[18], 0x100 | 'q');
    EXPECT_EQ(_grset[164], 0x100 | 'q'); // PC 196 single horizontal
    EXPECT_EQ(_grset[173], 0x100 | 'q'); // PC 205 double horizontal
    EXPECT_EQ(_grset[129 - 32], 'u');    // PC 129 u-umlaut stays a look-alike
    Console a("ansi");
    EXPECT_EQ(_grset[18], '-');
    EXPECT_EQ(_grset[164], '-');
}

TEST(Graphics, GaGmAndCornerStrings) {
    Console c("vt100");
    ASSERT_EQ(setcap("Ga", "@AB@C"), 1); // slots 0, 1 and 3
    EXPECT_EQ(_grset[0], 0x100 | 'A');
    EXPECT_EQ(_grset[1], 0x100 | 'B');
    EXPECT_EQ(_grset[2], 0x100 | 'a'); // from ac
    EXPECT_EQ(_grset[3], 0x100 | 'C');
    setcap("G4", "Z");
    EXPECT_EQ(_grset[11], 0x100 | 'j'); // ac comes after the corner strings
    EXPECT_EQ(_grset[36], 0x100 | 'Z');
    EXPECT_EQ(_grset[42], 0x100 | 'Z');
    setcap("Gm", "0123456789abcdeZ");
    for (int i = 0; i < 15; i++)
        EXPECT_EQ(extcolor[i], i);
    EXPECT_EQ(extcolor[15], 7); // a bad digit keeps its entry
    EXPECT_EQ(setcap("zz", "x"), 0);
    // A byte above 0x7f in ac is taken as a console byte; the glyph letter must be a slot.
    setcap("ac", "q\xc4\xff\x01");
    EXPECT_EQ(_grset[18], 0x1c4);
}

// ---- the flush rule --------------------------------------------------------------------------

struct Flush : testing::Test {
    std::unique_ptr<Console> con;
    uint16_t slot[4] = {};
    void SetUp() override {
        con = std::make_unique<Console>("vt100");
        con->take();
        con->writes = 0;
    }
    void queueReceived(bool waiting) {
        comq.size = 4;
        comq.wpos = waiting ? 1 : 0;
        comq.rpos = 0;
    }
    void TearDown() override { comq = CharQueue{}; }
};

TEST_F(Flush, EachByteShowsAtOnceWhenNothingIsReceived) {
    put("abc");
    EXPECT_EQ(con->writes, 3);
    EXPECT_EQ(con->out, "abc");
}

TEST_F(Flush, BurstWhileDataIsQueuedBecomesFewWrites) {
    queueReceived(true);
    for (int i = 0; i < 2000; i++)
        _ttyout('x');
    EXPECT_EQ(con->writes, 3); // 512-byte writes
    EXPECT_EQ(con->out.size(), 1536u);
    queueReceived(false);
    _ttyout('y'); // the port ran dry: everything shows
    EXPECT_EQ(con->writes, 4);
    EXPECT_EQ(con->out.size(), 2001u);
}

TEST_F(Flush, ObufsizSetsTheLevelWhileDataIsQueued) {
    queueReceived(true);
    obufsiz = 100;
    for (int i = 0; i < 350; i++)
        _ttyout('x');
    EXPECT_EQ(con->writes, 3);
    EXPECT_EQ(con->out.size(), 300u);
    obufsiz = 4096; // more than the buffer holds counts as full
    for (int i = 0; i < 600; i++)
        _ttyout('x');
    EXPECT_EQ(con->out.size() % 512, 300u % 512);
}

TEST_F(Flush, PrimitiveIsOneWriteAndBatchWaitsForAFullBuffer) {
    _cpos(1, 2);
    _vsline(3, 6);
    EXPECT_EQ(con->writes, 2);
    vemode = 1;
    for (int i = 0; i < 700; i++)
        _ttyout('x');
    EXPECT_EQ(con->writes, 3);
    _vclear(); // a primitive under the batch flag does not flush either
    EXPECT_EQ(con->writes, 3);
    vemode = 0;
    oflush();
    EXPECT_EQ(con->writes, 4);
}

// ---- the termcap reader and its messages ----------------------------------------------------

struct TermcapFile : testing::Test {
    std::filesystem::path dir;
    void SetUp() override {
        dir = std::filesystem::temp_directory_path() /
              ("vorn-tc-" + std::to_string(getpid()) + "-" +
               testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir);
    }
    void TearDown() override {
        std::filesystem::remove_all(dir);
        setconswriter(nullptr);
        unsetenv("TERMCAP");
        qflag = 0;
    }
    // Writes the file, points TERMCAP at it and runs tinit with console output captured.
    int run(const std::string& content, const char* term, std::string& out, bool console = true) {
        std::string file = (dir / "termcap.qal").string();
        std::ofstream(file) << content;
        displayreset();
        qflag = console ? 0 : 1;
        setenv("TERMCAP", file.c_str(), 1);
        if (term) setenv("TERM", term, 1);
        out.clear();
        setconswriter([&out](const char* p, size_t n) { out.append(p, n); });
        int r = tinit(term);
        oflush();
        return r;
    }
};

TEST_F(TermcapFile, StartupMessages) {
    std::string out;
    std::string loop = "loopa|a:co#80:tc=loopb:\nloopb|b:li#20:tc=loopa:\n";
    const struct {
        const char* content;
        const char* term;
        int result;
        std::string msg;
    } cases[] = {
        {"", nullptr, -1, "Terminal type variable TERM not set\n"},
        {"", "", -1, "Terminal type variable TERM not set\n"},
        {"x|y:co#80:\n", "nosuchterm", -1,
         "Can't find terminal type from TERM variable: nosuchterm\n"},
        {loop.c_str(), "loopa", -1,
         "Infinite tc= loop\r\nCan't find terminal type from TERM variable: loopa\n"},
        {"bad|x:co#80:tc=vt100\n", "bad", -1,
         "Bad termcap entry\r\nCan't find terminal type from TERM variable: bad\n"},
        {"nocolon|x\n", "nocolon", -1,
         "Bad termcap entry\r\nCan't find terminal type from TERM variable: nocolon\n"},
        {"t|x:tc=missing:\n", "t", -1, "Can't find terminal type from TERM variable: t\n"},
    };
    for (auto& c : cases) {
        EXPECT_EQ(run(c.content, c.term, out), c.result) << c.content;
        EXPECT_EQ(out, c.msg) << c.content;
    }
    // Without a console a missing type means 80 x 24.
    EXPECT_EQ(run("", nullptr, out, false), 0);
    EXPECT_EQ(out, "");
    EXPECT_EQ(Lines, 24);
    EXPECT_EQ(Cols, 80);
}

TEST_F(TermcapFile, TcChainOf32IsFollowedAnd33IsALoop) {
    for (int depth : {32, 33}) {
        std::string content;
        for (int i = 0; i < depth; i++)
            content += "c" + std::to_string(i) + "|x:tc=c" + std::to_string(i + 1) + ":\n";
        content += "c" + std::to_string(depth) + "|end:co#99:cm=\\E[%i%d;%dH:\n";
        std::string out;
        int r = run(content, "c0", out);
        if (depth == 32) {
            EXPECT_EQ(r, 0);
            EXPECT_EQ(out, "");
            EXPECT_EQ(Cols, 99);
        } else {
            EXPECT_EQ(r, -1);
            EXPECT_EQ(out,
                      "Infinite tc= loop\r\nCan't find terminal type from TERM variable: c0\n");
        }
    }
}

TEST_F(TermcapFile, OverLongEntryIsCutAndUsed) {
    std::string e = "long|x:co#90:";
    while (e.size() < 3000)
        e += "zz=aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa:";
    e += "li#33:\n";
    std::string out;
    EXPECT_EQ(run(e, "long", out), 0);
    EXPECT_EQ(out, "Termcap entry too long\r\n");
    EXPECT_EQ(Cols, 90);
    EXPECT_EQ(Lines, 24); // li was beyond the cut
    EXPECT_LE(tbuf.size(), 1200u);
    // The joined entry of a tc= chain is cut the same way.
    std::string j = "j|x:" + std::string(700, 'q') + ":tc=k:\nk|y:" + std::string(700, 'r') + ":\n";
    EXPECT_EQ(run(j, "j", out), 0);
    EXPECT_EQ(out, "Termcap entry too long\r\n");
}

TEST_F(TermcapFile, ValuesNumbersFlagsAndCancels) {
    std::string content = "# comment|v:co#10:\n"
                          "v|valued:am:xn@:co#0132:li#30:Co#99999999999:\\\n"
                          "\t:cm=\\E[%i%d;%dH:ce=^[[K:so=\\E\\^\\\\\\:\\101\\0x:\\\n"
                          "\t:us=\\n\\r\\t\\b\\f:ue@:ue=\\E[24m:md=^?:bad=\\:xx#:\n";
    std::string out;
    ASSERT_EQ(run(content, "valued", out), 0) << out;
    EXPECT_EQ(Cols, 90); // 0132 is octal
    EXPECT_EQ(Lines, 30);
    EXPECT_EQ(Ncolors, 1000000); // huge numbers stop growing
    EXPECT_EQ(AM, 1);
    EXPECT_EQ(XN, 0);
    EXPECT_EQ(cap::CE, "\033[K");
    EXPECT_EQ(cap::SO, "\033^\\:A\200x");
    EXPECT_EQ(cap::US, "\n\r\t\b\f");
    EXPECT_TRUE(cap::UE.empty()); // cancelled before its value
    EXPECT_EQ(cap::MD, "\177");
    EXPECT_EQ(cap::MR, cap::SO); // mr, mb default to so, me to se
    EXPECT_EQ(zztgetnum("xx"), -1);
    EXPECT_EQ(zztgetnum("zz"), -1);
    EXPECT_EQ(zztgetflag("am"), 1);
    EXPECT_EQ(zztgetflag("xn"), 0);
    // Unterminated escapes at the very end of a value stay within the entry.
    std::string v;
    EXPECT_TRUE(ctgetstr("x|y:ab=\\", "ab", v));
    EXPECT_EQ(v, "\\");
    EXPECT_TRUE(ctgetstr("x|y:ab=^", "ab", v));
    EXPECT_EQ(v, "^");
    EXPECT_TRUE(ctgetstr("x|y:ab=\\0", "ab", v));
    EXPECT_EQ(v, "\200");
}

TEST_F(TermcapFile, MagicCookiesPrefixStandoutWithBackspaces) {
    std::string out;
    ASSERT_EQ(run("m|x:sg#2:so=\\E[7m:se=\\E[m:\n", "m", out), 0);
    EXPECT_EQ(XS, 1);
    EXPECT_EQ(cap::SO, "\b\b\033[7m");
    EXPECT_EQ(cap::ME, "\033[m");
}

TEST_F(TermcapFile, TermcapVariableHoldsTheEntry) {
    displayreset();
    qflag = 0;
    setenv("TERM", "myterm", 1);
    setenv("TERMCAP", "myterm|mine:co#100:li#30:cm=\\E[%i%d;%dH:", 1);
    setenv("VORNDIR", "/nonexistent", 1);
    setenv("HOME", "/nonexistent", 1);
    EXPECT_EQ(tinit("myterm"), 0);
    EXPECT_EQ(ourtermcap, 1);
    EXPECT_EQ(Cols, 100);
    EXPECT_EQ(Lines, 30);
    // A tc= in the variable's entry is looked up in the program's file on the search path.
    displayreset();
    setenv("TERMCAP", "myterm|mine:co#100:tc=vt100:", 1);
    setenv("VORNDIR", (std::string(VORN_SOURCE_DIR) + "/data").c_str(), 1);
    EXPECT_EQ(tinit("myterm"), 0);
    EXPECT_EQ(Cols, 100);
    EXPECT_EQ(cap::CE, "\033[K");
    // Another type than TERM is read from the file.
    displayreset();
    EXPECT_EQ(tinit("vt220"), 0);
    EXPECT_EQ(cap::SF, "\033D");
}

TEST_F(TermcapFile, FirstSourceDecidesLaterLookups) {
    displayreset();
    setenv("TERMCAP", ownfile().c_str(), 1);
    ASSERT_EQ(zztgetent("vt100"), 1);
    EXPECT_EQ(ourtermcap, 1);
    EXPECT_EQ(zztgetent("xterm-color"), 0); // not in the file; the system is not asked now
    displayreset();
    setenv("TERMCAP", "/nonexistent/file", 1);
    ASSERT_EQ(zztgetent("vt100"), 1);
    EXPECT_EQ(ourtermcap, 0);
}

// ---- formatters ---------------------------------------------------------------------------

TEST(Ctgoto, PercentCodes) {
    const struct {
        const char* cm;
        int col, row;
        const char* up;
        const char* bc;
        std::string want;
    } cases[] = {
        {"\033[%i%d;%dH", 5, 2, "", "", "\033[3;6H"},
        {"\033[%i%d;%dH", 131, 65, "", "", "\033[66;132H"},
        {"%r%d,%d", 5, 2, "", "", "5,2"},
        {"\033Y%+ %+ ", 3, 7, "", "", "\033Y'#"},
        {"\033=%+ %+ ", 79, 23, "", "", "\033=7o"},
        {"%2;%3", 1, 2, "", "", "02;001"},
        {"%%%d", 0, 4, "", "", "%4"},
        {"%n%.%.", 1, 2, "", "", "\x62\x61"},
        {"%<\005\020%<\005\020", 9, 3, "", "", "\x13\x0b\b\b"},
        // Bytes the line would eat: the value moves on and up or bc compensates.
        {"\033Y%.%.", 9, 10, "\033A", "\033D", "\033Y\x0b\x0b\033A\033D\033D"},
        {"\033Y%.%.", 0, 0, "\033A", "", "\033Y\x01\x01\033A\b"},
        {"\033Y%.%.", 20, 3, "\033A", "", "\033Y\x04\x14\033A"},
        {"\033Y%.%.", 3, 10, "", "", "\033Y\n\x04\b"}, // no up: the row goes out as it is
        {"%r%.%.", 10, 0, "^", "<", "\x0b\x01<^"},
        {"%x", 1, 1, "", "", "OOPS"},
        {"%d%d%d", 1, 1, "", "", "OOPS"},
        {"abc%", 1, 1, "", "", "OOPS"},
        {"%+", 1, 1, "", "", "OOPS"},
        {"%<a", 1, 1, "", "", "OOPS"},
    };
    for (auto& c : cases)
        EXPECT_EQ(ctgoto(c.cm, c.col, c.row, c.up, c.bc), c.want) << c.cm;
}

TEST(Tcolor, PercentCodes) {
    const struct {
        const char* fmt;
        int fg, bg;
        std::string want;
    } cases[] = {
        {"\033[3%d;4%dm", 1, 4, "\033[31;44m"},
        {"%i%d/%d", 1, 2, "2/3"},
        {"%r%d/%d", 1, 2, "2/1"},
        {"%2:%3", 7, 12, "07:012"},
        {"%d%d%d", 1, 2, "121"},
        {"%.", 65, 0, "A"},
        {"%+A%+A", 1, 2, "BC"},
        {"%%%d", 200, 0, "%200"},
        {"%.", 0, 0, "OOPS"},
        {"%+\001", 255, 0, "OOPS"},
        {"%z", 1, 1, "OOPS"},
        {"%", 1, 1, "OOPS"},
    };
    for (auto& c : cases)
        EXPECT_EQ(tcolor(c.fmt, c.fg, c.bg), c.want) << c.fmt;
}

TEST(Outcolor, CombinedOrSeparateStrings) {
    Console c("xterm-256color");
    c.take();
    outcolor(2, 5);
    EXPECT_EQ(c.take(), "\033[32;45m");
    Console x("xterm");
    x.take();
    outcolor(2, 5);
    EXPECT_EQ(x.take(), "\033[32m\033[45m");
    Console s("xterm", Source::System); // setf/setb take PC colour numbers
    s.take();
    _vcolor(0x1400);
    EXPECT_EQ(s.take(), "\033[31m\033[44m");
}

} // namespace
