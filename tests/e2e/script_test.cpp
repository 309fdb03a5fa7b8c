// Command files run by the real program (vorn -z -u main.cmd): procedures, parameters, errors
// travelling outward, handlers, control flow and limits. Each script prints between the
// markers [[ and ]] and quits; the test compares what the program printed there.
#include "support/harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>

namespace {

using Files = std::map<std::string, std::string>; // name -> content; main.cmd is run

constexpr int kRows = 60, kCols = 80;
constexpr const char* kMissing =
    "Can't find command file nosuchfile.cmd (looked in the current directory, "
    "/nonexistent/home, /nonexistent/vorn)\r\n";
constexpr const char* kMissingNofile =
    "Can't find command file nofile.cmd (looked in the current directory, "
    "/nonexistent/home, /nonexistent/vorn)\r\n";

// What a person would see for `text` printed from the first column: "\r\n" ends a row and a
// row longer than the screen continues on the next.
std::string shown(const std::string& text) {
    std::string out;
    for (size_t start = 0, end; start < text.size(); start = end + 2) {
        end = std::min(text.find("\r\n", start), text.size());
        std::string line = text.substr(start, end - start);
        do {
            std::string chunk = line.substr(0, kCols);
            chunk.erase(chunk.find_last_not_of(' ') + 1);
            out += chunk + "\n";
            line.erase(0, std::min(line.size(), static_cast<size_t>(kCols)));
        } while (!line.empty());
    }
    return out;
}

// Runs main.cmd and returns the screen rows from the one after the marker [[ up to the marker
// ]], or, for a script that is aborted (status 1), up to "Command file aborted".
std::string runscript(const Files& files, int status = 0) {
    // HOME and VORNDIR are fixed names, so that a message saying where a file was looked for is
    // the same on every run.
    VornRun run({"-z", "-u", "main.cmd"},
                {.term = "vt100",
                 .rows = kRows,
                 .cols = kCols,
                 .env = {{"HOME", "/nonexistent/home"}, {"VORNDIR", "/nonexistent/vorn"}},
                 .files = files});
    const std::string end = status ? "Command file aborted\n" : "]]\n";
    run.waitUntil([&] { return (run.screen() + "\n").find(end) != std::string::npos; }, 20);
    std::string screen = run.screen() + "\n";
    EXPECT_EQ(run.wait(20), status);
    size_t a = screen.find("[[\n");
    if (a == std::string::npos) return "no marker in: " + screen;
    size_t b = screen.find(end, a);
    if (b == std::string::npos) return "no end in: " + screen;
    if (status) b += end.size();
    return screen.substr(a + 3, b - a - 3);
}

// Runs main.cmd with the markers put around it.
void check(Files files, const std::string& want, int status = 0) {
    files["main.cmd"] = "display '[['\n" + files["main.cmd"] + "display ']]'\nquit\n";
    EXPECT_EQ(runscript(files, status), shown(want)) << files["main.cmd"];
}

TEST(Script, ProceduresParametersAndSubstitution) {
    check({{"main.cmd", "do @outer 'a b' c\n"
                        "display 'back _errno=', _errno\n"
                        "do lib@twice x\n"
                        "display 'lib: ', _errno\n"
                        "do args \"one two\" 'three' four ! five\n"
                        "setvar n 6\nsetvar s 'str'\nsetvar b t\n"
                        "display '$n $s $b $(n * 7) $(left(s, 2)) \\$n $_cursess'\n"
                        "proc outer\n"
                        "display 'outer $1|$2|$0|$3.'\n"
                        "do @inner $2\n"
                        "return 5\n"
                        "endproc\n"
                        "proc inner\n"
                        "display 'inner $1 ', _1\n"
                        "endp\n"},
           {"lib.cmd", "display 'not run'\nproc twice\ndisplay '$1$1'\nreturn 9\nendproc\n"},
           {"args.cmd", "display '[$1][$2][$3][$4]'\n"}},
          "outer a b|c|@outer|.\r\ninner c c\r\nback _errno=5\r\nxx\r\nlib: 9\r\n"
          "[one two][three][four][]\r\n6 str true 42 st $n 1\r\n");
}

TEST(Script, ErrorsTravelOutwardUntilHandled) {
    check({{"main.cmd", "set error off\nbogus\ndisplay 'went on'\nset error on\n"
                        "iferror do nosuchfile\ndisplay 'missing'\nelse\ndisplay 'found'\nendif\n"
                        "noerror do b\ndisplay 'errno ', _errno\n"
                        "iferror display 'ok'\ndisplay 'no'\nendif\n"
                        "on abort\ndisplay 'abort handler ', _errno\nendon\n"
                        "abort\ndisplay 'next'\nabort 0\ndisplay 'zero is success'\n"
                        "on error\ndisplay 'caught ', _errno\nendon\n"
                        "do a\ndisplay 'after'\n"},
           {"a.cmd", "do b\ndisplay 'not in a'\n"},
           {"b.cmd", "display 'in b'\nbogus\ndisplay 'not in b'\n"}},
          "Unknown command: 'bogus'\r\nin main.cmd line 3\r\nwent on\r\n" + std::string(kMissing) +
              "in main.cmd line 6\r\nmissing\r\n"
              "in b\r\nUnknown command: 'bogus'\r\nin b.cmd line 2\r\nerrno 1\r\nok\r\n"
              "abort handler 2\r\nnext\r\nzero is success\r\n"
              "in b\r\nUnknown command: 'bogus'\r\nin b.cmd line 2\r\ncaught 1\r\nafter\r\n");
    // Unhandled, the error aborts every file once.
    check(
        {{"main.cmd", "do a\ndisplay 'never'\n"}, {"a.cmd", "do b\n"}, {"b.cmd", "setvar x 1 +\n"}},
        "setvar x 1 +\r\n            ^\r\nMore input expected\r\nin b.cmd line 1\r\n"
        "Command file aborted\r\n",
        1);
}

TEST(Script, ControlFlow) {
    check({{"main.cmd", "if f\ndisplay 1\nelseif t\ndisplay 2\nelseif t\ndisplay 3\nelse\n"
                        "display 4\nendif\n"
                        "if f\nif nosuch\ndisplay 'x'\nendif\nelse\ndisplay 'else'\nendif\n"
                        "if t\nif f\ndisplay 'a'\nelse\ndisplay 'b'\nendif\nendif\n"
                        "noerror if 1\nnoerror endif\n"
                        "for x in (1 2 9) do\nswitch\ncase x = '1'\ndisplay 'one'\n"
                        "case x = '2'\ndisplay 'two'\ndefault\ndisplay 'other'\nendswitch\n"
                        "endfor\n"
                        "setvar n 0\nrepeat\nsetvar n n + 1\nsetvar m 0\nrepeat\n"
                        "setvar m m + 1\nuntil m = 2\ndisplay n, m;\nuntil n > 2\ndisplay\n"
                        "for v in (a b c) do display v;\ndisplay\n"
                        "for v in () do\ndisplay 'never'\nendfor\n"
                        "for g in (*.txt) do display g\n"
                        "if f\nfor v in (q) do\ndisplay 'skipped'\nendfor\nendif\n"
                        "setvar fired f\non delay 1\nsetvar fired t\ndisplay 'tick'\nendon\n"
                        "repeat\nuntil fired\ndisplay 'done'\n"},
           {"b.txt", ""},
           {"a.txt", ""}},
          "2\r\nelse\r\nb\r\nIF/ELSEIF/CASE expression requires logical value\r\n"
          "in main.cmd line 25\r\nUnmatched ENDIF\r\nin main.cmd line "
          "26\r\none\r\ntwo\r\nother\r\n122232\r\nabc\r\na.txt\r\nb.txt\r\n"
          "tick\r\ndone\r\n");
    // rewind runs the whole file again: the markers are printed on the first pass only.
    Files rewind = {{"main.cmd", "if exists('done')\ndisplay 'second pass'\ndisplay ']]'\nquit\n"
                                 "endif\ndisplay '[['\ndisplay 'first pass'\n"
                                 "setvar x uniq('done')\nrewind\n"}};
    EXPECT_EQ(runscript(rewind), shown("first pass\r\nsecond pass\r\n"));
}

TEST(Script, LimitsAndBadInput) {
    std::string ifs, endifs, repeats;
    for (int i = 0; i < 21; i++) {
        ifs += "if t\n";
        endifs += "endif\n";
        repeats += "repeat\n";
    }
    check({{"main.cmd", "setvar depth 0\nnoerror do deep\ndisplay 'depth ', depth\n"
                        "noerror do i\nnoerror do r\n"
                        "do @p\n"
                        "proc p\ndisplay 'in p'\nendp\n"},
           {"deep.cmd", "setvar depth depth + 1\ndo deep\n"},
           {"i.cmd", ifs + endifs},
           {"r.cmd", repeats}},
          "Maximum DO nesting level exceeded\r\nin deep.cmd line 2\r\ndepth 19\r\n"
          "Too many nested IF/SWITCH statements\r\nin i.cmd line 21\r\n"
          "Too many REPEAT statements\r\nin r.cmd line 21\r\nin p\r\n");
    check({{"main.cmd", "noerror do unend\nnoerror do pp\nnoerror do long\n"
                        "noerror do oa\nnoerror do ob\nnoerror do oc\n"},
           {"unend.cmd", "on error\n"},
           {"pp.cmd", "proc p\nproc q\nendproc\n"},
           {"long.cmd", "display '" + std::string(300, 'x') + "'\n"},
           {"oa.cmd", "on error\non abort\nendon\n"},
           {"ob.cmd", "on carrier\ndisplay 'skipped'\nendon\n"},
           {"oc.cmd", "on key 'z'\ndisplay 'skipped'\nendon\n"}},
          "Missing ENDON\r\nin unend.cmd line 1\r\nNested PROC statements not allowed\r\n"
          "in pp.cmd line 2\r\ndisplay '" +
              std::string(246, 'x') + "\r\n" + std::string(255, ' ') +
              "^\r\nBadly formed string\r\nin long.cmd line 1\r\n"
              "Nested ON statements not allowed\r\nin oa.cmd line 2\r\n"
              "ON CARRIER/NOCARRIER statement ignored under UNIX\r\nin ob.cmd line 3\r\n"
              "ON KEY statements ignored in nested DO file\r\nin oc.cmd line 3\r\n");
    // What one run prints must fit on a 24-row screen, so the rest runs on its own.
    check({{"main.cmd", "noerror do @nope\nnoerror do nofile\ndisplay _errno\n"
                        "on bogus\non delay x\non delay 0\nendon\n"}},
          "Can't find proc nope\r\nin main.cmd line 2\r\n" + std::string(kMissingNofile) +
              "in main.cmd line 3\r\n1\r\n"
              "CARRIER, NOCARRIER, ABORT, ERROR, DELAY or KEY expected\r\nin main.cmd line 5\r\n"
              "Delay count expected\r\nin main.cmd line 6\r\n");
    std::string unmatched, want;
    int n = 2;
    for (const char* w : {"endon", "endproc", "until t", "endfor", "else", "case t", "endswitch"}) {
        unmatched += std::string("noerror ") + w + "\n";
        std::string upper = w;
        upper = upper.substr(0, upper.find(' '));
        for (char& c : upper)
            c = static_cast<char>(toupper(c));
        want += "Unmatched " + upper + "\r\nin main.cmd line " + std::to_string(n++) + "\r\n";
    }
    check({{"main.cmd", unmatched}}, want);
}

TEST(Script, AbortsEndTheFilesAndTheProgramGoesOn) {
    // An abort in a nested file is not caught by the caller's handler; ^C aborts a loop.
    VornRun run({"-z", "-u", "main.cmd"},
                {.files = {{"main.cmd", "on abort\ndisplay 'handler'\nendon\ndo a\n"
                                        "display 'never'\n"},
                           {"a.cmd", "abort\n"},
                           {"loop.cmd", "display 'looping'\nrepeat\nuntil f\n"}}});
    ASSERT_TRUE(run.waitFor("Connected to NUL Driver"));
    EXPECT_NE(run.screen().find("Command file aborted"), std::string::npos);
    EXPECT_EQ(run.screen().find("handler"), std::string::npos);
    EXPECT_EQ(run.screen().find("never"), std::string::npos);
    // The program is still usable from command mode, which also runs a single line.
    run.type("\x05:display 6 * 7\r");
    EXPECT_TRUE(run.waitFor("42"));
    run.type("\x05:do loop\r");
    ASSERT_TRUE(run.waitFor("looping"));
    const size_t before = run.output().size();
    run.type("\x03");
    EXPECT_TRUE(run.waitUntil(
        [&] { return run.output().find("Command file aborted", before) != std::string::npos; }));
    run.type("\x05q");
    EXPECT_EQ(run.wait(), 0);
}

TEST(Script, KeyHandlerPauseAndQuitCodes) {
    {
        VornRun run({"-z", "-u", "main.cmd"}, {.files = {{"main.cmd", "quit -5\n"}}});
        EXPECT_EQ(run.wait(), 0);
        EXPECT_TRUE(sameTermios(run.before(), run.now()));
    }
    VornRun run({"-z", "-u", "main.cmd"},
                {.files = {{"main.cmd", "setvar hit f\non key 'k'\ndisplay 'key handler'\n"
                                        "setvar hit t\nendon\ndisplay 'waiting'\nrepeat\n"
                                        "until hit\npause\npause 'Any key: '\n"
                                        "display 'went on'\nquit 4\n"}}});
    ASSERT_TRUE(run.waitFor("waiting"));
    run.type("k");
    EXPECT_TRUE(run.waitFor("key handler"));
    ASSERT_TRUE(run.waitFor("Strike a key when ready..."));
    run.type("x");
    ASSERT_TRUE(run.waitFor("Any key:"));
    EXPECT_EQ(run.screen().find("went on"), std::string::npos);
    run.type(" ");
    EXPECT_TRUE(run.waitForOutput("went on")); // then it quits, leaving full-screen mode
    EXPECT_EQ(run.wait(), 4);
    EXPECT_TRUE(sameTermios(run.before(), run.now()));
}

TEST(Script, KeysTypedWhileAScriptRunsWaitForIt) {
    // Keys typed while lines run stay for chrdy(); the file `go` says they were typed.
    VornRun run(
        {"-z", "-u", "main.cmd"},
        {.files = {{"main.cmd", "display 'ready'\nrepeat\nuntil exists('go')\n"
                                "setvar k ''\nrepeat\nsetvar k k + chrdy()\n"
                                "until len(k) >= 2\ndisplay 'keys [', k, ']'\npause\nquit\n"}}});
    ASSERT_TRUE(run.waitFor("ready"));
    run.type("xy");
    run.settle(0.3, 2); // the script's own lines run while the keys wait
    run.dir().write("go", "");
    EXPECT_TRUE(run.waitFor("keys [xy]"));
    run.type(" ");
    EXPECT_EQ(run.wait(), 0);
}

TEST(Script, AMissingCommandFileOnTheCommandLineSaysWhere) {
    VornRun run({"-z", "-u", "nosuch"},
                {.env = {{"HOME", "/nonexistent/home"}, {"VORNDIR", "/nonexistent/vorn"}}});
    EXPECT_EQ(run.wait(), 1);
    // The program has left full-screen mode when it ends, so the message is read from what it
    // wrote (the row is full at "director").
    for (const char* part : {"Can't find command file nosuch.con or nosuch.cmd (looked in the "
                             "current director",
                             "y, /nonexistent/home, /nonexistent/vorn)"})
        EXPECT_NE(run.output().find(part), std::string::npos) << run.output();
}

} // namespace

TEST(Script, SettingsShowOnTheStatusPage) {
    // Selecting an emulation ends with a line break; the page follows.
    check({{"main.cmd", "remark Head office\nset control on\nset maskpar off\nset tabex on\n"
                        "baud 2400,e,7,2\ndinit 'ATZ^M'\nwru 'ID^M'\nlogin 'x'\n"
                        "modem hayes\nemulate vt52\nxprot zmodem\nstatus\n"}},
          "\r\n"
          "Set Options     Current Configuration                         Keys\r\n"
          "-------------   ------------------------------------------    -------------\r\n"
          "Control   ON    Remark         Head office                    MENU     F1\r\n"
          "Echo      OFF   Node/Number                                   HELP     F2\r\n"
          "Tabex     ON    Baud rate      2400                           GOLD     F3\r\n"
          "View      OFF   Parity         EVEN                           SHELL    F4\r\n"
          "Addeof    ON    Wordlength     7                              CAPTURE  F5\r\n"
          "Toupper   OFF   Stopbits       2                              PRINT    F6\r\n"
          "Dtr       ON    Terminal Mode  FULL                           CMD      ^E\r\n"
          "Rts       ON    Emulation      VT52                           BREAK    ^B\r\n"
          "Ddtr      ON    Xfer Protocol  ZMODEM                         ABORT    ^C\r\n"
          "Abort     ON    Capture Mode   CLOSED                         COMPOSE  F9\r\n"
          "Error     ON    Capture File   capt#.fil\r\n"
          "Log       OFF   Auto Login     ON\r\n"
          "Maskpar   OFF   Auto Logout    OFF\r\n"
          "Compress  ON    WRU Answerback ID^M\r\n"
          "Esc8bit   OFF   Port\r\n"
          "Destbs    OFF   Modem          HAYES\r\n"
          "Blockmode OFF   Printer File   pr#.fil\r\n");
}
