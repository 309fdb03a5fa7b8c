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

// True once cat on the line has read `text` and written it back (the terminal's echo is the
// first copy, cat's the second), so its terminal settings are in force.
bool catanswered(VornRun& run, const std::string& text) {
    return run.waitUntil([&] {
        size_t first = run.output().find(text);
        return first != std::string::npos &&
               run.output().find(text, first + 1) != std::string::npos;
    });
}

// Quits through the escape prompt and checks the console came back as it was.
void quit(VornRun& run) {
    run.type("\x05");
    ASSERT_TRUE(run.waitFor("c=>"));
    run.type("q");
    EXPECT_EQ(run.wait(), 0);
    EXPECT_TRUE(sameTermios(run.before(), run.now()));
}
} // namespace

TEST(Start, NullLineShowsBannerPromptAndQuits) {
    VornRun run({"-z"});
    ASSERT_TRUE(run.waitFor(banner));
    EXPECT_TRUE(run.waitFor("Type F1 for Command Menu F2 for Help"));
    EXPECT_TRUE(run.waitFor("Connected to NUL Driver"));
    run.type("\x05");
    ASSERT_TRUE(run.waitFor("c=>"));
    run.type("q");
    EXPECT_TRUE(run.waitForOutput("c=>Quit")); // then the program ends
    EXPECT_EQ(run.wait(), 0);
    EXPECT_TRUE(sameTermios(run.before(), run.now()));
}

TEST(Start, ExitPathsRestoreTheConsole) {
    struct Case {
        const char* name;
        std::function<void(VornRun&)> end;
        int status;
    };
    const Case cases[] = {
        {"SIGTERM", [](VornRun& r) { r.signal(SIGTERM); }, SIGTERM},
        {"SIGHUP", [](VornRun& r) { r.signal(SIGHUP); }, SIGHUP},
        {"^Z at the prompt", [](VornRun& r) { r.type("\x05\x1a"); }, 0},
        {"^Z in TALK mode",
         [](VornRun& r) {
             r.type("\x05mt");
             ASSERT_TRUE(r.waitFor("t=>"));
             r.type("\x1a");
         },
         0},
    };
    for (const Case& c : cases) {
        VornRun run({"-z"});
        ASSERT_TRUE(run.waitFor("Connected to NUL Driver")) << c.name;
        c.end(run);
        EXPECT_EQ(run.wait(), c.status) << c.name;
        EXPECT_TRUE(sameTermios(run.before(), run.now())) << c.name;
    }
}

TEST(Start, UnknownOptionsAreReportedAndStartUpGoesOn) {
    VornRun run({"-y", "-z", "-l"});
    ASSERT_TRUE(run.waitFor("Connected to NUL Driver"));
    EXPECT_NE(at(run, "Unknown option ignored: ?\r\nUnknown option ignored: ?\r\n"),
              std::string::npos);
    quit(run);
}

TEST(Start, MflagIsAnnounced) {
    VornRun run({"-m", "-z"});
    // Printed before the screen exists; the lines after it scroll it off the top.
    ASSERT_TRUE(run.waitForOutput("Setting mflag to 1"));
    quit(run);
}

TEST(Start, CommandMenuOpensOnlyWhenModeOptionsAndTheNameAgree) {
    struct Case {
        std::vector<std::string> args;
        std::string argv0;
        bool menu;
    };
    const Case cases[] = {
        {{}, "", true},            // no options, no files: fflag = mflag = 0
        {{"-z"}, "", true},        // -z is not a mode option
        {{"-v", "-z"}, "", false}, // a mode option
        {{}, "vt", false},         // "vt" alone: mflag = 1, fflag = 0
        {{"-m", "-u", "-z"}, "", true},
    };
    for (const Case& c : cases) {
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

TEST(Start, APortThatCannotBeOpenedEndsTheProgram) {
    VornRun run({"-l", "x"});                               // "-l x" is not mistaken for -x
    EXPECT_TRUE(run.waitForOutput("Unknown transport: x")); // then the program ends
    EXPECT_EQ(run.wait(), 0);
    EXPECT_TRUE(sameTermios(run.before(), run.now()));
}

TEST(Start, VornflagsApplyOnlyWithoutCommandLineOptions) {
    {
        RunOptions opt;
        opt.env["VORNFLAGS"] = "-u";
        VornRun run({}, opt);
        quit(run);
        EXPECT_EQ(at(run, banner), std::string::npos);
        EXPECT_EQ(at(run, "for Command Menu"), std::string::npos);
    }
    {
        RunOptions opt;
        opt.env["VORNFLAGS"] = "-u";
        VornRun run({"-z"}, opt);
        EXPECT_TRUE(run.waitFor(banner));
        quit(run);
    }
}

TEST(Start, StartUpScriptsRunInTheirPlaces) {
    // The system script before the banner, the user script between the banner and the hint
    // line, the exit script once at the end.
    TempDir cwd; // the scripts are in place before the program starts
    cwd.write(".vornsys", "display 'script:sys'\n");
    cwd.write(".vornrc", "display 'script:rc'\n");
    cwd.write(".vornex", "display 'script:ex'\n");
    RunOptions opt;
    opt.cwd = cwd.path();
    VornRun run({"-z"}, opt);
    ASSERT_TRUE(run.waitFor("Connected to NUL Driver"));
    size_t sys = at(run, "script:sys");
    size_t ban = at(run, banner);
    size_t user = at(run, "script:rc");
    size_t hint = at(run, "for Command Menu");
    ASSERT_NE(sys, std::string::npos);
    EXPECT_LT(sys, ban);
    EXPECT_LT(ban, user);
    EXPECT_LT(user, hint);
    size_t before = run.output().size();
    quit(run);
    size_t ex = at(run, "script:ex", before);
    EXPECT_NE(ex, std::string::npos);
    EXPECT_EQ(at(run, "script:ex", ex + 1), std::string::npos);
}

TEST(Start, EnvironmentNamesTheScriptsAndMissingOnesAreSkipped) {
    TempDir elsewhere;
    elsewhere.write("sys.cmd", "display 'script:sys'\n");
    TempDir cwd;
    cwd.write(".vornrc", "display 'script:rc'\n"); // not searched: VORNRC names the script
    RunOptions opt;
    opt.cwd = cwd.path();
    opt.env["VORNSYS"] = elsewhere.file("sys.cmd").string();
    opt.env["VORNRC"] = elsewhere.file("missing.cmd").string();
    VornRun run({"-z"}, opt);
    ASSERT_TRUE(run.waitFor("Connected to NUL Driver"));
    size_t sys = at(run, "script:sys");
    ASSERT_NE(sys, std::string::npos);
    EXPECT_LT(sys, at(run, banner));
    EXPECT_EQ(at(run, "script:rc"), std::string::npos);
    quit(run);
}

TEST(Start, AConsoleThatIsNotATerminalIsRefused) {
    RunOptions opt;
    opt.stdinIsTerminal = false;
    VornRun run({"-z"}, opt);
    EXPECT_EQ(run.wait(), 1);
    EXPECT_TRUE(run.waitFor("the console is not a terminal"));
}

TEST(Start, ConsoleSizeIsRaisedToTwentyFourByEightyOnce) {
    struct Case {
        int rows, cols;
        bool message;
    };
    const Case cases[] = {{20, 132, true}, {24, 60, true}, {70, 80, false}, {24, 80, false}};
    for (const Case& c : cases) {
        RunOptions opt;
        opt.rows = c.rows;
        opt.cols = c.cols;
        VornRun run({"-z"}, opt);
        ASSERT_TRUE(run.waitForOutput("Connected to NUL Driver"));
        const std::string msg = "TERM variable has bad lines or cols entry\r\n";
        size_t first = run.output().find(msg);
        EXPECT_EQ(first != std::string::npos, c.message) << c.rows << "x" << c.cols;
        if (first != std::string::npos) {
            EXPECT_EQ(run.output().find(msg, first + 1), std::string::npos);
        }
        quit(run);
    }
}

TEST(ServerMode, StandardInputIsTheLineAndTalkEchoesWithBitSeven) {
    // -x makes standard input the line in TALK mode; nothing is drawn on a console.
    VornRun run({"-x"});
    ASSERT_TRUE(run.waitForOutput("OK\r\n")); // the server's greeting comes first
    run.type("a");
    ASSERT_TRUE(run.waitForOutput("\xe1"));
    run.type("\xe1"
             "b");
    ASSERT_TRUE(run.waitForOutput("\xe2"));
    EXPECT_EQ(run.output().find('\xe1', run.output().find('\xe1') + 1), std::string::npos);
    EXPECT_EQ(run.output().find("VORN"), std::string::npos);
    run.type("\x03"); // ^C from the line ends terminal mode in server mode
    EXPECT_EQ(run.wait(), 0);
    EXPECT_TRUE(sameTermios(run.before(), run.now()));
}

TEST(ServerMode, GreetsThePeerAndEndsWhenTheReceiveFails) {
    VornRun run({"-x", "-2"});
    EXPECT_TRUE(run.waitForOutput("OK\r\n"));
    EXPECT_EQ(run.wait(), 1);
    EXPECT_TRUE(sameTermios(run.before(), run.now()));
}

TEST(ServerMode, XAmongTheLeadingOptionsSkipsTheSystemScript) {
    struct Case {
        std::vector<std::string> args;
        bool sysscript;
    };
    const Case cases[] = {
        {{"-x", "-2"}, false},
        {{"-ux", "-2"}, false},
        {{"-b", "9", "-X", "-2"}, false}, // letters compared without case
        {{"-l", "x", "-2"}, true},        // the word after l is its argument
    };
    for (const Case& c : cases) {
        TempDir cwd;
        cwd.write(".vornsys", "display 'script:sys'\n");
        RunOptions opt;
        opt.cwd = cwd.path();
        VornRun run(c.args, opt);
        run.wait();
        EXPECT_EQ(run.output().find("script:sys") != std::string::npos, c.sysscript) << c.args[0];
    }
}

TEST(ServerMode, AckFromTheLineRunsAnEscapeCommand) {
    // -x sets remote command mode: ACK "mf" CR switches TALK to FULL as if typed at the
    // console; the carriage return that ended the command is then typed to the line.
    VornRun run({"-x"});
    ASSERT_TRUE(run.waitForOutput("OK\r\n"));
    run.type("a");
    ASSERT_TRUE(run.waitForOutput("\xe1"));
    run.type("\x06mf\r");
    ASSERT_TRUE(run.waitForOutput("\xe1\r"));
    run.type("b");
    run.type("\x03");
    EXPECT_EQ(run.wait(), 0);
    EXPECT_EQ(run.output().find('\xe2'), std::string::npos); // FULL does not echo
}

TEST(QuietMode, DrawsNothingReadsNothingAndStillRestoresTheConsole) {
    VornRun run({"-q", "-z"});
    run.settle(0.5);
    run.type("\x05q"); // not read: the program goes on
    run.settle(0.5);
    EXPECT_TRUE(run.running());
    EXPECT_EQ(run.output().find(banner), std::string::npos);
    run.signal(SIGTERM);
    EXPECT_EQ(run.wait(), SIGTERM);
    EXPECT_TRUE(sameTermios(run.before(), run.now()));
}

TEST(LostLine, WithAPortListTheProgramEnds) {
    VornRun run({"-l", "pty:/bin/cat"});
    ASSERT_TRUE(run.waitFor("Attempting connection to"));
    run.type("hello\r");
    ASSERT_TRUE(catanswered(run, "hello"));
    run.type("\x04"); // cat ends at end of file and the line is lost
    EXPECT_TRUE(run.waitForOutput("[Disconnected]")); // then the program ends
    EXPECT_EQ(run.wait(), 0);
    EXPECT_TRUE(sameTermios(run.before(), run.now()));
}

TEST(LostLine, UnderZTheProgramAsksForAnotherConnection) {
    VornRun run({"-z", "-l", "pty:/bin/cat"});
    ASSERT_TRUE(run.waitFor("Attempting connection to"));
    run.type("ready\r");
    ASSERT_TRUE(catanswered(run, "ready"));
    run.type("\x04");
    EXPECT_TRUE(run.waitFor("[Disconnected]"));
    ASSERT_TRUE(run.waitFor("Connect to:"));
    EXPECT_TRUE(run.running());
    run.type("\r\r\r"); // three empty answers give up
    EXPECT_EQ(run.wait(), 0);
    EXPECT_TRUE(sameTermios(run.before(), run.now()));
}

TEST(ExitScript, RunsOnceEvenWhenItQuitsItself) {
    TempDir cwd;
    cwd.write(".vornex", "display 'ex-ran'\nquit 3\ndisplay 'not-reached'\n");
    RunOptions opt;
    opt.cwd = cwd.path();
    VornRun run({"-z"}, opt);
    ASSERT_TRUE(run.waitFor("Connected to NUL Driver"));
    run.type("\x05");
    ASSERT_TRUE(run.waitFor("c=>"));
    run.type("q");
    EXPECT_EQ(run.wait(), 3);
    size_t ex = at(run, "ex-ran");
    ASSERT_NE(ex, std::string::npos);
    EXPECT_EQ(at(run, "ex-ran", ex + 1), std::string::npos);
    EXPECT_EQ(at(run, "not-reached"), std::string::npos);
    EXPECT_TRUE(sameTermios(run.before(), run.now()));
}

TEST(ExitScript, HangupDuringItEndsWithoutRunningItAgain) {
    TempDir cwd;
    cwd.write(".vornex", "display 'ex-start'\npause 'ex-waiting'\ndisplay 'ex-end'\n");
    RunOptions opt;
    opt.cwd = cwd.path();
    VornRun run({"-z"}, opt);
    ASSERT_TRUE(run.waitFor("Connected to NUL Driver"));
    run.type("\x05");
    ASSERT_TRUE(run.waitFor("c=>"));
    run.type("q");
    ASSERT_TRUE(run.waitForOutput("ex-waiting"));
    run.signal(SIGTERM); // ignored once the program is ending
    run.signal(SIGHUP);
    EXPECT_EQ(run.wait(), SIGHUP);
    size_t ex = at(run, "ex-start");
    ASSERT_NE(ex, std::string::npos);
    EXPECT_EQ(at(run, "ex-start", ex + 1), std::string::npos);
    EXPECT_EQ(at(run, "ex-end"), std::string::npos);
    EXPECT_TRUE(sameTermios(run.before(), run.now()));
}

TEST(ExitScript, TerminateIsIgnoredWhileItRuns) {
    TempDir cwd;
    cwd.write(".vornex", "pause 'ex-waiting'\ndisplay 'ex-end'\n");
    RunOptions opt;
    opt.cwd = cwd.path();
    VornRun run({"-z"}, opt);
    ASSERT_TRUE(run.waitFor("Connected to NUL Driver"));
    run.type("\x05");
    ASSERT_TRUE(run.waitFor("c=>"));
    run.type("q");
    ASSERT_TRUE(run.waitForOutput("ex-waiting"));
    run.signal(SIGTERM);
    run.type("k");
    EXPECT_TRUE(run.waitForOutput("ex-end"));
    EXPECT_EQ(run.wait(), 0);
    EXPECT_TRUE(sameTermios(run.before(), run.now()));
}

TEST(CommandFiles, RunAfterTheHintLineAndBeforeTheLineOpens) {
    TempDir cwd;
    cwd.write("first.cmd", "display 'file-ran'\n");
    RunOptions opt;
    opt.cwd = cwd.path();
    VornRun run({"-z", "first"}, opt);
    ASSERT_TRUE(run.waitFor("Connected to NUL Driver"));
    size_t file = at(run, "file-ran");
    ASSERT_NE(file, std::string::npos);
    EXPECT_LT(at(run, "for Command Menu"), file);
    EXPECT_LT(file, at(run, "Connected to NUL Driver"));
    // A file argument is a mode choice: the command menu does not open.
    quit(run);
    EXPECT_EQ(at(run, "Command menu is not built yet"), std::string::npos);
}

TEST(CommandFiles, AFailingCommandFileEndsWithStatusOne) {
    TempDir cwd;
    RunOptions opt;
    opt.cwd = cwd.path();
    VornRun run({"-z", "nosuchfile"}, opt);
    EXPECT_EQ(run.wait(), 1);
    EXPECT_EQ(at(run, "Connected to NUL Driver"), std::string::npos);
    EXPECT_TRUE(sameTermios(run.before(), run.now()));
}
