// The console formatter: conversions, widths, readable key forms and where the text goes.
#include <gtest/gtest.h>

#include "core/fmt.h"
#include "core/start.h"
#include "ports/com.h"
#include "script/cmd.h"
#include "script/lex.h"
#include "support/console_fixture.h"

#include <climits>
#include <string>

TEST(Format, Conversions) {
    // clang-format off
    const std::pair<std::string, std::string> rows[] = {
        {sfmt("%d", INT_MIN), "-2147483648"},     {sfmt("%ld", long{INT_MIN}), "-2147483648"},
        {sfmt("%l|", 5L), "5|"},                  {sfmt("%lu", 5L), "5u"},
        {sfmt("%u", 4294967295U), "4294967295"},  {sfmt("%2d", 12345), "12"},
        {sfmt("%5d", -42), "  -42"},              {sfmt("%-5d|", 42), "42   |"},
        {sfmt("%0d", 12345), "12345"},            {sfmt("%3ld", 98765L), "987"},
        {sfmt("%x", 0x1234), "34"},               {sfmt("%x", 5), "05"},
        {sfmt("%X", 0xa), "000a"},                {sfmt("%lx", -1L), "ffffffff"},
        {sfmt("%5x", 0xab), "ab"},                {sfmt("%5s", "ab"), "   ab"},
        {sfmt("%-5s|", "ab"), "ab   |"},          {sfmt("%3s", "abcdef"), "abc"},
        {sfmt("%s", static_cast<const char*>(nullptr)), "(null)"},
        {sfmt("%5c", 'x'), "x"},                  {sfmt("%q%d", 9), "9"},
        {sfmt("100%%"), "100"},                   {sfmt("x%"), "x"},
        {sfmt("x%-"), "x"},                       {sfmt("x%12"), "x"},
        {std::to_string(sfmt("%99999999999s", "a").size()), "1024"},
        {sfmt("%s=%d (%x)\r\n", "n", 255, 255), "n=255 (ff)\r\n"},
    };
    // clang-format on
    for (const auto& [got, want] : rows)
        EXPECT_EQ(got, want);
}

TEST(Format, KeyForms) {
    dupmode = 1;
    // Where two names share a code, the table's order decides (C-HOME, PGUP, C-KP*).
    // clang-format off
    struct { const char* conv; int code; const char* want; } rows[] = {
        {"kk", 256, "F1"},     {"kk", 275, "F20"},   {"kk", 320, "C-UP"},    {"kk", 297, "C-HOME"},
        {"kk", 296, "PGUP"},   {"kk", 276, "UP"},    {"kk", 294, "KPENTER"}, {"kk", 313, "C-KP*"},
        {"kk", 409, "ALTA"},   {"kk", 434, "ALTZ"},  {"kk", 435, "ALT1"},    {"kk", 329, "SF1"},
        {"kk", 368, "CF20"},   {"kk", 371, "AF3"},   {"kk", 389, "CSF1"},    {"kk", 318, "SCRLOCK"},
        {"kk", -1, "NONE"},    {"kk", 0, "^@"},      {"kk", 13, "ENTER"},    {"kk", 27, "ESC"},
        {"kk", 9, "TAB"},      {"kk", 127, "^?"},    {"kk", 'a', "a"},       {"kk", 0xe9, "\xe9"},
        {"km", 155, "+<ESC>"}, {"km", 19, "<XOF>"},  {"km", 127, "<DEL>"},   {"km", 'A', "A"},
        {"kc", 155, "+^["},    {"kc", 127, "^?"},    {"kd", 27, "1b "},      {"kd", 0x1ff, "ff "},
    };
    // clang-format on
    for (auto& r : rows)
        EXPECT_EQ(sfmt(("%" + std::string(r.conv)).c_str(), r.code), r.want) << r.conv << r.code;
    EXPECT_EQ(sfmt("a%k", 27), "a") << "%k at the end takes its code and stops";
    // Any other letter after %k takes the form of the duplex mode: dumps 3 to 6, else nothing.
    const char* bymode[] = {"", "", "", "1b ", "<ESC>", "^[", "ESC"};
    for (int mode = 0; mode <= 6; mode++) {
        dupmode = mode;
        EXPECT_EQ(sfmt("%kv", 27), bymode[mode]) << mode;
    }
    dupmode = 1;
}

TEST(Format, MessagesReachTheConsoleThroughTheEmulator) {
    ConsoleFixture f(false);
    EXPECT_EQ(zzprintf("%s %d\r\n", "ok", 1), 6);
    EXPECT_EQ(aberr("bad %s\r\n", "thing"), 1);
    EXPECT_EQ(expaberr("Filename"), 1);
    EXPECT_EQ(nomemory(4), 1);
    outprec("ab", 4, 1);
    outprec("ab", 4, 0);
    EXPECT_EQ(f.output(), "ok 1\r\nbad thing\r\nFilename expected\r\n"
                          "\aOut of RAM memory (Error #4)\r\nab    ab");
}

TEST(Format, NumaberrShowsLineCaretAndMessage) {
    ConsoleFixture f(false);
    static const char line[] = "setvar x 5 + 'a'";
    glinep = line;
    linep = line + 13;
    flevel = 1;
    inexpr = 0;
    EXPECT_EQ(numaberr("Unknown variable: %s", "zz"), 1);
    echoflag = 1; // the line was already echoed
    numaberr("Divide by zero error", nullptr);
    echoflag = 0;
    flevel = 0; // typed at the prompt
    linep = line + 2;
    numaberr("Number expected", nullptr);
    inexpr = 1; // inside an evaluation the error leaves it
    EXPECT_THROW(numaberr("Invalid expression", nullptr), ExprError);
    inexpr = 0;
    glinep = linep = "";
    EXPECT_EQ(f.output(), "setvar x 5 + 'a'\r\n             ^\r\nUnknown variable: zz\r\n"
                          "             ^\r\nDivide by zero error\r\n"
                          "  ^\r\nNumber expected\r\n"
                          "  ^\r\nInvalid expression\r\n");
}

TEST(Format, AberrInServerModeGoesToTheLine) {
    ConsoleFixture f;
    xflag = 1;
    EXPECT_EQ(aberr("No such file: %s\r\n", "x"), 1);
    zzprintf("to the console\r\n"); // only errors are redirected
    EXPECT_EQ(f.received(17), "No such file: x\r\n");
    EXPECT_EQ(f.output(), "to the console\r\n");
}
