// The lexer: token classes and values, names, numbers, string escapes.
#include "capture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Tok {
    int op;
    int32_t ival;
    std::string sval;
    bool operator==(const Tok&) const = default;
};

std::vector<Tok> scan(const char* text) {
    std::vector<Tok> out;
    captured([&] {
        glinep = text;
        inexpr = 0;
        lexstart(text);
        for (int i = 0; i < 20 && op != T_END; i++) {
            out.push_back({op, ival, sval});
            etoken();
        }
    });
    return out;
}

struct LexCase {
    const char* text;
    std::vector<Tok> want;
};

TEST(Lex, Tokens) {
    // clang-format off
    const LexCase cases[] = {
        {"\t ABC x_1 _baud", {{T_IDENT, 0, "abc"}, {T_IDENT, 0, "x_1"}, {T_IDENT, 0, "_baud"}}},
        {"True t F", {{T_LOG, -1, "true"}, {T_LOG, -1, "t"}, {T_LOG, 0, "f"}}},
        {"a==b", {{T_IDENT, 0, "a"}, {T_REL, R_EQ, ""}, {T_REL, R_EQ, ""}, {T_IDENT, 0, "b"}}},
        {"12g 0x 0xff 1x0 0x1fx 4294967296", {{T_NUM, 12, ""}, {T_IDENT, 0, "g"},
            {T_NUM, 0, ""}, {T_NUM, 255, ""}, {T_NUM, 16, ""}, {T_NUM, 31, ""},
            {T_IDENT, 0, "x"}, {T_NUM, 0, ""}}},
        {"\"ab^Mc\" 'a''b'", {{T_STR, 0, "ab\rc"}, {T_STR, 0, "a"}, {T_STR, 0, "b"}}},
        {"'\\x4' '\\x41g' '\\101' '\\7x'", {{T_STR, 0, "\x04"}, {T_STR, 0, "Ag"},
            {T_STR, 0, "A"}, {T_STR, 0, "\x07x"}}},
        {"'\\b\\e\\f\\n\\r\\t\\v\\N'", {{T_STR, 0, "\b\x1b\f\n\r\t\v\n"}}},
        {"'\\\"\\'\\-\\\\\\^'", {{T_STR, 0, "\"'-\\^"}}},
        {"'^[^@x'", {{T_STR, 0, "\x1b"}}},
    };
    // clang-format on
    for (const LexCase& c : cases)
        EXPECT_EQ(scan(c.text), c.want) << c.text;
}

TEST(Lex, ErrorsOutsideAnEvaluationEndTheLine) {
    // clang-format off
    const struct { const char* text; const char* out; } cases[] = {
        {"abcdefghijk", "           ^\r\nVariable name too long\r\n"},
        {"12ab", "   ^\r\nBad number\r\n"},
        {"x {", "   ^\r\nInvalid expression\r\n"},
        {"'abc", "    ^\r\nBadly formed string\r\n"},
        {"'\\q'", "   ^\r\nBadly formed string\r\n"},
        {"'a^'", "   ^\r\nBadly formed string\r\n"},
        {"\x80", "    ^\r\nInvalid expression\r\n"}, // shown as \x80
    };
    // clang-format on
    for (const auto& c : cases) {
        std::string out = captured([&] {
            glinep = c.text;
            lexstart(c.text);
            while (op != T_END)
                etoken();
        });
        EXPECT_EQ(out, c.out) << c.text;
    }
}

TEST(Lex, EscapeDecoder) {
    char out[8];
    EXPECT_EQ(cvtstr("ab^A\\x7e", out, sizeof out), 4);
    EXPECT_STREQ(out, "ab\x01~");
    // Output is cut to the buffer.
    EXPECT_EQ(cvtstr("0123456789", out, sizeof out), 7);
    EXPECT_STREQ(out, "0123456");
    EXPECT_EQ(cvtstr("a^", out, sizeof out), -1);
    EXPECT_EQ(cvtstr("\\z", out, sizeof out), -1);
    const char* p = "abc' rest";
    EXPECT_EQ(scanstr(p, '\'', out, sizeof out), 3);
    EXPECT_STREQ(p, " rest");
}

} // namespace
