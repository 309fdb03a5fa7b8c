// The console driver below what the screen property judges: the graphics table, the bytes of
// the fallbacks, the flush rule, the termcap reader and its cursor-motion and colour formatters.
#include "consoles.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

namespace {

using P = std::pair<int, int>;

TEST(Graphics, GaGmAcAndCornerStrings) {
    Console c("vt100");
    auto slots = [](std::vector<int> s) {
        for (int& i : s)
            i = _grset[i];
        return s;
    };
    ASSERT_EQ(setcap("Ga", "@AB@C"), 1); // slots 0, 1 and 3; slot 2 from ac
    EXPECT_EQ(slots({0, 1, 2, 3}), std::vector<int>({0x141, 0x142, 0x161, 0x143}));
    setcap("G4", "Z"); // ac comes after the corner strings
    EXPECT_EQ(slots({11, 36, 42}), std::vector<int>({0x100 | 'j', 0x15a, 0x15a}));
    setcap("Gm", "0123456789abcdeZ"); // a bad digit keeps its entry
    EXPECT_EQ(std::vector<int>(extcolor, extcolor + 16),
              std::vector<int>({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 7}));
    EXPECT_EQ(setcap("zz", "x"), 0);
    // A byte above 0x7f in ac is taken as a console byte; the glyph letter must be a slot.
    setcap("ac", "q\xc4\xff\x01");
    EXPECT_EQ(_grset[18], 0x1c4);
}

// ---- the termcap reader and its messages ----------------------------------------------------

struct TermcapFile : testing::Test {
    std::string file = testing::TempDir() + "vorn-termcap-" + std::to_string(getpid());
    std::string out;   // what tinit printed
    uint8_t quiet = 0; // the quiet flag the driver sees
    void TearDown() override {
        std::filesystem::remove(file), unsetenv("TERMCAP"), disphooks = DisplayHooks{};
    }
    // Writes the file, points TERMCAP at it and runs tinit with console output captured.
    int run(const std::string& content, const char* term, bool console = true) {
        std::ofstream(file) << content;
        displayreset(), out.clear(), quiet = console ? 0 : 1;
        disphooks = DisplayHooks{}, disphooks.quiet = &quiet;
        setenv("TERMCAP", file.c_str(), 1);
        if (term) setenv("TERM", term, 1);
        setconswriter([this](const char* p, size_t n) { out.append(p, n); });
        int r = tinit(term);
        oflush(), setconswriter(nullptr);
        return r;
    }
};

TEST_F(TermcapFile, StartupMessagesLoopsAndTcDepth) {
    const std::string notfound = "Can't find terminal type from TERM variable: ";
    std::string chain32, chain33; // c0 .. c32 (followed) and b0 .. b33 (too deep)
    for (int i = 0; i < 33; i++) {
        if (i < 32) chain32 += "c" + std::to_string(i) + "|x:tc=c" + std::to_string(i + 1) + ":\n";
        chain33 += "b" + std::to_string(i) + "|x:tc=b" + std::to_string(i + 1) + ":\n";
    }
    chain32 += "c32|end:co#99:cm=\\E[%i%d;%dH:\n";
    chain33 += "b33|end:co#99:\n";
    const struct {
        std::string content;
        const char* term;
        std::string msg;
    } cases[] = {
        {"", nullptr, "Terminal type variable TERM not set\n"},
        {"", "", "Terminal type variable TERM not set\n"},
        {"x|y:co#80:\n", "nosuchterm", notfound + "nosuchterm\n"},
        {"la|a:co#80:tc=lb:\nlb|b:li#20:tc=la:\n", "la",
         "Infinite tc= loop\r\n" + notfound + "la\n"},
        {chain33, "b0", "Infinite tc= loop\r\n" + notfound + "b0\n"},
        {"bad|x:co#80:tc=vt100\n", "bad", "Bad termcap entry\r\n" + notfound + "bad\n"},
        {"nocolon|x\n", "nocolon", "Bad termcap entry\r\n" + notfound + "nocolon\n"},
        {"t|x:tc=missing:\n", "t", notfound + "t\n"},
    };
    for (auto& c : cases) {
        EXPECT_EQ(run(c.content, c.term), -1) << c.content;
        EXPECT_EQ(out, c.msg) << c.content;
    }
    EXPECT_EQ(run(chain32, "c0"), 0);
    EXPECT_EQ(out + std::to_string(Cols), "99");
    // Without a console a missing type means 80 x 24.
    EXPECT_EQ(run("", nullptr, false), 0);
    EXPECT_EQ(out, "");
    EXPECT_EQ(P(Lines, Cols), P(24, 80));
}

TEST_F(TermcapFile, LengthValuesNumbersFlagsCancelsAndCookies) {
    std::string e = "long|x:co#90:";
    while (e.size() < 3000)
        e += "zz=aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa:";
    EXPECT_EQ(run(e + "li#33:\n", "long"), 0);
    EXPECT_EQ(out, "Termcap entry too long\r\n");
    EXPECT_EQ(P(Lines, Cols), P(24, 90)); // li was beyond the cut
    EXPECT_LE(tbuf.size(), 1200u);
    // The joined entry of a tc= chain is cut the same way.
    e = "j|x:" + std::string(700, 'q') + ":tc=k:\nk|y:" + std::string(700, 'r') + ":\n";
    EXPECT_EQ(run(e, "j"), 0);
    EXPECT_EQ(out, "Termcap entry too long\r\n");
    e = "# comment|v:co#10:\n"
        "v|valued:am:xn@:co#0132:li#30:Co#99999999999:\\\n"
        "\t:cm=\\E[%i%d;%dH:ce=^[[K:so=\\E\\^\\\\\\:\\101\\0x:\\\n"
        "\t:us=\\n\\r\\t\\b\\f:ue@:ue=\\E[24m:md=^?:bad=\\:xx#:\n";
    ASSERT_EQ(run(e, "valued"), 0) << out;
    EXPECT_EQ(P(Lines, Cols), P(30, 90)); // 0132 is octal
    EXPECT_EQ(Ncolors, 1000000);          // huge numbers stop growing
    EXPECT_EQ(P(AM, XN), P(1, 0));
    // ce, so, us, ue (cancelled before its value), md; mr, mb default to so, me to se.
    EXPECT_EQ(cap::CE + "|" + cap::SO + "|" + cap::US + "|" + cap::UE + "|" + cap::MD + "|" +
                  cap::MR,
              "\033[K|\033^\\:A\200x|\n\r\t\b\f||\177|\033^\\:A\200x");
    EXPECT_EQ(zztgetnum("xx"), -1);
    // Unterminated escapes at the very end of a value stay within the entry.
    const char* ends[][2] = {{"x|y:ab=\\", "\\"}, {"x|y:ab=^", "^"}, {"x|y:ab=\\0", "\200"}};
    std::string v;
    for (auto& x : ends)
        EXPECT_TRUE(ctgetstr(x[0], "ab", v) && v == x[1]) << x[0];
    // Magic cookies: standout is prefixed with backspaces over them.
    ASSERT_EQ(run("m|x:sg#2:so=\\E[7m:se=\\E[m:\n", "m"), 0);
    EXPECT_EQ(XS, 1);
    EXPECT_EQ(cap::SO + "|" + cap::ME, "\b\b\033[7m|\033[m");
}

TEST(Termcap, TheVariableHoldsTheEntryAndTheFirstSourceDecides) {
    static const uint8_t loud = 0;
    displayreset(), disphooks = DisplayHooks{}, disphooks.quiet = &loud;
    disphooks.findfile = findinvorndir;
    setenv("TERM", "myterm", 1);
    setenv("TERMCAP", "myterm|mine:co#100:li#30:cm=\\E[%i%d;%dH:", 1);
    setenv("VORNDIR", "/nonexistent", 1);
    setenv("HOME", "/nonexistent", 1);
    EXPECT_EQ(tinit("myterm"), 0);
    EXPECT_EQ((std::vector<int>{ourtermcap, Lines, Cols}), (std::vector<int>{1, 30, 100}));
    // A tc= in the variable's entry is looked up in the program's file on the search path.
    displayreset();
    setenv("TERMCAP", "myterm|mine:co#100:tc=vt100:", 1);
    setenv("VORNDIR", (std::string(VORN_SOURCE_DIR) + "/data").c_str(), 1);
    EXPECT_EQ(tinit("myterm"), 0);
    EXPECT_EQ(std::to_string(Cols) + cap::CE, "100\033[K");
    // Another type than TERM is read from the file.
    displayreset();
    EXPECT_EQ(std::to_string(tinit("vt220")) + cap::SF, "0\033D");
    // Once the program's file answered, the system database is not asked.
    displayreset();
    setenv("TERMCAP", (std::string(VORN_SOURCE_DIR) + "/data/termcap.qal").c_str(), 1);
    EXPECT_EQ(P(zztgetent("vt100"), ourtermcap), P(1, 1));
    EXPECT_EQ(zztgetent("xterm-color"), 0);
    displayreset();
    setenv("TERMCAP", "/nonexistent/file", 1);
    EXPECT_EQ(P(zztgetent("vt100"), ourtermcap), P(1, 0));
    unsetenv("TERMCAP"), disphooks = DisplayHooks{};
}

// ---- the flush rule --------------------------------------------------------------------------

TEST(Flush, ByteByByteBurstsObufsizAndTheBatchFlag) {
    Console con("vt100");
    // Bytes (or primitives) sent, with received data waiting in the port's queue or not, and
    // the writes and bytes the console got since the step before.
    const struct {
        int bytes;
        bool waiting;
        int obufsiz, batch, writes, size;
    } steps[] = {
        {3, false, 512, 0, 3, 3},      // nothing received: each byte shows at once
        {2000, true, 512, 0, 3, 1536}, // a burst while data waits: 512-byte writes
        {1, false, 512, 0, 1, 465},    // the port ran dry: everything shows
        {350, true, 100, 0, 3, 300},   // obufsiz sets the level
        {600, true, 4096, 0, 1, 512},  // more than the buffer holds counts as full
        {-1, false, 512, 0, 2, 168},   // a primitive is one write (the 138 left go with the first)
        {700, false, 512, 1, 1, 512},  // the batch flag waits for a full buffer...
        {-2, false, 512, 1, 0, 0},     // ... and a primitive under it does not flush either
    };
    static bool waiting = false; // received data waits in the port's queue
    disphooks.rxwaiting = [] { return waiting; };
    con.take();
    for (auto& s : steps) {
        con.out.clear(), con.writes = 0, obufsiz = s.obufsiz, vemode = s.batch;
        waiting = s.waiting;
        if (s.bytes == -1) _cpos(1, 2), _vsline(3, 6);
        if (s.bytes == -2) _vclear();
        for (int i = 0; i < s.bytes; i++)
            _ttyout('x');
        EXPECT_EQ(P(con.writes, static_cast<int>(con.out.size())), P(s.writes, s.size)) << s.bytes;
    }
    vemode = 0, waiting = false;
}

// ---- formatters ---------------------------------------------------------------------------

TEST(Formatters, CtgotoAndTcolorPercentCodes) {
    // clang-format off
    const struct {
        const char *cm, *up, *bc;
        int col, row;
        std::string want;
    } gotos[] = {
        {"\033[%i%d;%dH", "", "", 5, 2, "\033[3;6H"},
        {"\033[%i%d;%dH", "", "", 131, 65, "\033[66;132H"},
        {"%r%d,%d", "", "", 5, 2, "5,2"},            {"\033Y%+ %+ ", "", "", 3, 7, "\033Y'#"},
        {"\033=%+ %+ ", "", "", 79, 23, "\033=7o"},  {"%2;%3", "", "", 1, 2, "02;001"},
        {"%%%d", "", "", 0, 4, "%4"},                {"%n%.%.", "", "", 1, 2, "\x62\x61"},
        {"%<\005\020%<\005\020", "", "", 9, 3, "\x13\x0b\b\b"},
        // Bytes the line would eat: the value moves on and up or bc compensates; without up the
        // row goes out as it is.
        {"\033Y%.%.", "\033A", "\033D", 9, 10, "\033Y\x0b\x0b\033A\033D\033D"},
        {"\033Y%.%.", "\033A", "", 0, 0, "\033Y\x01\x01\033A\b"},
        {"\033Y%.%.", "\033A", "", 20, 3, "\033Y\x04\x14\033A"},
        {"\033Y%.%.", "", "", 3, 10, "\033Y\n\x04\b"}, {"%r%.%.", "^", "<", 10, 0, "\x0b\x01<^"},
        {"%x", "", "", 1, 1, "OOPS"},   {"%d%d%d", "", "", 1, 1, "OOPS"},
        {"abc%", "", "", 1, 1, "OOPS"}, {"%+", "", "", 1, 1, "OOPS"}, {"%<a", "", "", 1, 1, "OOPS"},
    };
    const struct {
        const char* fmt;
        int fg, bg;
        std::string want;
    } colours[] = {
        {"\033[3%d;4%dm", 1, 4, "\033[31;44m"}, {"%i%d/%d", 1, 2, "2/3"}, {"%r%d/%d", 1, 2, "2/1"},
        {"%2:%3", 7, 12, "07:012"}, {"%d%d%d", 1, 2, "121"}, {"%.", 65, 0, "A"},
        {"%+A%+A", 1, 2, "BC"},     {"%%%d", 200, 0, "%200"}, {"%.", 0, 0, "OOPS"},
        {"%+\001", 255, 0, "OOPS"}, {"%z", 1, 1, "OOPS"},     {"%", 1, 1, "OOPS"},
    };
    // clang-format on
    for (auto& c : gotos)
        EXPECT_EQ(ctgoto(c.cm, c.col, c.row, c.up, c.bc), c.want) << c.cm;
    for (auto& c : colours)
        EXPECT_EQ(tcolor(c.fmt, c.fg, c.bg), c.want) << c.fmt;
}

// ---- optional capabilities: the bytes sent (what the fallbacks show, the property judges) ----

TEST(Fallbacks, StatusLineCursorShapesAndClamping) {
    // clang-format off
    const struct {
        const char* term;
        char op; // t: statline(a, b); c: setcursor(a); p: _cpos(a, b)
        int a, b;
        const char* bytes;
    } steps[] = {
        {"xterm", 'p', -5, 500, "\033[1;80H"}, // the cursor is clamped to the console
        // The status line only where hs is; leaving it puts the cursor back.
        {"tmux", 't', 1, 4, "\033]0;"}, {"tmux", 't', 2, 0, "\007\033[1;1H"},
        {"tmux", 't', 3, 0, "\033]0;\007"}, {"xterm", 't', 1, 4, ""}, {"xterm", 't', 2, 0, ""},
        // Cursor shapes; 5 brings back the one before the cursor was hidden, 9 is none.
        {"xterm", 'c', 1, 0, "\033[?12;25h"}, {"xterm", 'c', 0, 0, "\033[?25l"},
        {"xterm", 'c', 5, 0, "\033[?12;25h"}, {"xterm", 'c', 3, 0, "\033[?12l\033[?25h"},
        {"xterm", 'c', 9, 0, ""},             {"xterm", 'c', -1, 0, "\033[?12l\033[?25h"},
        {"xterm", 'c', 0, 0, "\033[?25l"},    {"xterm", 'c', 5, 0, "\033[?12l\033[?25h"},
    };
    // clang-format on
    std::unique_ptr<Console> con;
    for (auto& s : steps) {
        if (!con || strcmp(getenv("TERM"), s.term) != 0) { // a console's steps run in order
            con.reset();
            con = std::make_unique<Console>(s.term);
            con->take();
        }
        if (s.op == 't') statline(s.a, s.b);
        if (s.op == 'c') setcursor(s.a);
        if (s.op == 'p') _cpos(s.a, s.b);
        EXPECT_EQ(con->take(), s.bytes) << s.term << " " << s.op << " " << s.a << "," << s.b;
    }
}

} // namespace
