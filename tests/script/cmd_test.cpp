// The dispatcher in the process: command words and abbreviations, branches, eval(), parameter
// substitution, keyword routines, file names and the state left after errors.
#include "capture.h"

#include "core/os.h"
#include "core/start.h"
#include "emulators/emulate.h"
#include "ports/settings.h"
#include "script/expr.h"
#include "support/harness.h"
#include "support/portsupport.h"

#include <cstring>
#include <filesystem>

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

class Cmd : public ScriptTest {};

// Nothing left open: no file, block, handler, evaluation or pooled string.
void idle() {
    EXPECT_EQ(flevel + iflevel + exlevel + inprcmd + inoncmd + evaldepth + inexpr, 0);
    EXPECT_EQ(rsp, -1);
    EXPECT_EQ(swsp, -1);
    EXPECT_EQ(gfp, nullptr);
    EXPECT_EQ(poolused(), 0);
}

TEST_F(Cmd, LinesAtCommandLevel) {
    // clang-format off
    play({
        {"  ! note", 0, ""}, {"* also a comment", 0, ""}, {"comment this too", 0, ""},
        {"DISP 'a'", 0, "a\r\n"}, {"? 'd'", 0, "d\r\n"},
        {"dis 'x'", 1, "Unknown command: 'dis'\r\n"},
        {"displayx 1", 1, "Unknown command: 'displayx'\r\n"}, {"setv v 3", 0, ""},
        {"set echo maybe", 5, "OFF or ON expected\r\n"}, {"set erro off", 0, ""},
        {"lear x", 1, "The LEARN command is not built yet\r\n"},
        {"wai", 1, "Unknown command: 'wai'\r\n"}, {"display", 0, "\r\n"}, {"display 'x';", 0, "x"},
        {"display 'a', 1, t, f", 0, "a1truefalse\r\n"},
        {"display 1 +", 1, "           ^\r\nMore input expected\r\n"},
        {"return", 1, "Must be used in script file...\r\n"},
        {"repeat", 1, "Must be used in script file...\r\n"},
        {"elseif t", 1, "Unmatched ELSEIF\r\n"}, {"do", 5, "Filename expected\r\n"},
        {"do @p", 1, "Filename@Proc required\r\n"}, {"abort", 2, ""}, {"abort 0", 0, ""},
        {"noerror bogus", 0, "Unknown command: 'bogus'\r\n"}, {"if f", 0, ""},
        {"display 'no'", 0, ""}, {"else", 0, ""}, {"display 'yes'", 0, "yes\r\n"}, {"endif", 0, ""},
        {"if 1", 1, "IF/ELSEIF/CASE expression requires logical value\r\n"},
        {"iferror bogus", 0, "Unknown command: 'bogus'\r\n"}, {"display _errno", 0, "1\r\n"},
        {"endif", 0, ""},
        // eval() runs a command inside an expression.
        {"display eval('setvar q 7') + q", 0, "7\r\n"},
        {"display eval('bogus')", 0, "Unknown command: 'bogus'\r\n1\r\n"},
        {"display eval('abort')", 0, "2\r\n"},
        {"display eval('display 1 +') + 10", 0, "           ^\r\nMore input expected\r\n11\r\n"},
        // A variable released while the outer statement still refers to it.
        {"setvar x 1", 0, ""}, {"setvar x eval('release x')", 0, ""}, {"dimint a 2", 0, ""},
        {"setvar a[eval('release a')] 1", 0, ""},
        {"display a", 1, "         ^\r\nUnknown variable: a\r\n"},
        {"dimint a 2", 0, ""},
        {"display a[eval('release *')]", 0, "0\r\n"},
        {"display a", 1, "         ^\r\nUnknown variable: a\r\n"},
    });
    // clang-format on
    EXPECT_EQ(canerror, 0);
    idle();
}

TEST_F(Cmd, ParameterSubstitution) {
    gac = 3;
    gav = {"f", "a", "b"};
    captured([] {
        docmd("setvar n 5");
        docmd("setvar s 'txt'");
        docmd("setvar l f");
        docmd("dimint arr 2");
        ExprValue t;
        lexpr(t, "unset");
    });
    // clang-format off
    const struct { const char* in; int rc; const char* out; const char* msg; } cases[] = {
        {"x $0 $1 $2 $3 $9", 0, "x f a b  ", ""},
        {"$n$s $l|$(n * 2)|$(s + '!')|$(l)|$unset.", 0, "5txt false|10|txt!|false|.", ""},
        {"\\$n \\x $", 1, "", "Unknown variable in substitution: \r\n"},
        {"\\$n \\x", 0, "$n \\x", ""},
        {"$abcdefghijk", 1, "", "Unknown variable in substitution: abcdefghij\r\n"},
        {"$arr", 1, "", "$(<variable>) format must be used for indexed variables\r\n"},
        {"$(arr[1])", 0, "0", ""},
        {"$(n", 1, "", "Right paren expected\r\n"},
        {"$(1 +)", 1, "", "      ^\r\nMissing expression inside parens\r\n"},
    };
    // clang-format on
    for (const auto& c : cases) {
        char out[LINEMAX + 1] = "unchanged";
        int rc = -1;
        std::string msg = captured([&] { rc = subparms(c.in, out); });
        EXPECT_EQ(rc, c.rc) << c.in;
        EXPECT_EQ(msg, c.msg) << c.in;
        EXPECT_STREQ(c.rc ? c.out : out, c.out) << c.in;
    }
    // A substituted line is cut to 255 characters.
    std::string big = "setvar big '" + std::string(200, 'y') + "'";
    captured([&] { docmd(big.c_str()); });
    char out[LINEMAX + 1];
    EXPECT_EQ(subparms("$big $big", out), 0);
    EXPECT_EQ(strlen(out), 255u);
}

TEST_F(Cmd, KeywordRoutines) {
    const char* rest;
    static const char* const list[] = {"carrier", "nocarrier", "abort", nullptr};
    EXPECT_EQ(toklist("NOCA x", &rest, list), 1);
    EXPECT_STREQ(rest, "x");
    EXPECT_EQ(toklist("car", &rest, list), -1);
    EXPECT_EQ(toklist("carr", &rest, list), 0);
    EXPECT_EQ(toklist("   ", &rest, list), -2);
    EXPECT_EQ(captured([] { tokexpect(list); }), "CARRIER, NOCARRIER or ABORT expected\r\n");
}

TEST_F(Cmd, FileNamesExtensionsAndTheSearchPath) {
    TempDir cwd, home, vorndir;
    EnvGuard h("HOME", home.path().c_str()), v("VORNDIR", vorndir.path().c_str());
    for (const char* f : {"plain.cmd", "plain", "both.con", "both.cmd", "dotted.txt"})
        cwd.write(f, std::string("display '") + f + "'\n");
    home.write("inhome.cmd", "display 'home'\n");
    vorndir.write("invorn.cmd", "display 'vorndir'\n");
    vorndir.write("inhome.cmd", "display 'not this one'\n");
    cwd.write("lib.cmd", "display 'top of lib'\nproc p\ndisplay 'p ', _1\nendproc\n"
                         "display 'after p'\n");
    InDir in(cwd);
    const std::string abs = "do " + cwd.path().string() + "/plain";
    // A file found nowhere says which name was looked for where.
    const std::string missing = "Can't find command file nowhere.cmd (looked in the current "
                                "directory, " +
                                home.path().string() + ", " + vorndir.path().string() + ")\r\n";
    // clang-format off
    play({
        {"do plain", 0, "plain.cmd\r\n"}, {"do plain.", 0, "plain\r\n"},
        {"do dotted.txt", 0, "dotted.txt\r\n"}, {"do inhome", 0, "home\r\n"},
        {"do invorn", 0, "vorndir\r\n"}, {abs, 0, "plain.cmd\r\n"},
        {"do ./plain", 0, "plain.cmd\r\n"}, {"do lib@P arg", 0, "p arg\r\n"}, {"do nowhere", 1, missing},
    });
    // clang-format on
    // The kind of file asked for decides which extension comes first.
    char* both[] = {const_cast<char*>("both"), nullptr};
    EXPECT_EQ(captured([&] { cmdfile(1, both, 3); }), "both.con\r\n");
    EXPECT_EQ(captured([&] { cmdfile(1, both, 1); }), "both.cmd\r\n");
    EXPECT_EQ(captured([&] { cmdfile(1, both, 2); }), "both.con\r\n");
    char* plain[] = {const_cast<char*>("plain"), nullptr};
    EXPECT_EQ(captured([&] { cmdfile(1, plain, 0); }), "plain\r\n");
}

// Runs `line` in a directory holding `files` and returns what it printed.
std::string runin(const std::map<std::string, std::string>& files, const char* line) {
    TempDir dir;
    for (const auto& [name, text] : files)
        dir.write(name, text);
    InDir in(dir);
    return captured([&] { docmd(line); });
}

TEST_F(Cmd, EachFileHasItsOwnProceduresLevelsAndArguments) {
    // clang-format off
    const struct {
        std::map<std::string, std::string> files;
        const char* out;
    } cases[] = {
        // A procedure a called file passed is not the caller's.
        {{{"main.cmd", "do lib\ndo @helper\ndisplay 'never'\n"},
          {"lib.cmd", "proc helper\ndisplay 'lib helper'\nendproc\n"}},
         "Can't find proc helper\r\nin main.cmd line 2\r\nCommand file aborted\r\n"},
        // A called file starts with no open if/switch/repeat of its own and cannot close or
        // loop back to its caller's.
        {{{"main.cmd", "set error off\nif t\ndo c1\ndisplay 'in if'\nendif\n"
                       "repeat\ndo c2\nuntil t\ndisplay 'end'\n"},
          {"c1.cmd", "else\nendif\nendswitch\n"}, {"c2.cmd", "until f\n"}},
         "Unmatched ELSE\r\nin c1.cmd line 1\r\nUnmatched ENDIF\r\nin c1.cmd line 2\r\n"
         "Unmatched ENDSWITCH\r\nin c1.cmd line 3\r\nin if\r\n"
         "Unmatched UNTIL\r\nin c2.cmd line 1\r\nend\r\n"},
        // A procedure's levels are its own too, and the caller's come back after it.
        {{{"main.cmd", "set error off\nif t\ndo @p\ndisplay 'in if'\nelse\ndisplay 'no'\nendif\n"
                       "proc p\nif f\nendproc\n"}},
         "in if\r\n"},
        // do @p without arguments passes none on.
        {{{"main.cmd", "do @p y\nproc p\ndisplay '[$1]', _1\ndo @q\nendp\n"
                       "proc q\ndisplay '[$1]', _1\nendp\n"}},
         "[y]y\r\n[]\r\n"},
        // ^Z at the start of a line ends that line only; so does one inside a line.
        {{{"main.cmd", "display 1\n\x1a\ndisplay 2\x1a" "display 3\n"}}, "1\r\n2\r\n3\r\n"},
        // eval('return') in a one-line for ends its file once, not its caller too.
        {{{"main.cmd", "do sub\ndisplay 'main goes on'\n"},
          {"sub.cmd", "for v in (a b c) do display v, eval('return')\ndisplay 'not reached'\n"}},
         "a4\r\nmain goes on\r\n"},
        // Word lists use the program's own patterns, and `do` is required.
        {{{"main.cmd", "for v in ({a-b}*.txt c?.txt d[1].txt) do display v\n"
                       "set error off\nfor v in (x y)\ndisplay 'block'\nendfor\n"},
          {"a1.txt", ""}, {"b2.txt", ""}, {"c3.txt", ""}, {"e.txt", ""}},
         "a1.txt\r\nb2.txt\r\nc3.txt\r\nd[1].txt\r\nDO expected\r\nin main.cmd line 3\r\n"
         "block\r\nUnmatched ENDFOR\r\nin main.cmd line 5\r\n"},
        // A message is placed once, by the file whose line gave it, even when its caller's
        // line goes on to fail for another reason later.
        {{{"main.cmd", "set error off\ndo sub\ndisplay 'main'\ndo sub2\n"},
          {"sub.cmd", "bogus\ndisplay 'sub'\n"}, {"sub2.cmd", "return 1\n"}},
         "Unknown command: 'bogus'\r\nin sub.cmd line 1\r\nsub\r\nmain\r\n"},
        // Script text in messages shows its control bytes.
        {{{"main.cmd", "set error off\n\x1b[2J\ndisplay \x9b" "1\n"}},
         "Unknown command: '^[[2J'\r\nin main.cmd line 2\r\ndisplay \\x9B1\r\n"
         "            ^\r\nInvalid expression\r\nin main.cmd line 3\r\n"},
    };
    // clang-format on
    for (const auto& c : cases) {
        EXPECT_EQ(runin(c.files, "do main"), c.out) << c.files.at("main.cmd");
        idle();
    }
}

TEST_F(Cmd, WordListsKeepToTheWildcardBuffer) {
    std::map<std::string, std::string> files = {{"main.cmd", "for v in (*.txt) do display v;\n"}};
    for (const char* f : {"aaaaaaaaaa.txt", "bbbbbbbbbb.txt", "cccccccccc.txt"})
        files[f] = "";
    wbufsiz = 40; // room for two names of 15 bytes, then fewer than 14 bytes are left
    // Which two fitted depends on the directory's order; the list is sorted afterwards.
    std::string out = runin(files, "do main");
    const std::string msg = "\a*** Wildcard expansion buffer overflow\r\n";
    EXPECT_EQ(out.substr(0, msg.size()), msg);
    EXPECT_EQ(out.size(), msg.size() + 28 + strlen("in main.cmd line 1\r\n")) << out;
    wbufsiz = 3584;
}

TEST_F(Cmd, TheEndOfACalledFileCancelsItsDelay) {
    // The caller's own handler would run if the called file's one-second alarm outlived it.
    std::string out = runin({{"main.cmd", "on delay 60\ndisplay 'main handler'\nendon\ndo sub\n"
                                          "setvar t0 time()\nrepeat\nuntil time() > t0 + 1\n"
                                          "display 'done'\n"},
                             {"sub.cmd", "on delay 1\ndisplay 'sub handler'\nendon\n"}},
                            "do main");
    EXPECT_EQ(out, "done\r\n");
}

TEST_F(Cmd, VornbitsFollowTheSettings) {
    // At power-on: maskpar, abort, addeof, compress, ddtr, error, revdim, xferstat, wrap and
    // bsdel. The display's own parity masking is whatever the emulation chose, and tab
    // expansion is on when the console cannot set tab stops, so those two follow their flags.
    constexpr int32_t defaults =
        0x2 | 0x4 | 0x8 | 0x10 | 0x80 | 0x200 | 0x4000 | 0x10000 | 0x1000000 | 0x8000000;
    ExprValue v;
    EXPECT_EQ(expr(v, "vornbits()"), V_NUM);
    EXPECT_EQ(v.number & ~0x801, defaults);
    EXPECT_EQ(v.number & 0x801, (vmaskpar ? 0x1 : 0) | (vtabex ? 0x800 : 0));
    // clang-format off
    const struct { const char* option; int32_t bit; } rows[] = {
        {"abort", 0x4}, {"addeof", 0x8}, {"compress", 0x10}, {"bsdel", 0x8000000},
        {"control", 0x20}, {"destbs", 0x40}, {"ddtr", 0x80}, {"echo", 0x100},
        {"error", 0x200}, {"maskpar", 0x3}, {"noscroll", 0x400}, {"tabex", 0x800},
        {"toupper", 0x1000}, {"view", 0x2000}, {"revdim", 0x4000}, {"log", 0x8000},
        {"xferstat", 0x10000}, {"exitdtr", 0x20000}, {"eofopen", 0x40000},
        {"consxon", 0x80000}, {"kermecho", 0x100000}, {"altchk", 0x200000},
        {"escctl", 0x400000}, {"esc8bit", 0x800000}, {"wrap", 0x1000000},
        {"blockmode", 0x4000000}, {"exitdisc", 0x10000000},
    };
    // clang-format on
    for (const auto& r : rows) {
        ExprValue on, off;
        captured([&] {
            docmd((std::string("set ") + r.option + " on").c_str());
            expr(on, "vornbits()");
            docmd((std::string("set ") + r.option + " off").c_str());
            expr(off, "vornbits()");
        });
        EXPECT_EQ(on.number & ~off.number, r.bit) << r.option;
        // Back to the default, which the first line showed.
        const bool wason = defaults & r.bit;
        captured(
            [&] { docmd((std::string("set ") + r.option + (wason ? " on" : " off")).c_str()); });
    }
}

TEST_F(Cmd, StateIsIdleAfterAnAbortDeepInside) {
    TempDir cwd;
    cwd.write("a.cmd", "if t\nrepeat\ndo b\nuntil t\nendif\n");
    cwd.write("b.cmd",
              "switch\ncase t\ndo @p\nendswitch\nproc p\nfor v in (x y) do\nbogus\nendfor\n"
              "endproc\n");
    InDir in(cwd);
    play({{"do a", 1,
           "Unknown command: 'bogus'\r\nin b.cmd line 7, procedure p\r\nCommand file aborted\r\n"},
          {"for v in (1 2) do display v;", 0, "12"},
          {"display ' ok'", 0, " ok\r\n"}});
    idle();
}

} // namespace
