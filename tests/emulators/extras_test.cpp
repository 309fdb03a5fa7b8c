// What the emulations ask of the console beyond characters: renditions with colours, and the
// printer.
#include "emu.h"
#include "support/vtjudge.h"

#include <gtest/gtest.h>

// Bold with a colour stays bold with fewer than 16 colours and with 256, where the colour table
// sends bright colours as plain ones.
TEST(Colour, BoldColouredTextStaysBoldOnEveryColourConsole) {
    for (const char* term : {"xterm", "xterm-256color", "tmux-256color"}) {
        Emu emu(EM_VT100, term);
        VtJudge console(24, 80);
        emu.feed("\033[H\033[1;31mred\033[0m plain \033[1mbold\033[m");
        console.feed(emu.takeOutput());
        CellView red = console.cell(0, 0), plain = console.cell(0, 4), bold = console.cell(0, 10);
        EXPECT_TRUE(red.bold) << term;
        EXPECT_EQ(red.fg, 1) << term;
        EXPECT_FALSE(plain.bold) << term; // the colour stays: VT100 keeps it in the palette
        EXPECT_TRUE(bold.bold) << term;
    }
}

// Auto print with no printer: the complaint is shown once (its own line feed must not print
// again) and auto print stops.
TEST(Printer, AutoPrintWithoutAPrinterComplainsOnceAndStops) {
    Emu emu(EM_VT100);
    emu.feed("\033[?5ione\r\ntwo\r\nthree\r\n");
    const std::string out = emu.takeOutput();
    const std::string msg = "Printing is not built yet";
    ASSERT_NE(out.find(msg), std::string::npos);
    EXPECT_EQ(out.find(msg, out.find(msg) + 1), std::string::npos);
    EXPECT_EQ(prauto, 0);
}
