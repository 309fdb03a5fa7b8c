// Local shell escapes of the real program: the escape prompt's "!" runs one command, F4 and the
// prompt's 4 open the user's shell; the console is in its normal mode while they run and raw
// again afterwards, and the screen comes back as it was.
#include "support/harness.h"

#include <gtest/gtest.h>

#include <termios.h>

namespace {
bool raw(const termios& t) {
    return !(t.c_lflag & (ICANON | ECHO | ISIG)) && !(t.c_oflag & OPOST);
}

void quit(VornRun& run) {
    run.type("\x05");
    ASSERT_TRUE(run.waitFor("c=>"));
    run.type("q");
    EXPECT_EQ(run.wait(), 0);
    EXPECT_TRUE(sameTermios(run.before(), run.now()));
}
} // namespace

TEST(Shell, BangRunsOneCommandInNormalModeAndReturnsRaw) {
    VornRun run({"-z", "-u"});
    ASSERT_TRUE(run.waitFor("Connected to NUL Driver"));
    ASSERT_TRUE(raw(run.now()));
    run.type("\x05");
    ASSERT_TRUE(run.waitFor("c=>"));
    // The command sees the console as the user's own terminal: line editing and echo on.
    run.type("!stty -a > modes.txt; echo ran-$((6*7)) > out.txt; echo shown-ok\r");
    ASSERT_TRUE(run.waitFor("shown-ok"));
    ASSERT_TRUE(run.waitUntil([&] { return run.dir().read("out.txt") == "ran-42\n"; }));
    std::string modes = run.dir().read("modes.txt");
    EXPECT_NE(modes.find(" icanon"), std::string::npos) << modes;
    EXPECT_NE(modes.find(" echo "), std::string::npos) << modes;
    EXPECT_TRUE(run.waitUntil([&] { return raw(run.now()); }));
    // Back in terminal mode: the escape prompt answers at once.
    run.type("\x05");
    EXPECT_TRUE(run.waitFor("c=>"));
    run.type("\r");
    quit(run);
}

TEST(Shell, F4OpensTheShellAndExitRestoresTheScreen) {
    RunOptions opt;
    opt.env = {{"SHELL", "/bin/sh"}, {"PS1", "inner$ "}};
    VornRun run({"-z"}, opt);
    ASSERT_TRUE(run.waitFor("Connected to NUL Driver"));
    run.settle();
    std::string before = run.screen();
    run.type("\033OS"); // F4 on an xterm
    ASSERT_TRUE(run.waitFor("UNIX Gateway.  Type exit to return to VORN."));
    ASSERT_TRUE(run.waitFor("inner$"));
    EXPECT_FALSE(raw(run.now()));
    run.type("echo inside-$((2+3))\r");
    ASSERT_TRUE(run.waitFor("inside-5"));
    run.type("exit\r");
    EXPECT_TRUE(run.waitUntil([&] { return raw(run.now()); }));
    EXPECT_TRUE(run.waitUntil([&] { return run.screen() == before; })) << "before:\n"
                                                                       << before << "\nafter:\n"
                                                                       << run.screen();
    quit(run);
}

TEST(Shell, TheEscapePromptsFourOpensTheShellAndExitRedraws) {
    RunOptions opt;
    opt.env = {{"SHELL", "/bin/sh"}, {"PS1", "inner$ "}};
    VornRun run({"-z"}, opt);
    ASSERT_TRUE(run.waitFor("Connected to NUL Driver"));
    run.type("\x05");
    ASSERT_TRUE(run.waitFor("c=>"));
    run.type("4");
    ASSERT_TRUE(run.waitFor("UNIX Gateway.  Type exit to return to VORN."));
    ASSERT_TRUE(run.waitFor("inner$"));
    run.type("echo inside-$((2+3))\r");
    ASSERT_TRUE(run.waitFor("inside-5"));
    run.type("exit\r");
    // The session's screen comes back with the prompt that opened the shell, and nothing of it.
    EXPECT_TRUE(run.waitUntil([&] {
        std::string s = run.screen();
        return s.find("inside-5") == std::string::npos && s.find("c=>4") != std::string::npos;
    })) << run.screen();
    EXPECT_EQ(run.screen().find("UNIX Gateway"), std::string::npos);
    EXPECT_TRUE(run.waitUntil([&] { return raw(run.now()); }));
    quit(run);
}
