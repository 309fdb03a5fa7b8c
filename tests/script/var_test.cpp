// Variables, arrays, system variables and memlist.
#include "capture.h"

#include "core/start.h"
#include "ports/com.h"
#include "script/expr.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class Var : public ScriptTest {};

const char* kHeader = "Name       Type    Value\r\n---------- ------- ------------\r\n";

using Handler = int (*)(const char*);

struct Step {
    Handler cmd;
    const char* args;
    int rc;
    std::string out;
};

void play(const std::vector<Step>& steps) {
    for (const Step& s : steps) {
        int rc = -1;
        std::string out = captured([&] {
            glinep = s.args;
            rc = s.cmd(s.args);
        });
        EXPECT_EQ(rc, s.rc) << s.args;
        EXPECT_EQ(out, s.out) << s.args;
    }
}

std::string value(const char* text) {
    ExprValue v;
    std::string out = captured([&] { expr(v, text); });
    char buf[256];
    vtext(v, buf);
    return out + buf;
}

// clang-format off
TEST_F(Var, AssignmentChangesTypeAndMemlistShowsIt) {
    play({
        {c_setvar, "x 5", 0, ""}, {c_setvar, "x 'abc'", 0, ""}, {c_setvar, "flag 1 < 2", 0, ""},
        {c_setvar, "ctl '\\x01^M\\e\\t\\b\\n\\v\\f\"'", 0, ""},
        {c_memlist, "", 0,
         std::string(kHeader) + "CTL        string  \"\\x01\\r\\e\\t\\b\\n\\v\\f\"\"\r\n"
                                "FLAG       logical true\r\n"
                                "X          string  \"abc\"\r\n"},
    });
    EXPECT_EQ(value("x"), "abc");
}

TEST_F(Var, ArraysAndTheirErrors) {
    play({
        {c_dimint, "a 3", 0, ""}, {c_setvar, "a[3] 1", 1, "Subscript out of bounds\r\n"},
        {c_setvar, "a 1", 1, "Variable requires indexing value\r\n"},
        {c_setvar, "a[0] 'x'", 1, "Type mismatch for assignment\r\n"}, {c_setvar, "a[2] 9", 0, ""},
        {c_dimstr, "s 2", 0, ""}, {c_setvar, "s[0] 'hi'", 0, ""}, {c_dimlog, "l 2", 0, ""},
        {c_setvar, "l[1] t", 0, ""}, {c_setvar, "n 4", 0, ""},
        {c_setvar, "n[0] 1", 1, "Variable not array type\r\n"},
        {c_dimint, "z 0", 1, "Dimension must be greater than 0\r\n"},
        {c_dimint, "z 'x'", 1, "Constant numeric expression required\r\n"},
        {c_dimint, "a[1] 2", 1, "Simple variable required\r\n"},
        {c_dimint, "_baud 2", 1, "Simple variable expected\r\n"},
        {c_dimint, "z 99999999", 1, "Out of RAM memory (Error #13)\r\n"},
        {c_dimint, "5 2", 1,
         "   ^\r\nSimple or indexed variable required\r\nSimple variable expected\r\n"},
        {c_memlist, "l", 0,
         std::string(kHeader) + "Z          \r\n"
                                "N          numeric 4\r\n"
                                "L          dimlog  [2]\r\n"
                                "L[   0]            false\r\n"
                                "L[   1]            true\r\n"
                                "S          dimstr  [2]\r\n"
                                "S[   0]            \"hi\"\r\n"
                                "S[   1]            \"\"\r\n"
                                "A          dimint  [3]\r\n"
                                "A[   0]            0\r\n"
                                "A[   1]            0\r\n"
                                "A[   2]            9\r\n"},
    });
    EXPECT_EQ(value("s[1]"), "");
    EXPECT_EQ(value("l[0]"), "false");
    // Re-dimensioning replaces the array and its type.
    play({{c_dimstr, "a 1", 0, ""}, {c_setvar, "a[0] 'q'", 0, ""}});
    EXPECT_EQ(value("a[0]"), "q");
}

TEST_F(Var, SystemVariables) {
    play({
        {c_setvar, "_baud 9600", 1, "          ^\r\nCan't set named system variable\r\n"},
        {c_setvar, "_obufsiz 'x'", 1, "            ^\r\nType mismatch in expression\r\n"},
        {c_setvar, "_obufsiz 4096", 0, ""}, {c_setvar, "_combufsiz 0", 0, ""},
        {c_setvar, "_kermiteol '\\n'", 0, ""}, {c_setvar, "_turnchar 'xyz'", 0, ""},
        {c_setvar,
         "_filename '"
         "0123456789012345678901234567890123456789012345678901234567890123456789'",
         0, ""},
        {c_setvar, "_errno 1", 1, "        ^\r\nCan't set named system variable\r\n"},
        {c_setvar, "_nosuch 1", 1, "        ^\r\nUnknown variable: _nosuch\r\n"},
        {c_release, "_baud", 1, "Can't release system variable _baud\r\n"},
    });
    EXPECT_EQ(value("_obufsiz"), "512");
    EXPECT_EQ(value("_combufsiz"), "1200");
    EXPECT_EQ(value("asc(_kermiteol)"), "10");
    EXPECT_EQ(value("_turnchar"), "x");
    EXPECT_EQ(value("len(_filename)"), "64");
    const std::string version = value("_version");
    EXPECT_EQ(version.rfind("VORN v1.0 ", 0), 0u) << version;
    EXPECT_EQ(version.substr(version.size() - 7), "] Linux") << version;
    std::string all = captured([] { c_memlist("s"); });
    EXPECT_EQ(all.rfind(kHeader, 0), 0u);
    EXPECT_NE(all.find("_TIMEOUT   logical false\r\n"), std::string::npos);
}

TEST_F(Var, ReleaseAndUnsetVariables) {
    play({
        {c_setvar, "a 1", 0, ""}, {c_setvar, "b 2", 0, ""}, {c_setvar, "c 3", 0, ""},
        {c_release, "a, c, never", 0, ""},
        {c_memlist, "", 0, std::string(kHeader) + "B          numeric 2\r\n"},
        {c_release, "*", 0, ""},
    });
    EXPECT_EQ(captured([] { c_memlist(""); }), kHeader);
    // A failed assignment leaves its target created but unset.
    play({{c_setvar, "d nosuch", 1, "        ^\r\nUnknown variable: nosuch\r\n"}});
    EXPECT_EQ(value("d"), "^\r\nVariable value not set\r\n0");
}
// clang-format on

} // namespace
