// Command files run by the real program (vorn -z -u main.cmd): procedures, parameters, errors
// travelling outward, handlers, control flow, limits and abbreviations. Each script prints
// between the markers [[ and ]] and quits; the test compares what the program printed there.
#include "support/harness.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

struct Files {
    std::map<std::string, std::string> files; // name -> content; main.cmd is run
};

constexpr int kRows = 60, kCols = 80;

// The screen as text: each row without its trailing blanks, rows joined by line feeds.
std::string screentext(const VornRun& run) {
    std::string out;
    for (int r = 0; r < kRows; r++) {
        std::string row = run.row(r);
        row.erase(row.find_last_not_of(' ') + 1);
        out += row + "\n";
    }
    return out;
}

// What a person would see for `text` printed from the first column: "\r\n" ends a row and a
// row longer than the screen continues on the next.
std::string shown(const std::string& text) {
    std::string out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        std::string line = text.substr(start, end == std::string::npos ? end : end - start);
        do {
            std::string chunk = line.substr(0, kCols);
            chunk.erase(chunk.find_last_not_of(' ') + 1);
            out += chunk + "\n";
            line = line.size() > static_cast<size_t>(kCols) ? line.substr(kCols) : "";
        } while (!line.empty());
        if (end == std::string::npos) break;
        start = end + 2;
    }
    return out;
}

// Runs main.cmd and returns the screen rows from the one after the marker [[ up to the marker
// ]], or, for a script that is aborted (status 1), up to "Command file aborted".
std::string runscript(const std::map<std::string, std::string>& files, int status = 0) {
    TempDir cwd;
    for (const auto& [name, text] : files)
        cwd.write(name, text);
    RunOptions opt;
    opt.cwd = cwd.path();
    opt.term = "vt100";
    opt.rows = kRows;
    opt.cols = kCols;
    VornRun run({"-z", "-u", "main.cmd"}, opt);
    const std::string end = status ? "Command file aborted\n" : "]]\n";
    run.waitUntil([&] { return screentext(run).find(end) != std::string::npos; }, 20);
    std::string screen = screentext(run);
    EXPECT_EQ(run.wait(20), status);
    size_t a = screen.find("[[\n");
    if (a == std::string::npos) return "no marker in: " + screen;
    size_t b = screen.find(end, a);
    if (b == std::string::npos) return "no end in: " + screen;
    if (status) b += end.size();
    return screen.substr(a + 3, b - a - 3);
}

std::string wrap(const std::string& body) {
    return "display '[['\n" + body + "display ']]'\nquit\n";
}

struct Case {
    const char* name;
    std::map<std::string, std::string> files; // main.cmd gets the markers around it
    std::string want;
    int status = 0; // 1 when the script is aborted
};

void check(const Case& c) {
    std::map<std::string, std::string> files = c.files;
    files["main.cmd"] = wrap(files["main.cmd"]);
    EXPECT_EQ(runscript(files, c.status), shown(c.want)) << c.name;
}

TEST(Script, ProceduresParametersAndSubstitution) {
    const Case cases[] = {
        {"nested procedures and parameters",
         {{"main.cmd", "do @outer 'a b' c\n"
                       "display 'back _errno=', _errno\n"
                       "do lib@twice x\n"
                       "display 'lib: ', _errno\n"
                       "proc outer\n"
                       "display 'outer $1|$2|$0|$3.'\n"
                       "do @inner $2\n"
                       "return 5\n"
                       "endproc\n"
                       "proc inner\n"
                       "display 'inner $1 ', _1\n"
                       "endp\n"},
          {"lib.cmd", "display 'not run'\nproc twice\ndisplay '$1$1'\nreturn 9\nendproc\n"}},
         "outer a b|c|@outer|.\r\ninner c c\r\nback _errno=5\r\nxx\r\nlib: 9\r\n"},
        {"every substitution form",
         {{"main.cmd", "setvar n 6\nsetvar s 'str'\nsetvar b t\ndimint a 2\n"
                       "display '$n $s $b $(n * 7) $(left(s, 2)) \\$n $_cursess'\n"
                       "display '$(a[1])'\n"
                       "noerror display '$a'\n"
                       "noerror display '$ x'\n"
                       "noerror display '$nosuch'\n"
                       "noerror display '$(1 + )'\n"
                       "noerror display '$(1 2'\n"}},
         "6 str true 42 st $n 1\r\n0\r\n"
         "$(<variable>) format must be used for indexed variables\r\n"
         "Unknown variable in substitution: \r\n"
         "Unknown variable in substitution: nosuch\r\n"
         "display '$(1 + )'\r\n                ^\r\nMissing expression inside parens\r\n"
         "Right paren expected\r\n"},
        {"do words with quotes and a comment",
         {{"main.cmd", "do args \"one two\" 'three' four ! five\n"},
          {"args.cmd", "display '[$1][$2][$3][$4]'\n"}},
         "[one two][three][four][]\r\n"},
    };
    for (const Case& c : cases)
        check(c);
}

TEST(Script, ErrorsTravelOutwardUntilHandled) {
    const Case cases[] = {
        {"on error in the top file catches a nested error",
         {{"main.cmd", "on error\ndisplay 'caught ', _errno\nendon\n"
                       "do a\ndisplay 'after'\n"},
          {"a.cmd", "do b\ndisplay 'not in a'\n"},
          {"b.cmd", "display 'in b'\nbogus\ndisplay 'not in b'\n"}},
         "in b\r\nUnknown command: 'bogus'\r\ncaught 1\r\nafter\r\n"},
        {"iferror and noerror stop the error",
         {{"main.cmd", "iferror do nosuchfile\ndisplay 'missing'\nelse\ndisplay 'found'\nendif\n"
                       "noerror do b\ndisplay 'errno ', _errno\n"
                       "iferror display 'ok'\ndisplay 'no'\nendif\n"},
          {"b.cmd", "bogus\n"}},
         "missing\r\nUnknown command: 'bogus'\r\nerrno 1\r\nok\r\n"},
        {"an unhandled error aborts every file once",
         {{"main.cmd", "do a\ndisplay 'never'\n"},
          {"a.cmd", "do b\n"},
          {"b.cmd", "setvar x 1 +\n"}},
         "setvar x 1 +\r\n            ^\r\nMore input expected\r\nCommand file aborted\r\n",
         1},
        {"set error off skips failures",
         {{"main.cmd", "set error off\nbogus\ndisplay 'went on'\nset error on\n"}},
         "Unknown command: 'bogus'\r\nwent on\r\n"},
        {"abort and abort n",
         {{"main.cmd", "on abort\ndisplay 'abort handler ', _errno\nendon\n"
                       "abort\ndisplay 'next'\nabort 0\ndisplay 'zero is success'\n"}},
         "abort handler 2\r\nnext\r\nzero is success\r\n"},
    };
    for (const Case& c : cases)
        check(c);
}

TEST(Script, ControlFlow) {
    const Case cases[] = {
        {"if chains",
         {{"main.cmd", "if f\ndisplay 1\nelseif t\ndisplay 2\nelseif t\ndisplay 3\nelse\n"
                       "display 4\nendif\n"
                       "if f\nif nosuch\ndisplay 'x'\nendif\nelse\ndisplay 'else'\nendif\n"
                       "if t\nif f\ndisplay 'a'\nelse\ndisplay 'b'\nendif\nendif\n"
                       "noerror if 1\nnoerror endif\n"}},
         "2\r\nelse\r\nb\r\nIF/ELSEIF/CASE expression requires logical value\r\n"
         "Unmatched ENDIF\r\n"},
        {"switch",
         {{"main.cmd", "for x in (1 2 9)\nswitch\ncase x = '1'\ndisplay 'one'\n"
                       "case x = '2'\ndisplay 'two'\ndefault\ndisplay 'other'\nendswitch\n"
                       "endfor\n"}},
         "one\r\ntwo\r\nother\r\n"},
        {"repeat and for",
         {{"main.cmd", "setvar n 0\nrepeat\nsetvar n n + 1\nsetvar m 0\nrepeat\n"
                       "setvar m m + 1\nuntil m = 2\ndisplay n, m;\nuntil n > 2\ndisplay\n"
                       "for v in (a b c) do display v;\ndisplay\n"
                       "for v in ()\ndisplay 'never'\nendfor\n"
                       "for g in (*.txt) do display g\n"
                       "if f\nfor v in (q)\ndisplay 'skipped'\nendfor\nendif\n"},
          {"b.txt", ""},
          {"a.txt", ""}},
         "122232\r\nabc\r\na.txt\r\nb.txt\r\n"},
        {"rewind",
         {{"main.cmd", "if exists('done')\ndisplay 'second pass'\nelse\n"
                       "display 'first pass'\nsetvar x uniq('done')\nrewind\nendif\n"}},
         "first pass\r\nsecond pass\r\n"},
    };
    for (const Case& c : cases) {
        std::map<std::string, std::string> files = c.files;
        // rewind runs the whole file again: the markers cannot be printed by it.
        if (std::string(c.name) == "rewind") {
            files["main.cmd"] = "if exists('done')\nelse\ndisplay '[['\nendif\n" +
                                files["main.cmd"] + "display ']]'\nquit\n";
            EXPECT_EQ(runscript(files), shown(c.want)) << c.name;
        } else {
            check(Case{c.name, files, c.want});
        }
    }
}

TEST(Script, LimitsAndAbbreviations) {
    std::string ifs, endifs;
    for (int i = 0; i < 21; i++) {
        ifs += "if t\n";
        endifs += "endif\n";
    }
    std::string repeats;
    for (int i = 0; i < 21; i++)
        repeats += "repeat\n";
    const Case cases[] = {
        {"twenty nested files",
         {{"main.cmd", "setvar depth 0\nnoerror do deep\ndisplay 'depth ', depth\n"},
          {"deep.cmd", "setvar depth depth + 1\ndo deep\n"}},
         "Maximum DO nesting level exceeded\r\ndepth 19\r\n"},
        {"twenty-one ifs",
         {{"main.cmd", "noerror do i\n"}, {"i.cmd", ifs + endifs}},
         "Too many nested IF/SWITCH statements\r\n"},
        {"twenty-one repeats",
         {{"main.cmd", "noerror do r\n"}, {"r.cmd", repeats}},
         "Too many REPEAT statements\r\n"},
        {"abbreviations follow the table order",
         {{"main.cmd", "SETV x 1\nDISP x\nnoerror dans\nnoerror dis x\ndo @p\n"
                       "proc p\ndisplay 'in p'\nendp\n"}},
         "1\r\nThe DANSOFF command is not built yet\r\nUnknown command: 'dis'\r\nin p\r\n"},
    };
    for (const Case& c : cases)
        check(c);
}

TEST(Script, BadInput) {
    std::string longline = "display '" + std::string(300, 'x') + "'\n";
    const Case cases[] = {
        {"unterminated on block",
         {{"main.cmd", "noerror do a\n"}, {"a.cmd", "on error\n"}},
         "Missing ENDON\r\n"},
        {"proc inside a proc",
         {{"main.cmd", "noerror do a\ndisplay 'ok'\n"}, {"a.cmd", "proc p\nproc q\nendproc\n"}},
         "Nested PROC statements not allowed\r\nok\r\n"},
        {"a line over 255 characters is read as two",
         {{"main.cmd", "noerror do a\n"}, {"a.cmd", longline}},
         "display '" + std::string(246, 'x') + "\r\n" + std::string(255, ' ') +
             "^\r\nBadly formed string\r\n"},
        {"on statements",
         {{"main.cmd", "noerror do a\nnoerror do b\nnoerror do c\non bogus\non delay x\n"
                       "on delay 0\nendon\ndisplay 'end'\n"},
          {"a.cmd", "on error\non abort\nendon\n"},
          {"b.cmd", "on carrier\ndisplay 'skipped'\nendon\n"},
          {"c.cmd", "on key 'z'\ndisplay 'skipped'\nendon\n"}},
         "Nested ON statements not allowed\r\n"
         "ON CARRIER/NOCARRIER statement ignored under UNIX\r\n"
         "ON KEY statements ignored in nested DO file\r\n"
         "CARRIER, NOCARRIER, ABORT, ERROR, DELAY or KEY expected\r\n"
         "Delay count expected\r\nend\r\n"},
        {"unknown procedure and missing file",
         {{"main.cmd", "noerror do @nope\nnoerror do nofile\ndisplay _errno\n"}},
         "Can't find proc nope\r\n1\r\n"},
        {"unmatched closers",
         {{"main.cmd", "noerror endon\nnoerror endproc\nnoerror until t\nnoerror endfor\n"
                       "noerror else\nnoerror case t\nnoerror endswitch\n"}},
         "Unmatched ENDON\r\nUnmatched ENDPROC\r\nUnmatched UNTIL\r\nUnmatched ENDFOR\r\n"
         "Unmatched ELSE\r\nUnmatched CASE\r\nUnmatched ENDSWITCH\r\n"},
    };
    for (const Case& c : cases)
        check(c);
}

TEST(Script, DelayHandlerFires) {
    std::map<std::string, std::string> files = {
        {"main.cmd", wrap("setvar fired f\non delay 1\nsetvar fired t\ndisplay 'tick'\nendon\n"
                          "repeat\nuntil fired\ndisplay 'done'\n")}};
    EXPECT_EQ(runscript(files), shown("tick\r\ndone\r\n"));
}

TEST(Script, AnAbortInANestedFileIsNotCaughtByTheCallersHandler) {
    TempDir cwd;
    cwd.write("main.cmd", "on abort\ndisplay 'handler'\nendon\ndo a\ndisplay 'never'\n");
    cwd.write("a.cmd", "abort\n");
    RunOptions opt;
    opt.cwd = cwd.path();
    VornRun run({"-z", "-u", "main.cmd"}, opt);
    ASSERT_TRUE(run.waitFor("Connected to NUL Driver"));
    EXPECT_NE(run.screen().find("Command file aborted"), std::string::npos);
    EXPECT_EQ(run.screen().find("handler"), std::string::npos);
    EXPECT_EQ(run.screen().find("never"), std::string::npos);
    run.type("\x05q");
    EXPECT_EQ(run.wait(), 0);
}

TEST(Script, ControlCAbortsARunningFile) {
    TempDir cwd;
    cwd.write("main.cmd", "set abort on\ndisplay 'looping'\nrepeat\nuntil f\n");
    RunOptions opt;
    opt.cwd = cwd.path();
    VornRun run({"-z", "-u", "main.cmd"}, opt);
    ASSERT_TRUE(run.waitFor("looping"));
    run.type("\x03");
    EXPECT_TRUE(run.waitFor("Command file aborted"));
    // The program goes on to terminal mode and is still usable.
    EXPECT_TRUE(run.waitFor("Connected to NUL Driver"));
    run.type("\x05");
    ASSERT_TRUE(run.waitFor("c=>"));
    run.type("q");
    EXPECT_EQ(run.wait(), 0);
}

TEST(Script, KeyHandlerFiresForItsKey) {
    TempDir cwd;
    cwd.write("main.cmd", "setvar hit f\non key 'k'\ndisplay 'key handler'\nsetvar hit t\n"
                          "endon\ndisplay 'waiting'\nrepeat\nuntil hit\ndisplay 'done'\nquit\n");
    RunOptions opt;
    opt.cwd = cwd.path();
    VornRun run({"-z", "-u", "main.cmd"}, opt);
    ASSERT_TRUE(run.waitFor("waiting"));
    run.type("k");
    EXPECT_TRUE(run.waitForOutput("done")); // then it quits, leaving full-screen mode
    EXPECT_NE(run.output().find("key handler"), std::string::npos);
    EXPECT_EQ(run.wait(), 0);
}

TEST(Script, QuitEndsWithItsCodeAndPauseWaitsForAKey) {
    struct Case {
        const char* script;
        int status;
    };
    const Case cases[] = {{"quit 3\n", 3}, {"quit -5\n", 0}, {"quit\n", 0}};
    for (const Case& c : cases) {
        TempDir cwd;
        cwd.write("main.cmd", c.script);
        RunOptions opt;
        opt.cwd = cwd.path();
        VornRun run({"-z", "-u", "main.cmd"}, opt);
        EXPECT_EQ(run.wait(), c.status) << c.script;
        EXPECT_TRUE(sameTermios(run.before(), run.now()));
    }
    TempDir cwd;
    cwd.write("main.cmd", "pause\npause 'Any key: '\ndisplay 'went on'\nquit 4\n");
    RunOptions opt;
    opt.cwd = cwd.path();
    VornRun run({"-z", "-u", "main.cmd"}, opt);
    ASSERT_TRUE(run.waitFor("Strike a key when ready..."));
    run.type("x");
    ASSERT_TRUE(run.waitFor("Any key:"));
    EXPECT_EQ(run.screen().find("went on"), std::string::npos);
    run.type(" ");
    EXPECT_TRUE(run.waitForOutput("went on")); // then it quits, leaving full-screen mode
    EXPECT_EQ(run.wait(), 4);
}

TEST(Script, CommandModeRunsALine) {
    VornRun run({"-z", "-u"});
    ASSERT_TRUE(run.waitFor("Connected to NUL Driver"));
    run.type("\x05:");
    run.type("display 6 * 7\r");
    EXPECT_TRUE(run.waitFor("42"));
    run.type("\x05:");
    run.type("return\r");
    EXPECT_TRUE(run.waitFor("Must be used in script file..."));
    run.type("\x05q");
    EXPECT_EQ(run.wait(), 0);
}

} // namespace
