// Character sets and the user-defined keys: what a received byte becomes in screen memory in each
// set, what the console shows for line drawing (judged by libvterm), and the bounds of hostile
// designations, shifts and key strings.
#include "emu.h"
#include "screen/keyboard.h"
#include "support/vtjudge.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {
struct CellCase {
    const char* what;
    int emulation;
    int defset; // the default national set
    std::string input;
    std::vector<int> cells; // row 0 from column 0: the stored codes with their glyph bit
};

std::vector<int> cells(size_t n) {
    std::vector<int> v;
    for (size_t c = 0; c < n; c++)
        v.push_back(vscreen[0][c] & (0xff | A_GLYPH));
    return v;
}

constexpr int G = A_GLYPH;
} // namespace

TEST(Charsets, ReceivedBytesInEverySet) {
    // clang-format off
    const CellCase cases[] = {
        {"VT100 graphics in G0, back with SI and ESC ( B", EM_VT100, 0,
         "\033(0q\033(Bq\033)0\016x\017x", {G | 18, 'q', G | 25, 'x'}},
        {"VT100 United Kingdom", EM_VT100, 0, "\033(A#\033(B#", {G | 30, '#'}},
        {"VT100 single shift 2 lasts one character", EM_VT100, 0, "\033*0\033Nqq", {G | 18, 'q'}},
        {"VT100 SCS with an intermediate is ignored", EM_VT100, 0, "\033( 0q\033(\"4q", {'q', 'q'}},
        {"VT52 graphics", EM_VT52, 0, "\033Fq\033Gq", {G | 18, 'q'}},
        {"VT220-7 German: [ and ~", EM_VT2207, 0, "\033(K[~", {G | 0x8e, G | 0xe1}},
        {"VT220-7 one national table for every set", EM_VT2207, 0, "\033(K\033)R[", {G | 0xf8}},
        {"VT220-7 default set from the setting", EM_VT2207, 6, "[", {G | 0x8e}},
        {"VT220-8 ESC ( B keeps ASCII with NRCS off", EM_VT2208, 6, "\033(B[\033(K[", {'[', '['}},
        {"VT220-8 right half is the supplemental set", EM_VT2208, 0, "\304\351", {G | 0x8e, G | 0x82}},
        {"VT220 special graphics", EM_VT2208, 0, "\033(0jqx`", {G | 0xd9, G | 0xc4, G | 0xb3, G | 4}},
        {"VT220 locking shifts LS2 and LS1R", EM_VT2208, 0, "\033nq\033~\361\017a",
         {G | 0xc4, G | 0xc4, 'a'}},
        {"VT220 SS2 with an 8-bit byte", EM_VT2208, 0, "\033N\351\216q", {'v', G | 0xc4}},
        {"VT220 DECSC and DECRC keep the sets", EM_VT2208, 0, "\0337\033(0\0338q", {'q'}},
        {"VT220 soft reset", EM_VT2208, 0, "\033(0\033[!pq", {'q'}},
        {"SUB shows the error glyph", EM_VT2208, 0, "a\032b", {'a', G | 0xb1, 'b'}},
    };
    // clang-format on
    for (const CellCase& c : cases) {
        Emu emu(c.emulation);
        defcset = c.defset;
        emulate(EM_TTY, 0);
        emulate(c.emulation, 0);
        emu.feed(c.input);
        EXPECT_EQ(cells(c.cells.size()), c.cells) << c.what;
        defcset = 0;
    }
}

// The console shows line drawing with its own graphics where termcap gives an acsc (xterm,
// screen, tmux, linux), and plain look-alikes on a console without one.
TEST(Charsets, LineDrawingOnConsolesWithAndWithoutGraphics) {
    const std::string box = "\033(0lqk\r\nx x\r\nmqj";
    for (int em : {EM_VT100, EM_VT2208})
        for (const char* term : {"xterm", "tmux-256color", "linux"}) {
            Emu emu(em, term);
            VtJudge console(24, 80);
            console.feed(cap::EA); // start-up sends it: the consoles that shift into graphics
            emu.feed(box);
            console.feed(emu.takeOutput());
            EXPECT_EQ(console.row(0) + console.row(1) + console.row(2),
                      "\u250c\u2500\u2510\u2502 \u2502\u2514\u2500\u2518")
                << term << " " << em;
        }
    Emu dumb(EM_VT100, "xterm");
    cap::AC.clear(); // a console without graphics
    cap::GS.clear();
    cap::GE.clear();
    _vinit();
    VtJudge console(24, 80);
    dumb.feed(box);
    console.feed(dumb.takeOutput());
    EXPECT_EQ(console.row(0) + console.row(2), "+-++-+");
}

TEST(UserDefinedKeys, ProgrammingLockingAndBounds) {
    struct UdkCase {
        const char* what;
        int emulation;
        int fromhost;
        std::string input;
        std::string f6, f7; // slots 5 and 6 afterwards (both start as "old")
        int locked;
        std::string screen; // what the screen shows afterwards
    };
    // clang-format off
    const UdkCase cases[] = {
        {"one key, unlocked", EM_VT2207, 1, "\033P1;1|17/4142\033\\", "AB", "old", 0, ""},
        {"clear all and lock", EM_VT2207, 1, "\033P0|18/61\033\\", "", "a", 1, ""},
        {"code 22 is no function key", EM_VT2207, 1, "\033P1;1|22/41;17/43\033\\", "C", "old", 0, ""},
        {"a trailing digit is a byte", EM_VT2207, 1, "\033P1;1|17/414\033\\", "A\004", "old", 0, ""},
        {"8-bit ST", EM_VT2208, 1, "\220" "1;1|17/31\234x", "1", "old", 0, "x"},
        {"ESC ends without storing", EM_VT2207, 1, "\033P1;1|17/41\033[2Cz", "old", "old", 0, "  z"},
        {"not from the host", EM_VT2207, 0, "\033P1;1|17/41\033\\", "old", "old", 0, ""},
        {"another string type", EM_VT2207, 1, "\033P1$q17/41\033\\y", "old", "old", 0, "y"},
        {"CAN ends it", EM_VT2207, 1, "\033P1;1|17/41\030w", "old", "old", 0, "w"},
    };
    // clang-format on
    for (const UdkCase& c : cases) {
        Emu emu(c.emulation);
        vtfkeyl = 0;
        setprgkey(5, "old");
        setprgkey(6, "old");
        vfromhost = c.fromhost;
        emu.feed(c.input);
        vfromhost = 0;
        EXPECT_EQ(std::tuple(prgkeys[5], prgkeys[6], vtfkeyl, emu.screen()),
                  std::tuple(c.f6, c.f7, c.locked, c.screen))
            << c.what;
    }
    // Locked keys stay as they are; a long definition is cut.
    Emu emu(EM_VT2207);
    vfromhost = 1;
    vtfkeyl = 0;
    emu.feed("\033P1;1|17/" + std::string(5000, '4') + "\033\\");
    EXPECT_EQ(prgkeys[5], std::string(PRGKEYMAX, 'D'));
    emu.feed("\033P1|17/41\033\\\033P1|17/42\033\\");
    vfromhost = 0;
    EXPECT_EQ(std::tuple(prgkeys[5], vtfkeyl), std::tuple("A", 1));
    emu.feed("\033[?25n");
    EXPECT_EQ(emu.takeReplies(), "\033[?21n");
    vtfkeyl = 0;
}
