// A local program as the line: the real program started with -l pty, as a person at the console
// sees it.
#include "support/harness.h"

#include <gtest/gtest.h>

#include <csignal>

namespace {
void quit(VornRun& run) {
    run.type("\x05");
    ASSERT_TRUE(run.waitFor("c=>"));
    run.type("q");
    EXPECT_EQ(run.wait(), 0);
    EXPECT_TRUE(sameTermios(run.before(), run.now()));
}
} // namespace

TEST(PtyE2E, TheUsersShellAnswersAndItsExitDropsTheLine) {
    RunOptions opt;
    opt.env = {{"SHELL", "/bin/sh"}, {"PS1", "ready$ "}};
    VornRun run({"-z", "-l", "pty"}, opt);
    ASSERT_TRUE(run.waitFor("Connected"));
    ASSERT_TRUE(run.waitFor("ready$"));
    run.type("echo hello-$((6*7))\r");
    EXPECT_TRUE(run.waitFor("hello-42"));
    run.type("exit\r");
    EXPECT_TRUE(run.waitFor("[Disconnected]"));
    // Under -z a lost line does not end the program: it asks for the next line; ^D there
    // ends it. (Without -z, a port list given at start ends the program with its line.)
    EXPECT_TRUE(run.waitFor("Connect to:"));
    run.type("\x04");
    EXPECT_EQ(run.wait(), 0);
    EXPECT_TRUE(sameTermios(run.before(), run.now()));
}

TEST(PtyE2E, AProgramWithItsArgumentsRunsOnTheLine) {
    TempDir dir;
    dir.write("show.sh", "#!/bin/sh\n"
                         "echo \"TERM=$TERM COLUMNS=$COLUMNS LINES=$LINES ARGS=$*\"\n"
                         "read answer\n"
                         "echo \"GOT=$answer\"\n");
    std::filesystem::permissions(dir.file("show.sh"), std::filesystem::perms::owner_all);
    VornRun run({"-l", "pty:" + dir.file("show.sh").string() + " a b"});
    ASSERT_TRUE(run.waitFor("TERM=vt102 COLUMNS=80 LINES=24 ARGS=a b"));
    run.type("typed\r");
    EXPECT_TRUE(run.waitForOutput("GOT=typed"));
    EXPECT_TRUE(run.waitForOutput("[Disconnected]")); // the program ends with its line
    EXPECT_EQ(run.wait(), 0);
}

TEST(PtyE2E, QuittingHangsTheProgramUp) {
    VornRun run({"-l", "pty:sleep 300"});
    ASSERT_TRUE(run.waitFor("Connected"));
    quit(run);
}

TEST(PtyE2E, AMissingProgramIsReportedOnTheScreen) {
    VornRun run({"-l", "pty:/nonexistent/prog"});
    EXPECT_TRUE(run.waitForOutput("vorn: Can't execvp /nonexistent/prog"));
    EXPECT_TRUE(run.waitForOutput("[PTY Driver Exit: 30]"));
    EXPECT_TRUE(run.waitForOutput("[Disconnected]")); // the program ends with its line
    EXPECT_EQ(run.wait(), 0);
}
