// The escape prompt as a person at the console sees it.
#include "support/harness.h"

#include <gtest/gtest.h>

namespace {
// True when `text` shows on the screen, also where it wraps from one row to the next.
bool onscreen(const VornRun& run, const std::string& text) {
    std::string all;
    for (int r = 0; r < run.judge().rows(); r++) {
        std::string row = run.row(r);
        row.resize(static_cast<size_t>(run.judge().cols()), ' ');
        all += row;
    }
    return all.find(text) != std::string::npos;
}

// A program on the null line with the escape prompt open.
void prompt(VornRun& run) {
    ASSERT_TRUE(run.waitFor("Connected to NUL Driver"));
    run.type("\x05");
    ASSERT_TRUE(run.waitFor("c=>"));
}
} // namespace

TEST(EscapePrompt, ModeTalkShowsItsNameAndTheTalkPrompt) {
    VornRun run({"-z"});
    prompt(run);
    run.type("m");
    ASSERT_TRUE(run.waitFor("c=>Mode"));
    run.type("t");
    ASSERT_TRUE(run.waitFor("t=>"));
    EXPECT_TRUE(run.waitFor("c=>Mode TALK"));
    EXPECT_EQ(run.output().find("Returning to terminal mode"), std::string::npos);
    run.type("\x1a");
    EXPECT_EQ(run.wait(), 0);
}

TEST(EscapePrompt, BadSelectionListsTheAllowableLetters) {
    VornRun run({"-z"});
    prompt(run);
    run.type("mz");
    EXPECT_TRUE(run.waitUntil([&] {
        return onscreen(run,
                        "Allowable options are: F)ull, H)alf, T)alk, D)ump, M)nemonic, C)ontrol,");
    }));
    EXPECT_TRUE(run.waitFor("Returning to terminal mode"));
    run.type("\x05p?");
    EXPECT_TRUE(run.waitUntil([&] {
        return onscreen(run, "Allowable options are: T)vorncrc, W)vorncrc, 5)vorn5, M)odem7, "
                             "C)xmodem, Y)modem, Z)modem, K)ermit,");
    }));
    EXPECT_TRUE(run.waitFor("A)scii B)inary X)on/Xoff E)tx/Ack R)ts/Cts N)one Q)uiet D)cd Check"));
    run.type("\x05k");
    EXPECT_TRUE(run.waitFor("c=>K ? for help"));
    run.type("\x05q");
    EXPECT_EQ(run.wait(), 0);
}

TEST(EscapePrompt, LineInputKeepsSeventyNineCharacters) {
    VornRun run({"-z"});
    prompt(run);
    run.type("c");
    ASSERT_TRUE(run.waitFor("c=>Connect to configuration:"));
    std::string typed;
    for (int i = 0; i < 100; i++)
        typed += static_cast<char>('a' + i % 26);
    run.type(typed);
    ASSERT_TRUE(run.waitFor("Connecting to a configuration is not built yet"));
    std::string shown = "Connect to configuration:" + typed.substr(0, 79) + " ";
    EXPECT_TRUE(onscreen(run, shown));
    run.type("\x05q");
    EXPECT_EQ(run.wait(), 0);
}

TEST(EscapePrompt, ProtocolSubPromptEndsWithTheStatusLine) {
    VornRun run({"-z"});
    prompt(run);
    run.type("pkb\r");
    EXPECT_TRUE(run.waitFor("Protocol Binary, Xon/Xoff protocol, KERMIT Protocol"));
    run.type("\x05q");
    EXPECT_EQ(run.wait(), 0);
}
