// The escape prompt as a person at the console sees it.
#include "support/harness.h"

#include <gtest/gtest.h>

namespace {
// True once `text` shows on the screen, also where it wraps from one row to the next.
bool onscreen(VornRun& run, const std::string& text) {
    return run.waitUntil([&] {
        std::string all;
        for (int r = 0; r < run.judge().rows(); r++) {
            std::string row = run.row(r);
            row.resize(static_cast<size_t>(run.judge().cols()), ' ');
            all += row;
        }
        return all.find(text) != std::string::npos;
    });
}
} // namespace

TEST(EscapePrompt, SelectionsSubPromptsLineInputAndModeTalk) {
    VornRun run({"-z"});
    ASSERT_TRUE(run.waitFor("Connected to NUL Driver"));
    run.type("\x05");
    ASSERT_TRUE(run.waitFor("c=>"));
    run.type("m");
    ASSERT_TRUE(run.waitFor("c=>Mode"));
    run.type("z");
    EXPECT_TRUE(
        onscreen(run, "Allowable options are: F)ull, H)alf, T)alk, D)ump, M)nemonic, C)ontrol,"));
    EXPECT_TRUE(run.waitFor("Returning to terminal mode"));
    run.type("\x05p?");
    EXPECT_TRUE(onscreen(run, "Allowable options are: T)vorncrc, W)vorncrc, 5)vorn5, M)odem7, "
                              "C)xmodem, Y)modem, Z)modem, K)ermit,"));
    EXPECT_TRUE(run.waitFor("A)scii B)inary X)on/Xoff E)tx/Ack R)ts/Cts N)one Q)uiet D)cd Check"));
    run.type("\x05k");
    EXPECT_TRUE(run.waitFor("c=>K ? for help"));
    // The protocol sub-prompt ends with the status line.
    run.type("\x05pkb\r");
    EXPECT_TRUE(run.waitFor("Protocol Binary, Xon/Xoff protocol, KERMIT Protocol"));
    // Line input keeps 79 characters.
    run.type("\x05");
    ASSERT_TRUE(run.waitFor("c=>"));
    run.type("c");
    ASSERT_TRUE(run.waitFor("c=>Connect to configuration:"));
    std::string typed;
    for (int i = 0; i < 100; i++)
        typed += static_cast<char>('a' + i % 26);
    run.type(typed);
    ASSERT_TRUE(run.waitFor("Connecting to a configuration is not built yet"));
    EXPECT_TRUE(onscreen(run, "Connect to configuration:" + typed.substr(0, 79) + " "));
    // Mode TALK shows its name and the talk prompt, staying out of terminal mode.
    const size_t before = run.output().size();
    run.type("\x05m");
    ASSERT_TRUE(run.waitFor("c=>Mode"));
    run.type("t");
    ASSERT_TRUE(run.waitFor("t=>"));
    EXPECT_TRUE(run.waitFor("c=>Mode TALK"));
    EXPECT_EQ(run.output().find("Returning to terminal mode", before), std::string::npos);
    run.type("\x1a");
    EXPECT_EQ(run.wait(), 0);
}
