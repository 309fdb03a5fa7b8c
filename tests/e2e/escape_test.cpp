// The escape prompt and the local shell escapes as a person at the console sees them, in one run
// of the real program: letters and sub-prompts, F4 and the prompt's 4 opening the user's shell,
// "!" running one command, and TALK mode left with ^Z. While a shell runs the console is in
// its normal mode; afterwards it is raw again and the screen comes back as it was.
#include "support/harness.h"

#include <gtest/gtest.h>

#include <termios.h>

namespace {
bool raw(const termios& t) {
    return !(t.c_lflag & (ICANON | ECHO | ISIG)) && !(t.c_oflag & OPOST);
}
} // namespace

TEST(EscapePrompt, LettersShellEscapesAndTalk) {
    VornRun run({"-m", "-z"}, {.env = {{"SHELL", "/bin/sh"}, {"PS1", "inner$ "}}});
    ASSERT_TRUE(run.waitFor("Connected to NUL Driver"));
    ASSERT_TRUE(raw(run.now()));
    // What each letter prints is pinned in-process; here the screen: the protocol list wraps
    // after Y)modem, and the protocol sub-prompt ends with the status line.
    const std::pair<const char*, const char*> letters[] = {
        {"p?", "Allowable options are: T)vorncrc, W)vorncrc, 5)vorn5, M)odem7, C)xmodem, Y)modem\n"
               ", Z)modem, K)ermit,\nA)scii B)inary X)on/Xoff E)tx/Ack R)ts/Cts N)one Q)uiet D)cd"},
        {"pkb\r", "Protocol Binary, Xon/Xoff protocol, KERMIT Protocol"},
    };
    for (const auto& [keys, shows] : letters) {
        run.type(std::string("\x05") + keys);
        EXPECT_TRUE(run.waitFor(shows)) << keys << ": " << shows;
    }

    run.settle();
    const std::string before = run.screen();
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

    run.type(std::string("\x05") + "4");
    ASSERT_TRUE(run.waitFor("UNIX Gateway.  Type exit to return to VORN."));
    ASSERT_TRUE(run.waitFor("inner$"));
    run.type("echo again-$((2+3))\r");
    ASSERT_TRUE(run.waitFor("again-5"));
    run.type("exit\r");
    // The session's screen comes back with the prompt that opened the shell, and nothing of it.
    EXPECT_TRUE(run.waitUntil([&] {
        std::string s = run.screen();
        return s.find("again-5") == std::string::npos && s.find("c=>4") != std::string::npos;
    })) << run.screen();
    EXPECT_EQ(run.screen().find("UNIX Gateway"), std::string::npos);
    EXPECT_TRUE(run.waitUntil([&] { return raw(run.now()); }));

    // "!" runs one command with the console as the user's own terminal: line editing and echo.
    run.type("\x05!stty -a > modes.txt; echo ran-$((6*7)) > out.txt; echo shown-ok\r");
    ASSERT_TRUE(run.waitFor("shown-ok"));
    ASSERT_TRUE(run.waitUntil([&] { return run.dir().read("out.txt") == "ran-42\n"; }));
    std::string modes = run.dir().read("modes.txt");
    EXPECT_NE(modes.find(" icanon"), std::string::npos) << modes;
    EXPECT_NE(modes.find(" echo "), std::string::npos) << modes;
    EXPECT_TRUE(run.waitUntil([&] { return raw(run.now()); }));

    // Mode TALK shows its name and the talk prompt, staying out of terminal mode; ^Z there ends.
    run.settle(); // the "!" prompt's own "Returning to terminal mode" comes first
    const size_t from = run.output().size();
    run.type("\x05mt");
    ASSERT_TRUE(run.waitFor("t=>"));
    EXPECT_TRUE(run.waitFor("c=>Mode TALK"));
    EXPECT_EQ(run.output().find("Returning to terminal mode", from), std::string::npos);
    run.type("\x1a");
    EXPECT_EQ(run.wait(), 0);
    EXPECT_TRUE(sameTermios(run.before(), run.now()));
}
