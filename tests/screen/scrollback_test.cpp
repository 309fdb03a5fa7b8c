// Scrollback and screen pages: which rows are kept, what each view shows in memory and on the
// console (judged by libvterm, also after one-row moves that only scroll the console), search,
// bounds on the size, and page switching.
#include "emulators/emu.h"
#include "screen/scrollback.h"
#include "support/vtjudge.h"

#include <gtest/gtest.h>

#include <string>

namespace {
// Emu with scrollback of `rows` rows and the lines "1".."n" received.
struct Sb {
    Emu emu{EM_VT100};
    explicit Sb(int rows, int n = 0) {
        sbreset();
        setscrollback(rows);
        std::string s;
        for (int i = 1; i <= n; i++)
            s += std::to_string(i) + "\r\n";
        emu.feed(s);
    }
    ~Sb() { sbreset(); }
};
} // namespace

TEST(Scrollback, KeepsTheNewestRowsAndViewsThem) {
    Sb sb(100, 173); // 150 rows scroll off; "151".."173" and a blank row stay on the screen
    const std::string live = sb.emu.screen();
    sbprev(200);
    EXPECT_EQ(std::tuple(sbcurline, sb.emu.row(0), sb.emu.row(23)), std::tuple(100, "51", "74"));
    sbdisplay(1);
    EXPECT_EQ(std::tuple(sb.emu.row(0), sb.emu.row(1)), std::tuple("150", "151"));
    sbdisplay(0);
    EXPECT_EQ(std::tuple(sb.emu.screen(), vdestline, vdestcol), std::tuple(live, 23, 0));
}

TEST(Scrollback, WideRowsAreKeptWhole) {
    Sb sb(10);
    const std::string wide = std::string(120, 'x') + "END";
    sb.emu.feed("\033[?3h" + wide + "\r\n" + std::string(30, '\n')); // 132 columns
    sbprev(10);
    EXPECT_EQ(sb.emu.row(0), wide);
}

// One-row moves only scroll the console and draw one row: the console must still show what the
// view holds, at every step back and forward.
TEST(Scrollback, OneRowMovesKeepTheConsoleRight) {
    Sb sb(50, 60);
    VtJudge console(24, 80);
    console.feed(sb.emu.takeOutput());
    for (int step : {1, 1, 1, -1, 5, -1, -1, 1}) {
        if (step > 0)
            sbprev(step);
        else
            sbnext(-step);
        const std::string out = sb.emu.takeOutput();
        if (step == 1 || step == -1) {
            EXPECT_LT(out.size(), 160u) << "a row and a scroll";
        }
        console.feed(out);
        for (int r = 0; r < 24; r++)
            ASSERT_EQ(console.row(r), sb.emu.row(r)) << "offset " << sbcurline << " row " << r;
    }
}

TEST(Scrollback, ClearsKeepOnlyWhatWasWrittenAndViewsNeverTouchTheLiveScreen) {
    Sb sb(100);
    sb.emu.feed("a\r\nb\033[2J\033[2J");
    sbprev(100);
    EXPECT_EQ(std::tuple(sbcurline, sb.emu.row(0), sb.emu.row(1)), std::tuple(2, "a", "b"));
    sb.emu.feed(
        "written while viewing\r\n\n\n"); // a byte from the line returns first in terminal mode
    sbdisplay(0);
    EXPECT_EQ(sb.emu.screen(), "");
    sbprev(100);
    EXPECT_EQ(sbcurline, 2);
}

TEST(Scrollback, TtyRowsAreKeptToo) {
    Sb sb(10);
    emulate(EM_TTY, 0);
    std::string s;
    for (int i = 1; i <= 40; i++)
        s += std::to_string(i) + "\r\n";
    sb.emu.feed(s); // TTY takes all 24 rows: 17 rows scroll off, the newest 10 are kept
    sbprev(10);
    EXPECT_EQ(std::tuple(sbcurline, sb.emu.row(0)), std::tuple(10, "8"));
}

TEST(Scrollback, SearchShowsTheOlderRowAtTheTop) {
    Sb sb(1000, 300);
    EXPECT_TRUE(sbsearch("120"));
    EXPECT_EQ(sb.emu.row(0), "120");
    EXPECT_TRUE(sbsearch("12")); // the next older row holding it
    EXPECT_EQ(sb.emu.row(0), "112");
    EXPECT_FALSE(sbsearch("nothing like it"));
    EXPECT_EQ(sb.emu.row(0), "112");
}

TEST(Scrollback, SizeIsBoundedAndSetOnce) {
    Sb sb(100000000);
    EXPECT_EQ(sblinemax, SBMAXROWS);
    sb.emu.takeOutput();
    setscrollback(5);
    EXPECT_NE(sb.emu.takeOutput().find("Scrollback buffer unchanged"), std::string::npos);
    EXPECT_EQ(sblinemax, SBMAXROWS);
    sbreset();
    EXPECT_EQ(std::tuple(setscrollback(-3), sblinemax), std::tuple(0, 0));
}

TEST(Pages, HostSwitchesPagesAndEachKeepsItsScreen) {
    Sb sb(100);
    ASSERT_EQ(setpages(3), 0);
    sb.emu.feed("page one");
    sb.emu.feed("\033[2z");
    EXPECT_EQ(std::tuple(vcurpage, sb.emu.screen()), std::tuple(1, ""));
    std::string many;
    for (int i = 0; i < 40; i++)
        many += "two\r\n";
    sb.emu.feed(many); // rows scrolling off page 2 are not kept
    sb.emu.takeOutput();
    sbprev(1);
    EXPECT_EQ(std::tuple(sbcurline, sb.emu.takeOutput()), std::tuple(0, "\a"));
    sb.emu.feed("\033[8z"); // no page 7
    EXPECT_EQ(vcurpage, 1);
    sb.emu.feed("\033[1z");
    EXPECT_EQ(std::tuple(vcurpage, sb.emu.screen()), std::tuple(0, "page one"));
    sbprev(1);
    EXPECT_EQ(sbcurline, 0);
    sb.emu.feed("\033[4z"); // never created
    const std::string out = sb.emu.takeOutput();
    EXPECT_NE(out.find("[Page #4 not defined]"), std::string::npos);
    EXPECT_NE(out.find('\a'), std::string::npos);
    EXPECT_EQ(vcurpage, 0);
    EXPECT_EQ(setpages(7), 1);
}

TEST(Pages, OnePageOnlyReportsTheRest) {
    Sb sb(0);
    sb.emu.feed("\033[2z");
    EXPECT_NE(sb.emu.takeOutput().find("[Page #2 not defined]"), std::string::npos);
    EXPECT_EQ(vcurpage, 0);
}
