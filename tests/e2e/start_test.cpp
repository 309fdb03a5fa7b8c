// Start-up and exit of the real program: options, the program name "vt", start-up scripts in
// their order, the escape prompt, and the console put back as it was on every way out.
#include "support/harness.h"

#include <gtest/gtest.h>

#include <csignal>
#include <map>

namespace {
const char* const banner = "VORN Communications Software v";
const char* const topmenu = "Setup  Connect  Xfer"; // the menu bar, past the reversed choice

// Position of `text` in everything the program wrote, npos when absent.
size_t at(const VornRun& run, const std::string& text, size_t from = 0) {
    return run.output().find(text, from);
}

// How many times `text` was written.
int count(const VornRun& run, const std::string& text) {
    int n = 0;
    for (size_t i = at(run, text); i != std::string::npos; i = at(run, text, i + 1))
        n++;
    return n;
}

// Quits through the escape prompt and checks the console came back as it was.
void quit(VornRun& run, int status = 0) {
    run.type("\x05");
    ASSERT_TRUE(run.waitFor("c=>"));
    run.type("q");
    EXPECT_EQ(run.wait(), status);
    EXPECT_TRUE(sameTermios(run.before(), run.now()));
}
} // namespace

TEST(Start, ExitPathsRestoreTheConsole) {
    {
        // Quiet mode draws nothing and reads no keys: only the signal ends it.
        VornRun run({"-q", "-z"});
        run.settle(0.5);
        run.type("\x05q");
        run.settle(0.5);
        EXPECT_TRUE(run.running());
        EXPECT_EQ(at(run, banner), std::string::npos);
        run.signal(SIGTERM);
        EXPECT_EQ(run.wait(), SIGTERM);
        EXPECT_TRUE(sameTermios(run.before(), run.now()));
    }
    VornRun run({"-m", "-z"});
    ASSERT_TRUE(run.waitFor("Connected to NUL Driver"));
    run.type("\x05\x1a"); // ^Z at the escape prompt
    EXPECT_EQ(run.wait(), 0);
    EXPECT_TRUE(sameTermios(run.before(), run.now()));
}

TEST(Start, CommandMenuOpensOnlyWhenModeOptionsAndTheNameAgree) {
    const struct {
        std::vector<std::string> args;
        std::string argv0;
        std::map<std::string, std::string> env;
        bool menu, hint;
    } cases[] = {
        // No mode option, no files: fflag = mflag = 0. VORNFLAGS are not used: there are
        // options on the command line.
        {{"-z"}, "", {{"VORNFLAGS", "-u"}}, true, true},
        {{"-v", "-z"}, "", {}, false, true}, // a mode option
        {{}, "vt", {}, false, true},         // "vt" alone: mflag = 1, fflag = 0
        {{"nul:"}, "vt", {}, true, true},    // its argument is the port list and sets fflag
        {{"-m", "-u", "-z"}, "", {}, true, false},
        // VORNFLAGS apply when the command line has no options.
        {{}, "", {{"VORNFLAGS", "-u"}}, false, false},
    };
    for (const auto& c : cases) {
        VornRun run(c.args, {.argv0 = c.argv0, .env = c.env});
        const std::string name = c.argv0 + " " + (c.args.empty() ? "" : c.args[0]);
        // The menu decision comes before terminal mode, so it is settled once the escape
        // prompt answers; Esc leaves an open menu for terminal mode.
        if (c.menu) {
            ASSERT_TRUE(run.waitFor(topmenu)) << name;
            run.type("\033");
        }
        quit(run);
        EXPECT_EQ(at(run, topmenu) != std::string::npos, c.menu) << name;
        EXPECT_EQ(at(run, "for Command Menu") != std::string::npos, c.hint) << name;
    }
}

TEST(Start, StartUpScriptsAndCommandFilesRunInTheirPlaces) {
    // The system script before the banner, the user script between the banner and the hint
    // line, command files after it and before the line opens, the exit script once at the end
    // even when it quits itself. The environment names the first two.
    TempDir elsewhere;
    elsewhere.write("sys.cmd", "display 'script:sys'\n");
    elsewhere.write("rc.cmd", "display 'script:rc'\n");
    VornRun run({"-z", "first"},
                {.env = {{"VORNSYS", elsewhere.file("sys.cmd").string()},
                         {"VORNRC", elsewhere.file("rc.cmd").string()}},
                 .files = {{".vornsys", "display 'not-named'\n"},
                           {".vornrc", "display 'not-named'\n"},
                           {".vornex", "display 'script:ex'\nquit 3\ndisplay 'not-reached'\n"},
                           {"first.cmd", "display 'file-ran'\n"}}});
    ASSERT_TRUE(run.waitFor("Connected to NUL Driver"));
    size_t sys = at(run, "script:sys");
    ASSERT_NE(sys, std::string::npos);
    EXPECT_LT(sys, at(run, banner));
    EXPECT_LT(at(run, banner), at(run, "script:rc"));
    EXPECT_LT(at(run, "script:rc"), at(run, "for Command Menu"));
    EXPECT_LT(at(run, "for Command Menu"), at(run, "file-ran"));
    EXPECT_LT(at(run, "file-ran"), at(run, "Connected to NUL Driver"));
    EXPECT_EQ(at(run, "script:ex"), std::string::npos);
    quit(run, 3);
    EXPECT_EQ(count(run, "script:ex"), 1);
    EXPECT_EQ(at(run, "not-reached"), std::string::npos);
    EXPECT_EQ(at(run, "not-named"), std::string::npos);
    // A file argument is a mode choice: the command menu does not open.
    EXPECT_EQ(at(run, topmenu), std::string::npos);
}

TEST(Start, RefusedConsolesFailingFilesAndSmallSizes) {
    {
        VornRun run({"-z"}, {.stdinIsTerminal = false});
        EXPECT_EQ(run.wait(), 1);
        EXPECT_TRUE(run.waitFor("the console is not a terminal"));
    }
    // The console size is raised to 24 by 80, saying so once.
    const struct { int rows, cols, messages; } cases[] = {{20, 132, 1}, {24, 60, 1}, {24, 80, 0}};
    for (const auto& c : cases) {
        VornRun run({"-m", "-z"}, {.rows = c.rows, .cols = c.cols});
        ASSERT_TRUE(run.waitForOutput("Connected to NUL Driver"));
        const std::string msg = "TERM variable has bad lines or cols entry\r\n";
        EXPECT_EQ(count(run, msg), c.messages) << c.rows << "x" << c.cols;
        quit(run);
    }
}

// Errors of start-up and of the way out would leave with the full screen (or be cleared by
// it): once the console is restored they are repeated on standard error, so the screen the
// user is left with shows them.
TEST(Start, StartUpAndExitErrorsAreLeftOnTheScreenAfterExit) {
    const struct {
        std::vector<std::string> args;
        int status;
        std::vector<std::string> shown;
    } cases[] = {
        {{"-y", "-m", "-l", "pty:/nonexistent/prog"},
         0,
         {"Unknown option ignored: y", "Can't execvp /nonexistent/prog"}},
        {{"-z", "nosuchfile"}, 1, {"Can't find command file nosuchfile"}},
        {{"-l", "/nonexistent/tty"},
         0,
         {"Unknown transport: /nonexistent/tty", "Can't connect to"}},
    };
    for (const auto& c : cases) {
        VornRun run(c.args);
        EXPECT_EQ(run.wait(), c.status) << c.args[1];
        for (const std::string& text : c.shown)
            EXPECT_TRUE(run.judge().contains(text)) << c.args[1] << ": " << text << "\n"
                                                    << run.screen();
        EXPECT_TRUE(sameTermios(run.before(), run.now())) << c.args[1];
    }
}

// A console without cursor addressing (TERM=dumb) still gets its carriage returns: every message
// line starts at the left margin.
TEST(Start, ConsoleWithoutCursorAddressingStartsEveryLineAtTheLeft) {
    VornRun run({"-v", "-z"}, {.term = "dumb"});
    ASSERT_TRUE(run.waitFor("Connected to NUL Driver"));
    run.type("\x05");
    ASSERT_TRUE(run.waitFor("c=>"));
    run.type("y"); // not an escape command: a line of its own, then the way back
    ASSERT_TRUE(run.waitFor("Returning to terminal mode"));
    run.settle();
    int lines = 0;
    for (int r = 0; r < 24; r++) {
        const std::string row = run.judge().row(r);
        if (row.empty()) continue;
        lines++;
        EXPECT_NE(row[0], ' ') << "row " << r << "\n" << run.screen();
    }
    EXPECT_GE(lines, 5);
    run.type("\x05q");
    EXPECT_EQ(run.wait(), 0);
    EXPECT_TRUE(sameTermios(run.before(), run.now()));
}

TEST(ServerMode, TalkEchoesWithBitSevenOnTheLineSettingsOfS) {
    // -x makes standard input the line in TALK mode; nothing is drawn on a console. The line
    // gets 8 bits, one stop bit and no parity, then the -s parameters.
    VornRun run({"-x", "-s", "2400,O,7,2"});
    ASSERT_TRUE(run.waitForOutput("OK\r\n")); // the server's greeting comes first
    termios t{};
    EXPECT_TRUE(run.waitUntil([&] { return t = run.now(), cfgetospeed(&t) == B2400; }));
    EXPECT_EQ(t.c_cflag & (PARODD | CSTOPB), static_cast<tcflag_t>(PARODD | CSTOPB));
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u);
    run.type("a");
    ASSERT_TRUE(run.waitForOutput("\xe1"));
    run.type("\xe1"
             "b");
    ASSERT_TRUE(run.waitForOutput("\xe2"));
    EXPECT_EQ(count(run, "\xe1"), 1);
    EXPECT_EQ(at(run, "VORN"), std::string::npos);
    run.type("c");
    ASSERT_TRUE(run.waitForOutput("\xe3"));
    run.type("\x03"); // ^C from the line ends terminal mode in server mode
    EXPECT_EQ(run.wait(), 0);
    EXPECT_TRUE(sameTermios(run.before(), run.now()));
}

TEST(ServerMode, XAmongTheLeadingOptionsSkipsTheSystemScript) {
    const struct {
        std::vector<std::string> args;
        bool sysscript;
        const char* shows;
        int status;
    } cases[] = {
        // The server greets the peer and ends when the receive fails.
        {{"-x", "-2"}, false, "OK\r\n", 1},
        // The word after l is its argument, not -x; a line that cannot be opened ends it.
        {{"-l", "x", "-2"}, true, "Can't connect to x:...", 0},
    };
    for (const auto& c : cases) {
        VornRun run(c.args, {.files = {{".vornsys", "display 'script:sys'\n"}}});
        EXPECT_TRUE(run.waitForOutput(c.shows)) << c.args[0];
        EXPECT_EQ(run.wait(), c.status) << c.args[0];
        EXPECT_EQ(at(run, "script:sys") != std::string::npos, c.sysscript) << c.args[0];
        EXPECT_TRUE(sameTermios(run.before(), run.now())) << c.args[0];
    }
}

TEST(LostLine, WithAPortListTheProgramEndsUnderZItAsksForAnother) {
    // The line is cat, whose echo after the terminal's shows cat's settings are in force, or
    // the user's shell. Under -z the lost line asks for another: three empty answers or ^D end.
    const struct {
        std::vector<std::string> args;
        const char *typed, *shows, *end, *answers;
    } cases[] = {
        {{"-m", "-l", "pty:/bin/cat"}, "hello\r", "hello\nhello", "\x04", nullptr},
        {{"-mz", "-l", "pty"}, "echo hello-$((6*7))\r", "hello-42", "exit\r", "\r\r\r"},
        {{"-mz", "-l", "pty:/bin/cat"}, "hello\r", "hello\nhello", "\x04", "\x04"},
    };
    for (const auto& c : cases) {
        VornRun run(c.args, {.env = {{"SHELL", "/bin/sh"}, {"PS1", "ready$ "}}});
        ASSERT_TRUE(run.waitFor("Connected")) << c.args[1];
        run.type(c.typed);
        ASSERT_TRUE(run.waitFor(c.shows)) << c.args[1];
        run.type(c.end); // the program on the line ends and the line is lost
        EXPECT_TRUE(run.waitForOutput("[Disconnected]")) << c.args[1];
        if (c.answers) {
            ASSERT_TRUE(run.waitFor("Connect to:"));
            EXPECT_TRUE(run.running());
            run.type(c.answers);
        }
        EXPECT_EQ(run.wait(), 0) << c.args[1];
        EXPECT_TRUE(sameTermios(run.before(), run.now())) << c.args[1];
    }
}

TEST(ExitScript, TerminateIsIgnoredWhileItRunsAndHangupEndsIt) {
    VornRun run(
        {"-m", "-z"},
        {.files = {{".vornex", "display 'ex-start'\npause 'ex-waiting'\ndisplay 'ex-middle'\n"
                               "pause 'ex-again'\ndisplay 'ex-end'\n"}}});
    ASSERT_TRUE(run.waitFor("Connected to NUL Driver"));
    run.type("\x05q");
    ASSERT_TRUE(run.waitForOutput("ex-waiting"));
    run.signal(SIGTERM);
    run.type("k");
    ASSERT_TRUE(run.waitForOutput("ex-again"));
    EXPECT_NE(at(run, "ex-middle"), std::string::npos);
    run.signal(SIGTERM);
    run.signal(SIGHUP);
    EXPECT_EQ(run.wait(), SIGHUP);
    EXPECT_EQ(count(run, "ex-start"), 1); // not run again
    EXPECT_EQ(at(run, "ex-end"), std::string::npos);
    EXPECT_TRUE(sameTermios(run.before(), run.now()));
}
