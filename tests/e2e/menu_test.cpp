// The command menu as a person uses it: F1 or the escape prompt's 1 open it over the session,
// the bar shows the choices with the current one reversed, hot keys and arrows move, entries
// reach their work (or say plainly that it is not built yet), names never reach a shell, a
// setting written as a configuration comes back in a new run, and leaving restores the screen.
#include "support/tmux.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

const char *const F1 = "\033OP", *RIGHT = "\033OC";
const char* const top = "Terminal  Setup  Connect  Xfer  Get  Hangup  Execute  Misc  Quit";

void start(VornRun& run) {
    ASSERT_TRUE(run.waitFor("Connected to NUL Driver"));
    run.settle();
}

} // namespace

TEST(Menu, BarKeysEntriesAndTheScreenBack) {
    VornRun run({"-m", "-z"});
    start(run);
    const std::string session = run.screen();

    run.type(F1);
    ASSERT_TRUE(run.rowShows(1, top)) << run.screen();
    EXPECT_EQ(run.judge().row(0).find("MENU"), 75u); // ends in column 79
    EXPECT_TRUE(run.judge().cell(1, 0).reverse);
    EXPECT_FALSE(run.judge().cell(1, 10).reverse);
    EXPECT_TRUE(run.rowShows(2, "Enter terminal mode"));
    run.type(RIGHT);
    EXPECT_TRUE(run.rowShows(2, "Show or change current communications settings"));
    EXPECT_TRUE(run.judge().cell(1, 10).reverse);

    // Every top-level choice but Terminal opens its menu (Quit and Hangup ask first).
    for (const char* m : {"SETUP", "CONNECT", "GET", "HANGUP", "EXECUTE", "MISC", "QUIT"}) {
        run.type(std::string(1, m[0]));
        ASSERT_TRUE(run.rowShows(0, m)) << run.screen();
        run.type("\033");
        ASSERT_TRUE(run.rowShows(1, top));
    }
    // XFER: ten choices split at any run of blanks; V is VornCRC's key.
    run.type("x");
    ASSERT_TRUE(run.rowShows(1, "VornCRC  WVornCRC Vorn5  Modem7  Xmodem  Ymodem  Zmodem  Kermit  "
                                "Unfmt  Line"))
        << run.screen();
    EXPECT_EQ(run.judge().row(0).find("XFER"), 75u);
    // Esc in a prompt goes back to the same menu.
    run.type("v");
    ASSERT_TRUE(run.rowShows(1, "From local file:"));
    run.type("\033");
    ASSERT_TRUE(run.rowShows(1, "VornCRC  WVornCRC"));
    run.type("\033"); // back to the top menu
    ASSERT_TRUE(run.rowShows(1, top));

    // What is not in the program yet says so, and the menu stays.
    run.type("mls"); // MISC, Learnmode, Start
    ASSERT_TRUE(run.rowShows(1, "Learn mode is not built yet"));
    EXPECT_TRUE(run.rowShows(2, "[Enter] to continue"));
    run.type("\r");
    ASSERT_TRUE(run.rowShows(1, "Start  Stop"));
    run.type("\033");
    ASSERT_TRUE(run.rowShows(1, "Directory  Chdir"));
    run.type("\033");
    ASSERT_TRUE(run.rowShows(1, top));

    // A directory listing with a hostile name: ls gets it as names, nothing is run.
    run.dir().write("listed-file", "");
    run.type("md");
    ASSERT_TRUE(run.rowShows(1, "Enter directory or file spec"));
    run.type("a;touch made-by-shell listed*\r");
    ASSERT_TRUE(run.waitFor("listed-file"));
    ASSERT_TRUE(run.waitFor("[any key to continue]"));
    EXPECT_FALSE(run.dir().exists("made-by-shell"));
    run.type(" "); // a finished operation closes the menus back to the top
    ASSERT_TRUE(run.rowShows(1, top));

    // Esc at the top leaves the menus, and the session is back as it was.
    run.type("\033");
    ASSERT_TRUE(run.waitUntil([&] { return run.screen() == session; })) << run.screen();
}

// Through tmux with the shipped data files: a plain start opens the menu; LoadConfig creates a
// configuration in the home directory and the editor changes its remark and number; after a
// restart in a bigger window the listing reads it back and connecting it opens its pty line.
TEST(Menu, ConfigurationEditedWrittenAndConnectedThroughTmux) {
    TempDir dir;
    Tmux t(dir);
    const std::string d = dir.path().string();
    dir.write("up.sh", "echo line-is-up; exec cat\n");
    const std::string vorn = "cd '" + d + "' && env -u TERMCAP HOME='" + d + "' VORNDIR='" +
                             VORN_DATA_OUT + "' TERM=tmux-256color " + VORN_BINARY;
    t.open(80, 24, vorn);
    ASSERT_TRUE(t.shows("Esc goes back one level.")) << t.shown();
    t.keys("s l Enter"); // SETUP, LoadConfig; no name lists the configurations
    ASSERT_TRUE(t.shows("No files found: *.con")) << t.shown();
    t.keys("lab Enter");
    ASSERT_TRUE(t.shows("lab.con not found.  [Enter] to create:")) << t.shown();
    t.keys("Enter");
    ASSERT_TRUE(t.shows("17 Answerback")) << t.shown();
    for (const char* k :
         {"1 Enter", "'The lab host' Enter", "2 Enter", "'pty:/bin/sh up.sh' Enter"}) {
        ASSERT_TRUE(t.shows("-1 to drop them:")) << t.shown();
        t.keys(k);
    }
    t.keys("0 Enter");
    ASSERT_TRUE(t.until([&](auto) { return dir.exists("lab.con"); })) << t.shown();
    const std::string saved = dir.read("lab.con");
    EXPECT_NE(saved.find("remark The lab host\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find("\ncall pty:/bin/sh up.sh\n"), std::string::npos) << saved;
    t.keys("q y");
    ASSERT_TRUE(t.until([&](auto r) { return r.empty(); })) << t.shown(); // the session ended

    t.open(120, 40, vorn);
    ASSERT_TRUE(t.shows("Esc goes back one level.")) << t.shown();
    t.keys("c c Enter"); // CONNECT, Configuration, the listing
    ASSERT_TRUE(t.shows("lab         User 1200  pty:/bin/sh  The lab host")) << t.shown();
    t.keys("lab Enter");
    ASSERT_TRUE(t.shows("line-is-up")) << t.shown();
    t.keys("C-e q");
}
