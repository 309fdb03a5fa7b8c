// Start-up and exit of the real program: options, the program name "vt", start-up scripts in
// their order, the escape prompt, and the console put back as it was on every way out.
#include "support/harness.h"

#include <gtest/gtest.h>

#include <csignal>

namespace {
const char* const banner = "VORN Communications Software v";

// Position of `text` in everything the program wrote, npos when absent.
size_t at(const VornRun& run, const std::string& text, size_t from = 0) {
    return run.output().find(text, from);
}

// True when `text` was written exactly once.
bool once(const VornRun& run, const std::string& text) {
    size_t first = at(run, text);
    return first != std::string::npos && at(run, text, first + 1) == std::string::npos;
}

RunOptions in(const TempDir& cwd) {
    RunOptions opt;
    opt.cwd = cwd.path();
    return opt;
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

TEST(Start, BannerUnknownOptionsMflagAndQuit) {
    VornRun run({"-m", "-y", "-z", "-l"});
    ASSERT_TRUE(run.waitFor("Connected to NUL Driver"));
    EXPECT_NE(at(run, banner), std::string::npos);
    EXPECT_NE(at(run, "for Command Menu"), std::string::npos);
    // Printed before the screen exists; the lines after it scroll it off the top.
    EXPECT_NE(at(run, "Setting mflag to 1"), std::string::npos);
    EXPECT_NE(at(run, "Unknown option ignored: ?\r\nUnknown option ignored: ?\r\n"),
              std::string::npos);
    quit(run);
    EXPECT_NE(at(run, "c=>Quit"), std::string::npos);
}

TEST(Start, ExitPathsRestoreTheConsole) {
    const struct {
        const char* name;
        std::function<void(VornRun&)> end;
        int status;
    } cases[] = {
        {"SIGTERM", [](VornRun& r) { r.signal(SIGTERM); }, SIGTERM},
        {"^Z at the prompt", [](VornRun& r) { r.type("\x05\x1a"); }, 0},
        {"^Z in TALK mode",
         [](VornRun& r) {
             r.type("\x05mt");
             ASSERT_TRUE(r.waitFor("t=>"));
             r.type("\x1a");
         },
         0},
    };
    for (const auto& c : cases) {
        VornRun run({"-z"});
        ASSERT_TRUE(run.waitFor("Connected to NUL Driver")) << c.name;
        c.end(run);
        EXPECT_EQ(run.wait(), c.status) << c.name;
        EXPECT_TRUE(sameTermios(run.before(), run.now())) << c.name;
    }
}

TEST(Start, CommandMenuOpensOnlyWhenModeOptionsAndTheNameAgree) {
    const struct {
        std::vector<std::string> args;
        std::string argv0;
        bool menu;
    } cases[] = {
        {{"-z"}, "", true},        // no mode option, no files: fflag = mflag = 0
        {{"-v", "-z"}, "", false}, // a mode option
        {{}, "vt", false},         // "vt" alone: mflag = 1, fflag = 0
        {{"-m", "-u", "-z"}, "", true},
    };
    for (const auto& c : cases) {
        RunOptions opt;
        opt.argv0 = c.argv0;
        VornRun run(c.args, opt);
        // The menu decision comes before terminal mode, so it is settled once the escape
        // prompt answers.
        quit(run);
        EXPECT_EQ(at(run, "Command menu is not built yet") != std::string::npos, c.menu)
            << c.argv0 << " " << (c.args.empty() ? "" : c.args[0]);
    }
}

TEST(Start, VtTakesThePortListFromItsFirstArgument) {
    RunOptions opt;
    opt.argv0 = "vt";
    VornRun run({"nul:"}, opt);
    ASSERT_TRUE(run.waitFor("Connected to NUL Driver"));
    quit(run);
}

TEST(Start, VornflagsApplyOnlyWithoutCommandLineOptions) {
    RunOptions opt;
    opt.env["VORNFLAGS"] = "-u";
    {
        VornRun run({}, opt);
        quit(run);
        EXPECT_EQ(at(run, banner), std::string::npos);
        EXPECT_EQ(at(run, "for Command Menu"), std::string::npos);
    }
    VornRun run({"-z"}, opt);
    EXPECT_TRUE(run.waitFor(banner));
    EXPECT_TRUE(run.waitFor("Type F1 for Command Menu F2 for Help"));
    quit(run);
}

TEST(Start, StartUpScriptsAndCommandFilesRunInTheirPlaces) {
    // The system script before the banner, the user script between the banner and the hint
    // line, command files after it and before the line opens, the exit script once at the end
    // even when it quits itself. The environment names the first two.
    TempDir cwd, elsewhere;
    elsewhere.write("sys.cmd", "display 'script:sys'\n");
    elsewhere.write("rc.cmd", "display 'script:rc'\n");
    cwd.write(".vornsys", "display 'not-named'\n");
    cwd.write(".vornrc", "display 'not-named'\n");
    cwd.write(".vornex", "display 'script:ex'\nquit 3\ndisplay 'not-reached'\n");
    cwd.write("first.cmd", "display 'file-ran'\n");
    RunOptions opt = in(cwd);
    opt.env["VORNSYS"] = elsewhere.file("sys.cmd").string();
    opt.env["VORNRC"] = elsewhere.file("rc.cmd").string();
    VornRun run({"-z", "first"}, opt);
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
    EXPECT_TRUE(once(run, "script:ex"));
    EXPECT_EQ(at(run, "not-reached"), std::string::npos);
    EXPECT_EQ(at(run, "not-named"), std::string::npos);
    // A file argument is a mode choice: the command menu does not open.
    EXPECT_EQ(at(run, "Command menu is not built yet"), std::string::npos);
}

TEST(Start, RefusedConsolesFailingFilesAndSmallSizes) {
    {
        RunOptions opt;
        opt.stdinIsTerminal = false;
        VornRun run({"-z"}, opt);
        EXPECT_EQ(run.wait(), 1);
        EXPECT_TRUE(run.waitFor("the console is not a terminal"));
    }
    {
        TempDir cwd;
        VornRun run({"-z", "nosuchfile"}, in(cwd));
        EXPECT_EQ(run.wait(), 1);
        EXPECT_EQ(at(run, "Connected to NUL Driver"), std::string::npos);
        EXPECT_TRUE(sameTermios(run.before(), run.now()));
    }
    // The console size is raised to 24 by 80, saying so once.
    const struct {
        int rows, cols;
        bool message;
    } cases[] = {{20, 132, true}, {24, 60, true}, {24, 80, false}};
    for (const auto& c : cases) {
        RunOptions opt;
        opt.rows = c.rows;
        opt.cols = c.cols;
        VornRun run({"-z"}, opt);
        ASSERT_TRUE(run.waitForOutput("Connected to NUL Driver"));
        const std::string msg = "TERM variable has bad lines or cols entry\r\n";
        EXPECT_EQ(at(run, msg) != std::string::npos, c.message) << c.rows << "x" << c.cols;
        EXPECT_TRUE(!c.message || once(run, msg));
        quit(run);
    }
}

TEST(ServerMode, TalkEchoesWithBitSevenAndAckRunsAnEscapeCommand) {
    // -x makes standard input the line in TALK mode; nothing is drawn on a console.
    VornRun run({"-x"});
    ASSERT_TRUE(run.waitForOutput("OK\r\n")); // the server's greeting comes first
    run.type("a");
    ASSERT_TRUE(run.waitForOutput("\xe1"));
    run.type("\xe1"
             "b");
    ASSERT_TRUE(run.waitForOutput("\xe2"));
    EXPECT_TRUE(once(run, "\xe1"));
    EXPECT_EQ(at(run, "VORN"), std::string::npos);
    // Remote command mode: ACK "mf" CR switches TALK to FULL as if typed at the console; the
    // carriage return that ended the command is then typed to the line.
    const size_t before = run.output().size();
    run.type("\x06mf\r");
    ASSERT_TRUE(run.waitUntil([&] { return at(run, "\r", before) != std::string::npos; }));
    run.type("c");
    run.type("\x03"); // ^C from the line ends terminal mode in server mode
    EXPECT_EQ(run.wait(), 0);
    EXPECT_EQ(at(run, "\xe3"), std::string::npos); // FULL does not echo
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
        {{"-ux", "-2"}, false, "OK\r\n", 1},
        {{"-b", "9", "-X", "-2"}, false, "OK\r\n", 1}, // letters compared without case
        // The word after l is its argument, not -x; a port that cannot be opened ends it.
        {{"-l", "x", "-2"}, true, "Unknown transport: x", 0},
    };
    for (const auto& c : cases) {
        TempDir cwd;
        cwd.write(".vornsys", "display 'script:sys'\n");
        VornRun run(c.args, in(cwd));
        EXPECT_TRUE(run.waitForOutput(c.shows)) << c.args[0];
        EXPECT_EQ(run.wait(), c.status) << c.args[0];
        EXPECT_EQ(at(run, "script:sys") != std::string::npos, c.sysscript) << c.args[0];
        EXPECT_TRUE(sameTermios(run.before(), run.now())) << c.args[0];
    }
}

TEST(QuietMode, DrawsNothingReadsNothingAndStillRestoresTheConsole) {
    VornRun run({"-q", "-z"});
    run.settle(0.5);
    run.type("\x05q"); // not read: the program goes on
    run.settle(0.5);
    EXPECT_TRUE(run.running());
    EXPECT_EQ(at(run, banner), std::string::npos);
    run.signal(SIGTERM);
    EXPECT_EQ(run.wait(), SIGTERM);
    EXPECT_TRUE(sameTermios(run.before(), run.now()));
}

TEST(LostLine, WithAPortListTheProgramEndsUnderZItAsksForAnother) {
    for (bool z : {false, true}) {
        VornRun run(z ? std::vector<std::string>{"-z", "-l", "pty:/bin/cat"}
                      : std::vector<std::string>{"-l", "pty:/bin/cat"});
        ASSERT_TRUE(run.waitFor("Attempting connection to"));
        run.type("hello\r");
        // The terminal's echo is the first copy, cat's the second: cat's settings are in force.
        ASSERT_TRUE(run.waitUntil([&] {
            size_t first = at(run, "hello");
            return first != std::string::npos && at(run, "hello", first + 1) != std::string::npos;
        }));
        run.type("\x04"); // cat ends at end of file and the line is lost
        EXPECT_TRUE(run.waitForOutput("[Disconnected]"));
        if (z) {
            ASSERT_TRUE(run.waitFor("Connect to:"));
            EXPECT_TRUE(run.running());
            run.type("\r\r\r"); // three empty answers give up
        }
        EXPECT_EQ(run.wait(), 0) << z;
        EXPECT_TRUE(sameTermios(run.before(), run.now())) << z;
    }
}

TEST(ExitScript, TerminateIsIgnoredWhileItRunsAndHangupEndsIt) {
    TempDir cwd;
    cwd.write(".vornex", "display 'ex-start'\npause 'ex-waiting'\ndisplay 'ex-middle'\n"
                         "pause 'ex-again'\ndisplay 'ex-end'\n");
    VornRun run({"-z"}, in(cwd));
    ASSERT_TRUE(run.waitFor("Connected to NUL Driver"));
    run.type("\x05");
    ASSERT_TRUE(run.waitFor("c=>"));
    run.type("q");
    ASSERT_TRUE(run.waitForOutput("ex-waiting"));
    run.signal(SIGTERM);
    run.type("k");
    ASSERT_TRUE(run.waitForOutput("ex-again"));
    EXPECT_NE(at(run, "ex-middle"), std::string::npos);
    run.signal(SIGTERM);
    run.signal(SIGHUP);
    EXPECT_EQ(run.wait(), SIGHUP);
    EXPECT_TRUE(once(run, "ex-start")); // not run again
    EXPECT_EQ(at(run, "ex-end"), std::string::npos);
    EXPECT_TRUE(sameTermios(run.before(), run.now()));
}
