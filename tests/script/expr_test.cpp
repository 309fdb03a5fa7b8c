// The expression evaluator: values, precedence, types, built-in functions and every error
// message with its caret.
#include "capture.h"

#include "script/expr.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class Expr : public ::testing::Test {
  protected:
    void SetUp() override { scriptreset(); }
    void TearDown() override { EXPECT_EQ(poolused(), 0); }
};

// Evaluates with the text as the executed line, so the caret is measured from its start.
ExprValue eval(const std::string& text, std::string* out = nullptr) {
    ExprValue v;
    std::string o = captured([&] {
        glinep = text.c_str();
        expr(v, text.c_str());
    });
    if (out) *out = o;
    return v;
}

void run(const std::string& line) {
    std::string o = captured([&] {
        glinep = line.c_str();
        ASSERT_EQ(c_setvar(line.c_str()), 0) << line;
    });
    ASSERT_EQ(o, "") << line;
}

struct NumCase {
    const char* text;
    int32_t value;
    uint8_t type;
};

TEST_F(Expr, NumbersAndLogicals) {
    // clang-format off
    const NumCase cases[] = {
        {"1 + 2 * 3", 7, V_NUM},            {"(1 + 2) * 3", 9, V_NUM},
        {"10 - 4 - 3", 3, V_NUM},           {"100 / 10 / 5", 2, V_NUM},
        {"7 / -2", -3, V_NUM},              {"7 mod -2", 1, V_NUM},
        {"-7 / 2", -3, V_NUM},              {"-7 mod 2", -1, V_NUM},
        {"-7 % 2", -1, V_NUM},              {"2147483647 + 1", INT32_MIN, V_NUM},
        {"65536 * 65536", 0, V_NUM},        {"-2147483648 / -1", INT32_MIN, V_NUM},
        {"-2147483648 mod -1", 0, V_NUM},   {"4294967295", -1, V_NUM},
        {"1 shl 32", 0, V_NUM},             {"1 shr 32", 1, V_NUM},
        {"-1 shr 28", 15, V_NUM},           {"1 << 4", 16, V_NUM},
        {"256 >> 4", 16, V_NUM},            {"1 shl 2 + 1", 8, V_NUM},
        {"0x1F", 31, V_NUM},                {"1x0", 16, V_NUM},
        {"0xff", 255, V_NUM},               {"0x", 0, V_NUM},
        {"0XAb", 171, V_NUM},               {"12 & 10", 8, V_NUM},
        {"12 | 3", 15, V_NUM},              {"12 ^ 10", 6, V_NUM},
        {"12 xor 10 and 8", 4, V_NUM},      {"not 0", -1, V_NUM},
        {"not 5", -6, V_NUM},               {"-(3)", -3, V_NUM},
        {"+4", 4, V_NUM},                   {"--4", 4, V_NUM},
        {"1 = 1", -1, V_LOG},               {"2 > 1", -1, V_LOG},
        {"2 eq 3", 0, V_LOG},               {"2 <> 3", -1, V_LOG},
        {"2 != 2", 0, V_LOG},               {"-1 lt 0", -1, V_LOG},
        {"3 le 3", -1, V_LOG},              {"3 ge 4", 0, V_LOG},
        {"not true", 0, V_LOG},             {"!f", -1, V_LOG},
        {"TRUE", -1, V_LOG},                {"True and F", 0, V_LOG},
        {"t or f", -1, V_LOG},              {"t xor t", 0, V_LOG},
        {"'abc' < 'abd'", -1, V_LOG},       {"'b' > 'abc'", -1, V_LOG},
        {"'' = ''", -1, V_LOG},             {"t = f", 0, V_LOG},
        {"2 + 3 = 5 and 1 < 2", -1, V_LOG}, {"1 < 2 < 3", -1, V_LOG},
    };
    // clang-format on
    for (const NumCase& c : cases) {
        std::string out;
        ExprValue v = eval(c.text, &out);
        EXPECT_EQ(out, "") << c.text;
        EXPECT_EQ(v.type, c.type) << c.text;
        EXPECT_EQ(v.number, c.value) << c.text;
    }
}

TEST_F(Expr, RelationTakesOneOperatorAndLeavesTheRest) {
    EXPECT_EQ(eval("1 < 2 < 3").number, -1);
    EXPECT_EQ(op, T_REL);
    EXPECT_EQ(ival, R_LT);
    eval("5 )");
    EXPECT_EQ(op, ')');
}

struct StrCase {
    const char* text;
    const char* value;
};

TEST_F(Expr, StringsAndFunctions) {
    setenv("VORN_EXPR_TEST", "hello", 1);
    unsetenv("VORN_EXPR_NONE");
    // clang-format off
    const StrCase cases[] = {
        {"'ab' + 'cd'", "abcd"},            {"\"ab^Mc\"", "ab\rc"},
        {"'\\x4'", "\x04"},                 {"'\\101\\e\\N\\\\'", "A\x1b\n\\"},
        {"'it''s'", "it"},                  {"'\\^\\\"'", "^\""},
        {"left('abc', 5)", "abc"},          {"left('abc', 0)", ""},
        {"right('abc', 2)", "bc"},          {"right('abc', 9)", "abc"},
        {"midstr('abcdef', 3, 2)", "cd"},   {"midstr('abc', 9, 2)", ""},
        {"midstr('abc', 2, 255)", "bc"},    {"str(-5)", "-5"},
        {"str(2147483647 + 1)", "-2147483648"},
        {"chr(65)", "A"},                   {"chr(0)", ""},
        {"chr(321)", "A"},                  {"toupper('aBc1')", "ABC1"},
        {"tolower('AbC')", "abc"},          {"trim('ab  ')", "ab"},
        {"trim('  ab')", "  ab"},           {"cdate(0)", "01/01/1970"},
        {"ctime(0)", "00:00:00"},           {"ctime(3661)", "01:01:01"},
        {"cdate(951782400)", "02/29/2000"}, {"getenv('VORN_EXPR_TEST')", "hello"},
        {"getenv('VORN_EXPR_NONE')", ""},   {"left('abc' + 'def', 4) + '!'", "abcd!"},
    };
    // clang-format on
    for (const StrCase& c : cases) {
        std::string out;
        ExprValue v = eval(c.text, &out);
        EXPECT_EQ(out, "") << c.text;
        EXPECT_EQ(v.type, V_STR) << c.text;
        EXPECT_EQ(std::string(v.text), c.value) << c.text;
    }
}

TEST_F(Expr, NumericFunctions) {
    // clang-format off
    const NumCase cases[] = {
        {"pos('b', 'abcb', 3)", 4, V_NUM},  {"pos('x', 'abc', 1)", 0, V_NUM},
        {"pos('', 'abc', 2)", 2, V_NUM},    {"pos('', 'abc', 4)", 0, V_NUM},
        {"pos('bc', 'abc', 1)", 2, V_NUM},  {"sum('abc', 0, 0)", 294, V_NUM},
        {"sum('abc', 1, 0)", 96, V_NUM},    {"sum('abc', 0, 6)", 300, V_NUM},
        {"sum('123456789', 2, 0)", 8585, V_NUM}, {"sum('abc', 7, 5)", 5, V_NUM},
        {"val('12ab')", 12, V_NUM},         {"val('ab')", 0, V_NUM},
        {"val('  -42x')", -42, V_NUM},      {"val('+7')", 7, V_NUM},
        {"asc('')", 0, V_NUM},              {"asc('A')", 65, V_NUM},
        {"asc('\\377')", 255, V_NUM},       {"len('hello')", 5, V_NUM},
        {"len('')", 0, V_NUM},              {"opsys()", 3, V_NUM},
        {"atod('01/01/1970')", 0, V_NUM},   {"atod('13/01/2006')", -1, V_NUM},
        {"filesize('/nonexistent/x')", 0, V_NUM},
        {"filemode('/nonexistent/x')", 438, V_NUM},
        {"filedate('/nonexistent/x')", -1, V_NUM},
        {"ftell(5)", -1, V_NUM},            {"feof(0)", -1, V_LOG},
        {"feof(21)", -1, V_LOG},            {"exists('/')", 0, V_LOG},
        {"isdir('/')", -1, V_LOG},          {"isdir('/nonexistent/x')", 0, V_LOG},
        {"len(str(12345) + 'x')", 6, V_NUM},
    };
    // clang-format on
    for (const NumCase& c : cases) {
        std::string out;
        ExprValue v = eval(c.text, &out);
        EXPECT_EQ(out, "") << c.text;
        EXPECT_EQ(v.type, c.type) << c.text;
        EXPECT_EQ(v.number, c.value) << c.text;
    }
}

TEST_F(Expr, ConcatenationStopsAt255Bytes) {
    run("s '" + std::string(200, 'a') + "'");
    ExprValue v = eval("s + s + 'tail'");
    EXPECT_EQ(v.type, V_STR);
    EXPECT_EQ(std::string(v.text), std::string(255, 'a'));
    v = eval("len(s + s)");
    EXPECT_EQ(v.number, 255);
}

TEST_F(Expr, LongLiteralsAreCutTo255Bytes) {
    std::string text = "len('" + std::string(300, 'q') + "')";
    std::string out;
    ExprValue v = eval(text, &out);
    EXPECT_EQ(out, "");
    EXPECT_EQ(v.number, 255);
    v = eval("'" + std::string(300, 'q') + "' + 'tail'", &out);
    EXPECT_EQ(std::string(v.text), std::string(255, 'q'));
    v = eval("'" + std::string(300, 'q'), &out);
    EXPECT_EQ(v.type, V_NONE);
    EXPECT_EQ(out, std::string(301, ' ') + "^\r\nBadly formed string\r\n");
}

TEST_F(Expr, Variables) {
    run("n 5");
    run("s 'ABC'");
    run("b t");
    ASSERT_EQ(captured([] { c_dimint("a 3"); }), "");
    run("a[1] 7");
    ASSERT_EQ(captured([] { c_dimstr("ss 2"); }), "");
    // clang-format off
    const NumCase cases[] = {
        {"n * 2", 10, V_NUM},  {"-a[1]", -7, V_NUM}, {"a[0]", 0, V_NUM},
        {"s[0]", 65, V_NUM},   {"s[2]", 67, V_NUM},  {"N + A[1]", 12, V_NUM},
        {"b", -1, V_LOG},      {"not b", 0, V_LOG},  {"a[n - 4] = 7", -1, V_LOG},
        {"ss[1] = ''", -1, V_LOG}, {"_cursess", 1, V_NUM},
    };
    // clang-format on
    for (const NumCase& c : cases) {
        std::string out;
        ExprValue v = eval(c.text, &out);
        EXPECT_EQ(out, "") << c.text;
        EXPECT_EQ(v.type, c.type) << c.text;
        EXPECT_EQ(v.number, c.value) << c.text;
    }
}

struct ErrCase {
    const char* text;
    int column; // where the caret stands
    const char* message;
};

TEST_F(Expr, ErrorsPrintTheCaretAndMessage) {
    run("n 5");
    run("s 'ABC'");
    ASSERT_EQ(captured([] { c_dimint("a 3"); }), "");
    captured([] {
        ExprValue t;
        lexpr(t, "unset");
    });
    // clang-format off
    const ErrCase cases[] = {
        {"5 + 'a'", 7, "Type mismatch in expression"},
        {"'ab' - 'a'", 10, "Invalid string operator"},
        {"true and 1", 10, "Type mismatch in expression"},
        {"1 / 0", 5, "Divide by zero error"},
        {"1 mod 0", 7, "Modulo by zero error"},
        {"(1 + 2", 6, "Missing right paren"},
        {"len()", 5, "Missing expression inside parens"},
        {"time(5)", 7, "Too many arguments or Missing right paren"},
        {"left('a' 1)", 11, "Comma expected"},
        {"len 5", 5, "Missing left paren"},
        {"nosuch + 1", 7, "Unknown variable: nosuch"},
        {"nosuch(1)", 7, "Unknown variable: nosuch"},
        {"1 +", 3, "More input expected"},
        {"", 0, "More input expected"},
        {"{", 1, "Invalid expression"},
        {"1 + {", 5, "Invalid expression"},
        {"1 == 1", 4, "Invalid expression"},
        {"12ab", 3, "Bad number"},
        {"abcdefghijk", 11, "Variable name too long"},
        {"'abc", 4, "Badly formed string"},
        {"'a\\qb'", 4, "Badly formed string"},
        {"'a^'", 3, "Badly formed string"},
        {"'\\x'", 3, "Badly formed string"},
        {"left('abc', 256)", 16, "Index out of range"},
        {"right('abc', -1)", 16, "Index out of range"},
        {"midstr('abc', 0, 1)", 19, "Index out of range"},
        {"pos('a', 'b', 256)", 18, "Index out of range"},
        {"len(5)", 6, "Type mismatch in expression"},
        {"cdate(t)", 8, "Type mismatch in expression"},
        {"s[3]", 4, "String subscript out of bounds"},
        {"s[-1]", 5, "String subscript out of bounds"},
        {"n[0]", 4, "Variable not array or string type"},
        {"a", 1, "Variable requires indexing value"},
        {"a[3]", 4, "Subscript out of bounds"},
        {"5[1]", 2, "Simple variable required"},
        {"a[1", 3, "Missing right bracket"},
        {"a['x']", 6, "Number expected"},
        {"unset + 1", 7, "Variable value not set"},
        {"- 'x'", 5, "Number expected"},
        {"not 'x'", 7, "Number or logical expected"},
        {"t + 1", 3, "Number or string expected"},
        {"'a' * 2", 5, "Number expected"},
        {"1 shl t", 7, "Number expected"},
        {"'a' or t", 7, "Number or logical expected"},
    };
    // clang-format on
    for (const ErrCase& c : cases) {
        std::string out;
        ExprValue v = eval(c.text, &out);
        EXPECT_EQ(v.type, V_NONE) << c.text;
        std::string want = std::string(c.column, ' ') + "^\r\n" + c.message + "\r\n";
        EXPECT_EQ(out, want) << c.text;
        EXPECT_EQ(inexpr, 0);
        EXPECT_EQ(poolused(), 0) << c.text;
    }
}

TEST_F(Expr, TwentyOnePendingOperandsAreTooComplicated) {
    auto nested = [](int n) {
        std::string s;
        for (int i = 0; i < n; i++)
            s += "1+(";
        s += "1";
        s += std::string(n, ')');
        return s;
    };
    std::string out;
    ExprValue v = eval(nested(20), &out);
    EXPECT_EQ(out, "");
    EXPECT_EQ(v.number, 21);
    v = eval(nested(21), &out);
    EXPECT_EQ(v.type, V_NONE);
    EXPECT_NE(out.find("Expression too complicated\r\n"), std::string::npos);
    // Deep parentheses alone take no slot.
    std::string deep = std::string(120, '(') + "7" + std::string(120, ')');
    v = eval(deep, &out);
    EXPECT_EQ(out, "");
    EXPECT_EQ(v.number, 7);
}

TEST_F(Expr, AssignmentTargets) {
    ExprValue t;
    std::string out = captured([&] { lexpr(t, "newvar"); });
    EXPECT_EQ(t.type, V_VAR);
    EXPECT_STREQ(t.var->name, "newvar");
    out = captured([&] { lexpr(t, "ABCDEFGHIJ"); });
    EXPECT_EQ(out, "");
    EXPECT_STREQ(t.var->name, "abcdefghij");
    out = captured([&] {
        glinep = "5";
        lexpr(t, "5");
    });
    EXPECT_EQ(t.type, V_NONE);
    EXPECT_EQ(out, " ^\r\nSimple or indexed variable required\r\n");
    out = captured([&] {
        glinep = "_1";
        lexpr(t, "_1");
    });
    EXPECT_EQ(out, "  ^\r\nUnknown variable: _1\r\n");
    // The index of a target is an ordinary expression: unknown names there are errors.
    out = captured([&] {
        glinep = "x[y]";
        lexpr(t, "x[y]");
    });
    EXPECT_EQ(out, "    ^\r\nUnknown variable: y\r\n");
}

TEST_F(Expr, StrexprAndNumexprCheckTheType) {
    ExprValue v;
    EXPECT_EQ(captured([&] { EXPECT_EQ(strexpr(v, "1"), 0); }), "String expression required\r\n");
    EXPECT_EQ(captured([&] { EXPECT_EQ(numexpr(v, "'a'"), 0); }),
              "Numeric expression required\r\n");
    EXPECT_EQ(captured([&] { EXPECT_EQ(numexpr(v, "2"), V_NUM); }), "");
}

TEST_F(Expr, PvalPrintsEachType) {
    ExprValue v[4] = {eval("'a'"), eval("12"), eval("t"), eval("f")};
    std::string out = captured([&] {
        for (const ExprValue& x : v)
            pval(x);
    });
    EXPECT_EQ(out, "a12truefalse");
}

TEST_F(Expr, UniqReservesNumberedNames) {
    char dir[] = "/tmp/vorn_uniqXXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    std::string pat = std::string(dir) + "/log##";
    ExprValue v = eval("uniq('" + pat + "')");
    EXPECT_EQ(std::string(v.text), std::string(dir) + "/log00");
    v = eval("uniq('" + pat + "')");
    EXPECT_EQ(std::string(v.text), std::string(dir) + "/log01");
    v = eval("uniq('" + std::string(dir) + "/f#.x')");
    EXPECT_EQ(std::string(v.text), std::string(dir) + "/f00.x");
    v = eval("uniq('/nonexistent/dir/x#')");
    EXPECT_EQ(std::string(v.text), "");
    ExprValue e = eval("exists('" + std::string(dir) + "/log01')");
    EXPECT_EQ(e.number, -1);
    std::string cmd = std::string("rm -rf ") + dir;
    ASSERT_EQ(system(cmd.c_str()), 0);
}

} // namespace
