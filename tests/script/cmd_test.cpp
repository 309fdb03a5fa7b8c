// The dispatcher in the process: command words and abbreviations, parameter substitution,
// keyword routines, eval() and the state left after errors.
#include "capture.h"

#include "core/start.h"
#include "script/expr.h"

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include <string>

namespace {

class Cmd : public ::testing::Test {
  protected:
    void SetUp() override {
        scriptreset();
        qflag = 1; // no console to look at between lines
    }
    void TearDown() override {
        scriptreset();
        qflag = 0;
    }
};

struct Line {
    const char* line;
    int rc;
    const char* out;
};

void play(const std::vector<Line>& lines) {
    for (const Line& l : lines) {
        int rc = -1;
        std::string out = captured([&] { rc = docmd(l.line); });
        EXPECT_EQ(rc, l.rc) << l.line;
        EXPECT_EQ(out, l.out) << l.line;
    }
}

TEST_F(Cmd, WordsAbbreviationsAndComments) {
    play({
        {"", 0, ""},
        {"   ", 0, ""},
        {"  ! note", 0, ""},
        {"!display 1", 0, ""},
        {"* also a comment", 0, ""},
        {"comment this too", 0, ""},
        {"DISP 'a'", 0, "a\r\n"},
        {"disp 'b'", 0, "b\r\n"},
        {"Display 'c'", 0, "c\r\n"},
        {"? 'd'", 0, "d\r\n"},
        {"dis 'x'", 1, "Unknown command: 'dis'\r\n"},
        {"displayx 1", 1, "Unknown command: 'displayx'\r\n"},
        {"setv v 3", 0, ""},
        {"set", 5,
         "ABORT, ADDEOF, BSDEL, COMPRESS, CONTROL, DESTBS, DDTR, DTR, ECHO, ERROR, "
         "MASKPAR, NOSCROLL, TABEX, TOUPPER, RTS, VIEW, REVDIM, LOG, XFERSTAT, "
         "EXITDTR, EOFOPEN, CONSXON, KERMECHO, ALTCHK, ESCCTL, ESC8BIT, WRAP, "
         "BLOCKMODE or EXITDISC expected\r\n"},
        {"set echo maybe", 5, "OFF or ON expected\r\n"},
        {"set erro off", 0, ""},
        {"dans", 1, "The DANSOFF command is not built yet\r\n"},
        {"fwri", 1, "The FWRITE command is not built yet\r\n"},
        {"wai", 1, "Unknown command: 'wai'\r\n"},
        {"chown x", 0, ""},
        {"display", 0, "\r\n"},
        {"display 'x';", 0, "x"},
        {"display 'a', 1, t", 0, "a1true\r\n"},
        {"display 1 +", 1, "           ^\r\nMore input expected\r\n"},
        {"return", 1, "Must be used in script file...\r\n"},
        {"endproc", 1, "Must be used in script file...\r\n"},
        {"proc x", 1, "Must be used in script file...\r\n"},
        {"repeat", 1, "Must be used in script file...\r\n"},
        {"endif", 1, "Unmatched ENDIF\r\n"},
        {"elseif t", 1, "Unmatched ELSEIF\r\n"},
        {"default", 1, "Unmatched DEFAULT\r\n"},
        {"do", 5, "Filename expected\r\n"},
        {"do @p", 1, "Filename@Proc required\r\n"},
        {"do /nonexistent/x", 1, ""},
        {"abort", 2, ""},
        {"abort 0", 0, ""},
        {"abort 1", 1, ""},
        {"noerror bogus", 0, "Unknown command: 'bogus'\r\n"},
    });
    EXPECT_EQ(canerror, 0);
    EXPECT_EQ(gerrno, 1);
}

TEST_F(Cmd, IfBranchesAtCommandLevel) {
    play({
        {"if f", 0, ""},
        {"display 'no'", 0, ""},
        {"if nosuch", 0, ""},
        {"endif", 0, ""},
        {"else", 0, ""},
        {"display 'yes'", 0, "yes\r\n"},
        {"endif", 0, ""},
        {"if 1", 1, "IF/ELSEIF/CASE expression requires logical value\r\n"},
        {"switch", 0, ""},
        {"case 1 = 2", 0, ""},
        {"case 'a' = 'a'", 0, ""},
        {"display 'case'", 0, "case\r\n"},
        {"default", 0, ""},
        {"display 'default'", 0, ""},
        {"endswitch", 0, ""},
        {"iferror bogus", 0, "Unknown command: 'bogus'\r\n"},
        {"display _errno", 0, "1\r\n"},
        {"endif", 0, ""},
    });
    EXPECT_EQ(iflevel, 0);
    EXPECT_EQ(exlevel, 0);
    EXPECT_EQ(swsp, -1);
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
    struct Sub {
        const char* in;
        int rc;
        const char* out;
        const char* msg;
    };
    const Sub cases[] = {
        {"x $0 $1 $2 $3 $9", 0, "x f a b  ", ""},
        {"$n$s $l", 0, "5txt false", ""},
        {"$(n * 2)|$(s + '!')|$(l)", 0, "10|txt!|false", ""},
        {"\\$n \\x $", 1, "", "Unknown variable in substitution: \r\n"},
        {"\\$n \\x", 0, "$n \\x", ""},
        {"$unset.", 0, ".", ""},
        {"$_cursess", 0, "1", ""},
        {"$abcdefghijk", 1, "", "Unknown variable in substitution: abcdefghij\r\n"},
        {"$arr", 1, "", "$(<variable>) format must be used for indexed variables\r\n"},
        {"$(arr[1])", 0, "0", ""},
        {"$(n", 1, "", "Right paren expected\r\n"},
        {"$(1 +)", 1, "", "      ^\r\nMissing expression inside parens\r\n"},
    };
    for (const Sub& c : cases) {
        char out[LINEMAX + 1] = "unchanged";
        int rc = -1;
        std::string msg = captured([&] { rc = subparms(c.in, out); });
        EXPECT_EQ(rc, c.rc) << c.in;
        EXPECT_EQ(msg, c.msg) << c.in;
        if (!c.rc) {
            EXPECT_STREQ(out, c.out) << c.in;
        }
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
    EXPECT_STREQ(word("  alpha  beta", &rest), "alpha");
    EXPECT_STREQ(rest, "beta");
    EXPECT_STREQ(word("", &rest), "");
    static const char* const list[] = {"carrier", "nocarrier", "abort", nullptr};
    EXPECT_EQ(toklist("NOCA x", &rest, list), 1);
    EXPECT_STREQ(rest, "x");
    EXPECT_EQ(toklist("car", &rest, list), -1);
    EXPECT_EQ(toklist("carr", &rest, list), 0);
    EXPECT_EQ(toklist("   ", &rest, list), -2);
    EXPECT_EQ(captured([] { tokexpect(list); }), "CARRIER, NOCARRIER or ABORT expected\r\n");
    static const char* const one[] = {"do", nullptr};
    EXPECT_EQ(captured([] { tokexpect(one); }), "DO expected\r\n");
    EXPECT_TRUE(cmatch("SETV", "setvar"));
    EXPECT_TRUE(cmatch("set", "set"));
    EXPECT_FALSE(cmatch("set", "setvar"));
    EXPECT_FALSE(cmatch("setvars", "setvar"));
    EXPECT_TRUE(umatch("even", "EVEN"));
}

TEST_F(Cmd, EvalRunsACommandInsideAnExpression) {
    play({
        {"display eval('setvar q 7') + q", 0, "7\r\n"},
        {"display eval('bogus')", 0, "Unknown command: 'bogus'\r\n1\r\n"},
        {"display eval('abort')", 0, "2\r\n"},
        {"display eval('display 1 +') + 10", 0, "           ^\r\nMore input expected\r\n11\r\n"},
        // A variable released while the outer statement still refers to it.
        {"setvar x 1", 0, ""},
        {"setvar x eval('release x')", 0, ""},
        {"dimint a 2", 0, ""},
        {"setvar a[eval('release a')] 1", 0, ""},
        {"display a", 1, "         ^\r\nUnknown variable: a\r\n"},
        {"dimint a 2", 0, ""},
        {"display a[eval('release *')]", 0, "0\r\n"},
        {"display a", 1, "         ^\r\nUnknown variable: a\r\n"},
    });
    EXPECT_EQ(evaldepth, 0);
    EXPECT_EQ(inexpr, 0);
    EXPECT_EQ(poolused(), 0);
}

} // namespace

namespace {

// A private directory with files, removed afterwards.
class Dir {
  public:
    Dir() {
        char t[] = "/tmp/vorn_cmdXXXXXX";
        path_ = mkdtemp(t);
    }
    ~Dir() { std::filesystem::remove_all(path_); }
    void write(const std::string& name, const std::string& text) const {
        std::ofstream(path_ + "/" + name) << text;
    }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

// Sets an environment variable for one test.
class Env {
  public:
    Env(const char* name, const std::string& value) : name_(name) {
        const char* old = getenv(name);
        if (old) old_ = old, had_ = true;
        setenv(name, value.c_str(), 1);
    }
    ~Env() {
        if (had_)
            setenv(name_, old_.c_str(), 1);
        else
            unsetenv(name_);
    }

  private:
    const char* name_;
    std::string old_;
    bool had_ = false;
};

TEST_F(Cmd, FileNamesExtensionsAndTheSearchPath) {
    Dir cwd, home, vorndir;
    Env h("HOME", home.path());
    Env v("VORNDIR", vorndir.path());
    cwd.write("plain.cmd", "display 'plain.cmd'\n");
    cwd.write("plain", "display 'plain'\n");
    cwd.write("both.con", "display 'both.con'\n");
    cwd.write("both.cmd", "display 'both.cmd'\n");
    cwd.write("dotted.txt", "display 'dotted.txt'\n");
    home.write("inhome.cmd", "display 'home'\n");
    vorndir.write("invorn.cmd", "display 'vorndir'\n");
    vorndir.write("inhome.cmd", "display 'not this one'\n");
    cwd.write("lib.cmd", "display 'top of lib'\nproc p\ndisplay 'p ', _1\nendproc\n"
                         "display 'after p'\n");
    char old[4096];
    ASSERT_TRUE(getcwd(old, sizeof old));
    ASSERT_EQ(chdir(cwd.path().c_str()), 0);
    std::string abs = "do " + cwd.path() + "/plain";
    play({
        {"do plain", 0, "plain.cmd\r\n"},
        {"do plain.", 0, "plain\r\n"},
        {"do dotted.txt", 0, "dotted.txt\r\n"},
        {"do inhome", 0, "home\r\n"},
        {"do invorn", 0, "vorndir\r\n"},
        {abs.c_str(), 0, "plain.cmd\r\n"},
        {"do ./plain", 0, "plain.cmd\r\n"},
        {"do lib@P arg", 0, "p arg\r\n"},
        {"do nowhere", 1, ""},
    });
    char* both[] = {const_cast<char*>("both"), nullptr};
    EXPECT_EQ(captured([&] { cmdfile(1, both, 3); }), "both.con\r\n");
    EXPECT_EQ(captured([&] { cmdfile(1, both, 1); }), "both.cmd\r\n");
    EXPECT_EQ(captured([&] { cmdfile(1, both, 2); }), "both.con\r\n");
    char* plain[] = {const_cast<char*>("plain"), nullptr};
    EXPECT_EQ(captured([&] { cmdfile(1, plain, 0); }), "plain\r\n");
    ASSERT_EQ(chdir(old), 0);
}

TEST_F(Cmd, StateIsIdleAfterAnAbortDeepInside) {
    Dir cwd;
    cwd.write("a.cmd", "if t\nrepeat\ndo b\nuntil t\nendif\n");
    cwd.write("b.cmd", "switch\ncase t\ndo @p\nendswitch\nproc p\nfor v in (x y)\nbogus\nendfor\n"
                       "endproc\n");
    char old[4096];
    ASSERT_TRUE(getcwd(old, sizeof old));
    ASSERT_EQ(chdir(cwd.path().c_str()), 0);
    play({{"do a", 1, "Unknown command: 'bogus'\r\nCommand file aborted\r\n"},
          {"for v in (1 2) do display v;", 0, "12"},
          {"display ' ok'", 0, " ok\r\n"}});
    EXPECT_EQ(flevel, 0);
    EXPECT_EQ(iflevel, 0);
    EXPECT_EQ(exlevel, 0);
    EXPECT_EQ(rsp, -1);
    EXPECT_EQ(swsp, -1);
    EXPECT_EQ(inprcmd, 0);
    EXPECT_EQ(inoncmd, 0);
    EXPECT_EQ(gfp, nullptr);
    ASSERT_EQ(chdir(old), 0);
}

} // namespace
