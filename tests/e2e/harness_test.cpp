// The harness itself, checked against ordinary programs so that a fault in an e2e test can be
// told apart from a fault in the harness.
#include "support/harness.h"

#include <gtest/gtest.h>

#include <csignal>

TEST(VtJudge, DrawsTextCursorAndRenditions) {
    VtJudge j(5, 20);
    j.feed("hello\r\n\x1b[1;4mbold\x1b[m\x1b[3;10Hx");
    EXPECT_EQ(j.row(0), "hello");
    EXPECT_EQ(j.row(1), "bold");
    EXPECT_TRUE(j.cell(1, 0).bold);
    EXPECT_TRUE(j.cell(1, 0).underline);
    EXPECT_FALSE(j.cell(0, 0).bold);
    EXPECT_EQ(j.cell(2, 9).text, "x");
    EXPECT_EQ(j.cursorRow(), 2);
    EXPECT_EQ(j.cursorCol(), 10);
}

TEST(VtJudge, AnswersDeviceStatus) {
    VtJudge j(5, 20);
    std::string reply;
    j.onReply([&](std::string_view s) { reply += s; });
    j.feed("\x1b[2;3H\x1b[6n");
    EXPECT_EQ(reply, "\x1b[2;3R");
}

TEST(VornRun, RunsAProgramOnAPseudoTerminal) {
    RunOptions opt;
    opt.program = "/bin/sh";
    opt.rows = 10;
    opt.cols = 40;
    VornRun run({"-c", "stty size; printf 'term=%s\\n' \"$TERM\"; read x; echo got-$x"}, opt);
    ASSERT_TRUE(run.waitFor("10 40"));
    EXPECT_TRUE(run.waitFor("term=xterm"));
    run.type("abc\r");
    EXPECT_TRUE(run.waitFor("got-abc"));
    EXPECT_EQ(run.wait(), 0);
    EXPECT_TRUE(sameTermios(run.before(), run.now()));
}

TEST(VornRun, SeesAConsoleLeftRaw) {
    RunOptions opt;
    opt.program = "/bin/sh";
    VornRun run({"-c", "stty raw -echo"}, opt);
    EXPECT_EQ(run.wait(), 0);
    EXPECT_FALSE(sameTermios(run.before(), run.now()));
}

TEST(VornRun, ReportsTheSignalThatEndedTheProgram) {
    RunOptions opt;
    opt.program = "/bin/sh";
    VornRun run({"-c", "echo ready; exec sleep 30"}, opt);
    ASSERT_TRUE(run.waitFor("ready"));
    run.signal(SIGKILL);
    EXPECT_EQ(run.wait(), 128 + SIGKILL);
}
