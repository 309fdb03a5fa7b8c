// Start-up and exit of the real program: banner, hint line, escape prompt, quitting, and the
// console put back as it was.
#include "support/harness.h"

#include <gtest/gtest.h>

#include <csignal>

TEST(Start, NullLineShowsBannerPromptAndQuits) {
    VornRun run({"-z"});
    ASSERT_TRUE(run.waitFor("VORN Communications Software v"));
    EXPECT_TRUE(run.waitFor("for Command Menu"));
    EXPECT_TRUE(run.waitFor("Connected to NUL Driver"));
    run.type("\x05");
    ASSERT_TRUE(run.waitFor("c=>"));
    run.type("q");
    EXPECT_TRUE(run.waitFor("c=>Quit"));
    EXPECT_EQ(run.wait(), 0);
    EXPECT_TRUE(sameTermios(run.before(), run.now()));
}

TEST(Start, SigtermEndsThroughDonetermAndRestoresTheConsole) {
    VornRun run({"-z"});
    ASSERT_TRUE(run.waitFor("Connected to NUL Driver"));
    run.signal(SIGTERM);
    EXPECT_EQ(run.wait(), SIGTERM);
    EXPECT_TRUE(sameTermios(run.before(), run.now()));
}
