// The XTERM emulation against libvterm with UTF-8 on: recorded programs and UTF-8 and colour
// streams go to our emulator (on a UTF-8 xterm-256color console) and to libvterm; the text,
// colours and cursor must agree, and the console output, fed to a second libvterm, must show
// what screen memory holds.
#include "emu.h"
#include "support/vtjudge.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string utf8(int cp) {
    std::string s;
    if (cp < 0x80) {
        s += static_cast<char>(cp);
    } else if (cp < 0x800) {
        s += static_cast<char>(0xc0 | (cp >> 6));
        s += static_cast<char>(0x80 | (cp & 0x3f));
    } else if (cp < 0x10000) {
        s += static_cast<char>(0xe0 | (cp >> 12));
        s += static_cast<char>(0x80 | ((cp >> 6) & 0x3f));
        s += static_cast<char>(0x80 | (cp & 0x3f));
    } else {
        s += static_cast<char>(0xf0 | (cp >> 18));
        s += static_cast<char>(0x80 | ((cp >> 12) & 0x3f));
        s += static_cast<char>(0x80 | ((cp >> 6) & 0x3f));
        s += static_cast<char>(0x80 | (cp & 0x3f));
    }
    return s;
}

// Row r of screen memory as UTF-8, trailing blanks removed.
std::string urow(int r) {
    std::string s;
    for (int c = 0; c < vcols; c++) {
        vcell cell = vscreen[r][c];
        if (cell & C_WIDER) continue;
        if (cell & C_CLUSTER) {
            for (char32_t cp : vclusterof(cellcp(cell)))
                s += utf8(static_cast<int>(cp));
        } else if (cell & A_GLYPH) {
            s += utf8(decglyphs[cellcp(cell) & 31]);
        } else {
            s += utf8(cellcp(cell));
        }
    }
    return s.erase(s.find_last_not_of(' ') + 1);
}

// A colour as libvterm reports it: palette index, 0x1000000 | rgb, or -1 for the default.
int judged(int idx, int rgb) {
    return rgb >= 0 ? 0x1000000 | rgb : idx;
}

std::string chart256() {
    std::string s = "\033[H";
    for (int i = 0; i < 256; i++) {
        s += "\033[48;5;" + std::to_string(i) + "m" + (i % 32 == 31 ? " \033[m\r\n" : " ");
        if (i % 16 == 0) s += "\033[38;5;" + std::to_string(255 - i) + "m";
    }
    return s + "\033[39;49mdefault\033[31;42mred on green\033[91;104mbright\033[m";
}

std::string truecolour() {
    std::string s;
    for (int i = 0; i < 120; i++)
        s += "\033[38;2;" + std::to_string(i * 2) + ";" + std::to_string(255 - i) + ";40m" +
             "\033[48;2;" + std::to_string(i) + ";0;" + std::to_string(200 - i) + "m#";
    return s + "\033[0m plain";
}

// Cleared cells take the background in force (and nothing in force is the default, not black).
std::string erases() {
    return "\033[44mblue\033[K\r\n\033[48;5;200m\033[2J\033[5;5Htext\033[X\033[49m\033[3X\r\n"
           "\033[41m\033[S\033[2T\033[m\033[10;1Hend";
}

std::string cjk() {
    return std::string(78, '.') + "日本語のテキスト\r\n" + std::string(79, '-') +
           "中文\r\n汉字\033[2Dx\033[4GAB\r\n" + "ＡＢＣ full width, café, naïve, Ελληνικά";
}

std::string combining() {
    return "e\xcc\x81 a\xcc\x88o\xcc\x83 n\xcc\x83\xcc\x81 x" + std::string(77, '-') +
           "e\xcc\x81\xcc\x82 then\r\n\xcc\x81 lone mark, \xe2\x80\x8b zero width";
}

// CHA, CHT, CBT, REP, VPA, HPA, ECH, SU/SD with counts, DECSCUSR, OSC titles, the alternate
// screen (1049 and 1047; the judge has no 47).
std::string controls() {
    return "\033]0;a window title\007\033]2;" + std::string(3000, 't') +
           "\033\\main screen\r\n\033[5Gx\033[2Iy\033[Z\033[Zz\033[3bq\033[3bé\033[b\r\n"
           "\033[10d\033[20`row10\033[2 q\033[6 q\033[?1049h\033[Halternate\033[?1049l"
           "\033[?1047h\033[31mold\033[?1047lback\033[2S\033[3T"
           " x\033[3;70H\033[?25l\033[?25h";
}

class XtermDifferential : public ::testing::TestWithParam<const char*> {};

std::string streamfor(const std::string& name) {
    if (name == "chart256") return chart256();
    if (name == "truecolour") return truecolour();
    if (name == "erases") return erases();
    if (name == "cjk") return cjk();
    if (name == "combining") return combining();
    if (name == "controls") return controls();
    std::string n = name;
    for (char& c : n)
        if (c == '_') c = '-';
    return loadstream(n);
}

} // namespace

TEST_P(XtermDifferential, SameTextColoursAndCursorAsLibvterm) {
    const std::string bytes = streamfor(GetParam());
    ASSERT_FALSE(bytes.empty()) << GetParam();
    VtJudge reference(24, 80);
    reference.setUtf8(true);
    reference.feed(bytes);
    for (bool blocks : {false, true}) {
        const char* how = blocks ? " in blocks" : " byte by byte";
        Emu emu(EM_XTERM, "xterm-256color");
        consutf8 = 1;
        construecolor = 1;
        VtJudge console(24, 80);
        console.setUtf8(true);
        emu.feedJudged(bytes, blocks, console);
        for (int r = 0; r < 24; r++) {
            EXPECT_EQ(urow(r), reference.row(r)) << GetParam() << how << " row " << r;
            EXPECT_EQ(console.row(r), urow(r)) << GetParam() << how << " console row " << r;
            for (int c = 0; c < 80; c++) {
                CellView ref = reference.cell(r, c), con = console.cell(r, c);
                if (ref.wideright) continue;
                // The foreground of a blank is nothing a person sees.
                bool blank = ref.text.empty() || ref.text == " ";
                int fg = blank ? -1 : vslotcolor(cellfg(vscreen[r][c]));
                int bg = vslotcolor(cellbg(vscreen[r][c]));
                ASSERT_EQ(fg, blank ? -1 : judged(ref.fg, ref.rgbfg))
                    << GetParam() << how << " fg " << r << "," << c;
                ASSERT_EQ(bg, judged(ref.bg, ref.rgbbg))
                    << GetParam() << how << " bg " << r << "," << c;
                ASSERT_EQ(blank ? -1 : judged(con.fg, con.rgbfg), fg)
                    << GetParam() << how << " console fg";
                ASSERT_EQ(judged(con.bg, con.rgbbg), bg) << GetParam() << how << " console bg";
            }
        }
        EXPECT_EQ(vdestline, reference.cursorRow()) << GetParam() << how;
        EXPECT_EQ(vdestcol, reference.cursorCol()) << GetParam() << how;
    }
}

INSTANTIATE_TEST_SUITE_P(Streams, XtermDifferential,
                         ::testing::Values("vi_edit", "less_page", "top_screen", "ls_color",
                                           "compile_log", "dialog_box", "dialog_checklist",
                                           "chart256", "truecolour", "erases", "cjk", "combining",
                                           "controls"));

// Malformed UTF-8 shows as U+FFFD, one per broken sequence or stray byte, and never hides the
// bytes after it; a C1 control counts only as a decoded code point.
TEST(Xterm, HostileUtf8ShowsReplacementsAndLosesNothingAfter) {
    const std::string r = "\xef\xbf\xbd"; // U+FFFD
    const struct {
        const char* in;
        std::string row;
    } cases[] = {
        {"a\xc3(b", "a" + r + "(b"},                // cut short by ASCII
        {"\xc0\xaf|\xc1\xbf", r + r + "|" + r + r}, // overlong two-byte leads
        {"\xe0\x80\xaf.", r + "."},                 // overlong three-byte form
        {"\xf0\x80\x80\xaf.", r + "."},             // overlong four-byte form
        {"\xed\xa0\x80\xed\xbf\xbf.", r + r + "."}, // surrogates
        {"\xf4\x90\x80\x80.", r + "."},             // beyond U+10FFFF
        {"\xf8\x88\x80\x80\x80.", r + r + r + r + r + "."},
        {"\x80\xbf.", r + r + "."},      // stray continuation bytes
        {"\xe2\x82\033[2Cx", r + "  x"}, // an ESC ends the sequence and still acts
        {"\x9b"
         "1mz",
         r + "1mz"}, // a raw C1 byte is no CSI
        {"\xc2\x9b"
         "2Cz",
         "  z"},                                    // a decoded one is
        {"\xf0\x9f\x98\x80!", "\xf0\x9f\x98\x80!"}, // a four-byte character
    };
    for (const auto& c : cases) {
        for (bool block : {false, true}) { // byte by byte, and the run-at-a-time path
            Emu emu(EM_XTERM, "xterm-256color");
            consutf8 = 1;
            vdestline = 0;
            vdestcol = 0;
            block ? emu.feedBlock(c.in) : emu.feed(c.in);
            EXPECT_EQ(urow(0), c.row) << c.in << (block ? " in a block" : "");
        }
    }
}

// What the host asks of the pointer, the paste and the cursor's style goes on to the console,
// whose own reports then come through; selecting another emulation takes it back. The host
// asking what it talks to hears of an xterm.
TEST(Xterm, ConsoleModesAndReplies) {
    Emu emu(EM_XTERM, "xterm-256color");
    emu.feed("\033[?2004h\033[?1000;1006h\033[4 q\033[>c");
    EXPECT_EQ(std::tuple(xtpaste, xtmouse, xtsgrmouse, xtcursor), std::tuple(1, 1000, 1, 4));
    EXPECT_EQ(emu.takeReplies(), "\033[>41;0;0c");
    std::string out = emu.takeOutput();
    for (const char* s : {"\033[?2004h", "\033[?1000h", "\033[?1006h", "\033[4 q"})
        EXPECT_NE(out.find(s), std::string::npos) << s;
    emulate(EM_VT100, 0);
    out = emu.takeOutput();
    for (const char* s : {"\033[?2004l", "\033[?1000l", "\033[?1006l", " q"}) // Se or 0
        EXPECT_NE(out.find(s), std::string::npos) << s;
    EXPECT_EQ(xtpaste + xtmouse + xtsgrmouse, 0);
    // PC glyphs on a UTF-8 console are their Unicode characters.
    consutf8 = pcset = 1;
    gttyout(0xc4);
    gttyout(3);
    pcset = 0;
    EXPECT_EQ(emu.takeOutput(), "\xe2\x94\x80\xe2\x99\xa5"); // U+2500, U+2665
}

// The emulated screen is the console's, and follows it.
TEST(Xterm, EmulatedSizeFollowsTheConsole) {
    Emu emu(EM_XTERM, "xterm-256color", 30);
    EXPECT_EQ(vlines, 30);
    EXPECT_EQ(vcols, 80);
    vconsize(40, 120);
    EXPECT_EQ(vlines, 40);
    EXPECT_EQ(vcols, 120);
    emu.feed("\033[40;120Hx");
    EXPECT_EQ(vdestline, 39);
    EXPECT_EQ(cellcp(vscreen[39][119]), 'x');
}
