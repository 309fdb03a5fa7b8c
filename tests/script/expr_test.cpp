// The expression evaluator: values, precedence, types, built-in functions and every error
// message with its caret.
#include "capture.h"

#include "script/expr.h"
#include "support/harness.h"

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

void checknums(std::initializer_list<NumCase> cases) {
    for (const NumCase& c : cases) {
        std::string out;
        ExprValue v = eval(c.text, &out);
        EXPECT_EQ(out, "") << c.text;
        EXPECT_EQ(v.type, c.type) << c.text;
        EXPECT_EQ(v.number, c.value) << c.text;
    }
}

TEST_F(Expr, NumbersLogicalsAndNumericFunctions) {
    // clang-format off
    checknums({
        {"1 + 2 * 3", 7, V_NUM},            {"(1 + 2) * 3", 9, V_NUM},
        {"10 - 4 - 3", 3, V_NUM},           {"100 / 10 / 5", 2, V_NUM},
        {"7 / -2", -3, V_NUM},              {"7 mod -2", 1, V_NUM},
        {"-7 / 2", -3, V_NUM},              {"-7 mod 2", -1, V_NUM},
        {"2147483647 + 1", INT32_MIN, V_NUM}, {"65536 * 65536", 0, V_NUM},
        {"-2147483648 / -1", INT32_MIN, V_NUM}, {"-2147483648 mod -1", 0, V_NUM},
        {"4294967295", -1, V_NUM},          {"1 shl 32", 0, V_NUM},
        {"1 shr 32", 1, V_NUM},             {"-1 shr 28", 15, V_NUM},
        {"7 % 4 + 5 mod 4 + (1 shl 3 shr 1) + (256 >> 4 << 1)", 40, V_NUM},
        {"1 lt 2 and 2 gt 1 and 1 le 1 and 1 ge 1 and 1 eq 1 and 1 ne 2 and 1 <> 2 and 1 != 2 "
         "and 1 >= 1 and 1 <= 1 and 2 > 1 and not (1 < 1) and 1 = 1", -1, V_LOG},
        {"1 shl 2 + 1", 8, V_NUM},          {"12 xor 10 and 8", 4, V_NUM},
        {"12 | 3", 15, V_NUM},              {"not 5", -6, V_NUM},
        {"--4", 4, V_NUM},                  {"3 ge 4", 0, V_LOG},
        {"!f", -1, V_LOG},                  {"True and F", 0, V_LOG},
        {"'abc' < 'abd'", -1, V_LOG},       {"'b' > 'abc'", -1, V_LOG},
        {"2 + 3 = 5 and 1 < 2", -1, V_LOG}, {"1 < 2 < 3", -1, V_LOG},
        {"pos('b', 'abcb', 3)", 4, V_NUM},  {"pos('', 'abc', 4)", 0, V_NUM},
        {"sum('abc', 1, 0)", 96, V_NUM},    {"sum('123456789', 2, 0)", 8585, V_NUM},
        {"sum('abc', 7, 5)", 5, V_NUM},     {"val('  -42x')", -42, V_NUM},
        {"asc('\\377')", 255, V_NUM},       {"opsys()", 3, V_NUM},
        {"atod('13/01/2006')", -1, V_NUM},  {"filemode('/nonexistent/x')", 438, V_NUM},
        {"filedate('/nonexistent/x')", -1, V_NUM}, {"ftell(5)", -1, V_NUM},
        {"feof(21)", -1, V_LOG},            {"isdir('/')", -1, V_LOG},
        {"len(str(12345) + 'x')", 6, V_NUM},
    });
    // clang-format on
}

TEST_F(Expr, StringsAndFunctions) {
    setenv("VORN_EXPR_TEST", "hello", 1);
    // clang-format off
    const struct { const char* text; const char* value; } cases[] = {
        {"'ab' + 'cd'", "abcd"},            {"'it''s'", "it"},
        {"left('abc', 5)", "abc"},          {"right('abc', 2)", "bc"},
        {"midstr('abcdef', 3, 2)", "cd"},   {"midstr('abc', 2, 255)", "bc"},
        {"str(2147483647 + 1)", "-2147483648"}, {"chr(0)", ""},
        {"chr(321)", "A"},                  {"toupper('aBc1')", "ABC1"},
        {"trim('  ab  ')", "  ab"},         {"cdate(951782400)", "02/29/2000"},
        {"getenv('VORN_EXPR_TEST')", "hello"}, {"left('abc' + 'def', 4) + '!'", "abcd!"},
    };
    // clang-format on
    for (const auto& c : cases) {
        std::string out;
        ExprValue v = eval(c.text, &out);
        EXPECT_EQ(out, "") << c.text;
        EXPECT_EQ(v.type, V_STR) << c.text;
        EXPECT_EQ(std::string(v.text), c.value) << c.text;
    }
}

TEST_F(Expr, StringsStopAt255Bytes) {
    run("s '" + std::string(200, 'a') + "'");
    EXPECT_EQ(std::string(eval("s + s + 'tail'").text), std::string(255, 'a'));
    const std::string q300 = std::string(300, 'q');
    std::string out;
    EXPECT_EQ(eval("len('" + q300 + "')", &out).number, 255);
    EXPECT_EQ(out, "");
    EXPECT_EQ(std::string(eval("'" + q300 + "' + 'tail'").text), std::string(255, 'q'));
    EXPECT_EQ(eval("'" + q300, &out).type, V_NONE);
    EXPECT_EQ(out, std::string(301, ' ') + "^\r\nBadly formed string\r\n");
}

TEST_F(Expr, VariablesAndErrorsWithTheCaret) {
    run("n 5");
    run("s 'ABC'");
    ASSERT_EQ(captured([] { c_dimint("a 3"); }), "");
    run("a[1] 7");
    ASSERT_EQ(captured([] { c_dimstr("ss 2"); }), "");
    captured([] {
        ExprValue t;
        lexpr(t, "unset");
    });
    // clang-format off
    checknums({
        {"-a[1]", -7, V_NUM}, {"a[0]", 0, V_NUM}, {"s[2]", 67, V_NUM},
        {"N + A[1]", 12, V_NUM}, {"a[n - 4] = 7", -1, V_LOG}, {"ss[1] = ''", -1, V_LOG},
    });
    // clang-format on
    // clang-format off
    const struct { const char* text; int column; const char* message; } cases[] = {
        {"5 + 'a'", 7, "Type mismatch in expression"},
        {"'ab' - 'a'", 10, "Invalid string operator"}, {"1 / 0", 5, "Divide by zero error"},
        {"1 mod 0", 7, "Modulo by zero error"}, {"(1 + 2", 6, "Missing right paren"},
        {"len()", 5, "Missing expression inside parens"},
        {"time(5)", 7, "Too many arguments or Missing right paren"},
        {"left('a' 1)", 11, "Comma expected"}, {"len 5", 5, "Missing left paren"},
        {"nosuch(1)", 7, "Unknown variable: nosuch"}, {"1 +", 3, "More input expected"},
        {"1 + {", 5, "Invalid expression"},
        {"12ab", 3, "Bad number"}, {"abcdefghijk", 11, "Variable name too long"},
        {"'a\\qb'", 4, "Badly formed string"}, {"left('abc', 256)", 16, "Index out of range"},
        {"midstr('abc', 0, 1)", 19, "Index out of range"},
        {"len(5)", 6, "Type mismatch in expression"}, {"s[3]", 4, "String subscript out of bounds"},
        {"s[-1]", 5, "String subscript out of bounds"},
        {"n[0]", 4, "Variable not array or string type"},
        {"a", 1, "Variable requires indexing value"}, {"a[3]", 4, "Subscript out of bounds"},
        {"5[1]", 2, "Simple variable required"}, {"a[1", 3, "Missing right bracket"},
        {"a['x']", 6, "Number expected"}, {"unset + 1", 7, "Variable value not set"},
        {"- 'x'", 5, "Number expected"}, {"not 'x'", 7, "Number or logical expected"},
        {"t + 1", 3, "Number or string expected"},
    };
    // clang-format on
    for (const auto& c : cases) {
        std::string out;
        EXPECT_EQ(eval(c.text, &out).type, V_NONE) << c.text;
        EXPECT_EQ(out, std::string(c.column, ' ') + "^\r\n" + c.message + "\r\n") << c.text;
        EXPECT_EQ(inexpr, 0);
        EXPECT_EQ(poolused(), 0) << c.text;
    }
}

TEST_F(Expr, TwentyOnePendingOperandsAreTooComplicated) {
    auto nested = [](int n) {
        std::string s;
        for (int i = 0; i < n; i++)
            s += "1+(";
        return s + "1" + std::string(n, ')');
    };
    std::string out;
    EXPECT_EQ(eval(nested(20), &out).number, 21);
    EXPECT_EQ(out, "");
    EXPECT_EQ(eval(nested(21), &out).type, V_NONE);
    EXPECT_NE(out.find("Expression too complicated\r\n"), std::string::npos);
    // Deep parentheses alone take no slot.
    EXPECT_EQ(eval(std::string(120, '(') + "7" + std::string(120, ')'), &out).number, 7);
    EXPECT_EQ(out, "");
}

TEST_F(Expr, AssignmentTargetsAndTypeChecks) {
    ExprValue t;
    auto target = [&](const char* text) {
        return captured([&] {
            glinep = text;
            lexpr(t, text);
        });
    };
    EXPECT_EQ(target("ABCDEFGHIJ"), "");
    EXPECT_EQ(t.type, V_VAR);
    EXPECT_STREQ(t.var->name, "abcdefghij");
    EXPECT_EQ(target("5"), " ^\r\nSimple or indexed variable required\r\n");
    EXPECT_EQ(t.type, V_NONE);
    // The index of a target is an ordinary expression: unknown names there are errors.
    EXPECT_EQ(target("x[y]"), "    ^\r\nUnknown variable: y\r\n");
    ExprValue v;
    EXPECT_EQ(captured([&] { EXPECT_EQ(strexpr(v, "1"), 0); }), "String expression required\r\n");
    EXPECT_EQ(captured([&] { EXPECT_EQ(numexpr(v, "'a'"), 0); }),
              "Numeric expression required\r\n");
}

TEST_F(Expr, UniqReservesNumberedNames) {
    TempDir d;
    auto uniq = [&](const std::string& pat) {
        const std::string got = eval("uniq('" + d.path().string() + "/" + pat + "')").text;
        return got.empty() ? got : got.substr(d.path().string().size() + 1);
    };
    // Each run takes the next counter value, a lone # is one digit; a name without # is reserved
    // once, and an existing file is never truncated.
    const std::pair<const char*, const char*> rows[] = {
        {"log##", "log00"}, {"log##", "log01"}, {"f#-###.x", "f0-001.x"},
        {"u#", "u0"},       {"u#", "u1"},       {"plain", "plain"},
        {"plain", ""},      {"kept", ""},
    };
    d.write("kept", "data");
    for (const auto& [pat, want] : rows)
        EXPECT_EQ(uniq(pat), want) << pat;
    EXPECT_EQ(d.read("kept"), "data");
    EXPECT_EQ(std::string(eval("uniq('/nonexistent/dir/x#')").text), "");
}

} // namespace
