// The command menu as a person uses it: F1 or the escape prompt's 1 open it over the session,
// the bar shows the choices with the current one reversed, hot keys and arrows move, entries
// reach their work (or say plainly that it is not built yet), names never reach a shell, a
// setting written as a configuration comes back in a new run, and leaving restores the screen.
#include "support/harness.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

const char *const F1 = "\033OP", *RIGHT = "\033OC";
const char* const top = "Terminal  Setup  Connect  Xfer  Get  Hangup  Execute  Misc  Quit";

bool shows(VornRun& run, int r, const std::string& text) {
    return run.waitUntil([&] { return run.judge().row(r).find(text) != std::string::npos; });
}

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
    ASSERT_TRUE(shows(run, 1, top)) << run.screen();
    EXPECT_EQ(run.judge().row(0).find("MENU"), 75u); // ends in column 79
    EXPECT_TRUE(run.judge().cell(1, 0).reverse);
    EXPECT_FALSE(run.judge().cell(1, 10).reverse);
    EXPECT_TRUE(shows(run, 2, "Enter terminal mode"));
    run.type(RIGHT);
    EXPECT_TRUE(shows(run, 2, "Show or change current communications settings"));
    EXPECT_TRUE(run.judge().cell(1, 10).reverse);

    // XFER: ten choices split at any run of blanks; V is VornCRC's key.
    run.type("x");
    ASSERT_TRUE(shows(run, 1,
                      "VornCRC  WVornCRC Vorn5  Modem7  Xmodem  Ymodem  Zmodem  Kermit  "
                      "Unfmt  Line"))
        << run.screen();
    EXPECT_EQ(run.judge().row(0).find("XFER"), 75u);
    // Esc in a prompt goes back to the same menu.
    run.type("v");
    ASSERT_TRUE(shows(run, 1, "From local file:"));
    run.type("\033");
    ASSERT_TRUE(shows(run, 1, "VornCRC  WVornCRC"));
    run.type("\033"); // back to the top menu
    ASSERT_TRUE(shows(run, 1, top));

    // What is not in the program yet says so, and the menu stays.
    run.type("mls"); // MISC, Learnmode, Start
    ASSERT_TRUE(shows(run, 1, "Learn mode is not built yet"));
    EXPECT_TRUE(shows(run, 2, "[Enter] to continue"));
    run.type("\r");
    ASSERT_TRUE(shows(run, 1, "Start  Stop"));
    run.type("\033");
    ASSERT_TRUE(shows(run, 1, "Directory  Chdir"));
    run.type("\033");
    ASSERT_TRUE(shows(run, 1, top));

    // A directory listing with a hostile name: ls gets it as names, nothing is run.
    run.dir().write("listed-file", "");
    run.type("md");
    ASSERT_TRUE(shows(run, 1, "Enter directory or file spec"));
    run.type("a;touch made-by-shell listed*\r");
    ASSERT_TRUE(run.waitFor("listed-file"));
    ASSERT_TRUE(run.waitFor("[any key to continue]"));
    EXPECT_FALSE(run.dir().exists("made-by-shell"));
    run.type(" "); // a finished operation closes the menus back to the top
    ASSERT_TRUE(shows(run, 1, top));

    // Esc at the top leaves the menus, and the session is back as it was.
    run.type("\033");
    ASSERT_TRUE(run.waitUntil([&] { return run.screen() == session; })) << run.screen();
}

TEST(Menu, ASettingWrittenFromTheMenuComesBack) {
    std::string saved;
    {
        VornRun run({"-m", "-z"});
        start(run);
        run.type("\0051"); // the escape prompt's 1
        ASSERT_TRUE(shows(run, 1, top));
        run.type("es"); // EXECUTE, ScriptCmd
        ASSERT_TRUE(shows(run, 1, "Enter script command:"));
        run.type("remark from the menu\r");
        ASSERT_TRUE(shows(run, 1, top));
        run.type("sw"); // SETUP, WriteConfig
        ASSERT_TRUE(shows(run, 1, "Enter configuration name:"));
        run.type("mine\r");
        ASSERT_TRUE(shows(run, 1, top));
        ASSERT_TRUE(run.dir().exists("mine.con")); // the home directory of the run
        saved = run.dir().read("mine.con");
        run.type("qy");
        EXPECT_EQ(run.wait(), 0);
    }
    EXPECT_NE(saved.find("remark from the menu\n"), std::string::npos) << saved;

    // A new run connects it by name from the CONNECT menu (it is in the home directory),
    // which leaves the menus for terminal mode; the status page shows the setting back.
    VornRun run({"-m", "-z"}, {.files = {{"mine.con", saved}}});
    start(run);
    run.type(F1);
    ASSERT_TRUE(shows(run, 1, top));
    run.type("cc"); // CONNECT, Configuration
    ASSERT_TRUE(shows(run, 1, "Enter configuration name:"));
    run.type("mine\r");
    ASSERT_TRUE(run.waitUntil([&] { return run.judge().row(1).find(top) == std::string::npos; }));
    run.settle();
    run.type(F1);
    ASSERT_TRUE(shows(run, 1, top));
    run.type("ss"); // SETUP, Status
    ASSERT_TRUE(run.waitFor("from the menu")) << run.screen();
}
