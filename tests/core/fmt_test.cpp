// The console formatter: conversions, widths, readable key forms and where the text goes.
#include <gtest/gtest.h>

#include "core/fmt.h"
#include "core/start.h"
#include "ports/com.h"
#include "screen/display.h"
#include "script/cmd.h"
#include "script/lex.h"

#include <climits>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

struct Case {
    const char* what;
    std::string got;
    std::string want;
};

void check(const std::vector<Case>& cases) {
    for (const Case& c : cases)
        EXPECT_EQ(c.got, c.want) << c.what;
}

// Collects everything the console driver writes while alive.
struct Capture {
    std::string bytes;
    Capture() {
        oflush();
        setconswriter([this](const char* p, size_t n) { bytes.append(p, n); });
    }
    ~Capture() {
        oflush();
        setconswriter({});
    }
    std::string take() {
        oflush();
        std::string s;
        s.swap(bytes);
        return s;
    }
};

TEST(Format, NumbersAndWidths) {
    check({
        {"plain", sfmt("abc\r\n"), "abc\r\n"},
        {"%d", sfmt("%d", 42), "42"},
        {"%d zero", sfmt("%d", 0), "0"},
        {"%d negative", sfmt("%d", -7), "-7"},
        {"%d most negative", sfmt("%d", INT_MIN), "-2147483648"},
        {"%ld most negative 32-bit", sfmt("%ld", static_cast<long>(INT_MIN)), "-2147483648"},
        {"%ld", sfmt("%ld", 123456789L), "123456789"},
        {"%l alone", sfmt("%l|", 5L), "5|"},
        {"%lu keeps u", sfmt("%lu", 5L), "5u"},
        {"%u", sfmt("%u", 4294967295U), "4294967295"},
        {"%2d cuts", sfmt("%2d", 12345), "12"},
        {"%5d pads", sfmt("%5d", -42), "  -42"},
        {"%-5d pads right", sfmt("%-5d|", 42), "42   |"},
        {"%0d no width", sfmt("%0d", 12345), "12345"},
        {"%3ld cuts", sfmt("%3ld", 98765L), "987"},
        {"%4u", sfmt("%4u", 7U), "   7"},
        {"%x low byte", sfmt("%x", 0x1234), "34"},
        {"%x zero-filled", sfmt("%x", 5), "05"},
        {"%X", sfmt("%X", 0x1234), "1234"},
        {"%X small", sfmt("%X", 0xa), "000a"},
        {"%lx", sfmt("%lx", 0x1234L), "00001234"},
        {"%lx negative", sfmt("%lx", -1L), "ffffffff"},
        {"%5x ignores width", sfmt("%5x", 0xab), "ab"},
    });
}

TEST(Format, StringsAndOddities) {
    check({
        {"%s", sfmt("%s", "ab"), "ab"},
        {"%5s", sfmt("%5s", "ab"), "   ab"},
        {"%-5s", sfmt("%-5s|", "ab"), "ab   |"},
        {"%3s cuts", sfmt("%3s", "abcdef"), "abc"},
        {"%s null", sfmt("%s", static_cast<const char*>(nullptr)), "(null)"},
        {"%c", sfmt("[%c]", 'x'), "[x]"},
        {"%5c ignores width", sfmt("%5c", 'x'), "x"},
        {"unknown letter prints nothing, takes nothing", sfmt("%q%d", 9), "9"},
        {"%% prints nothing", sfmt("100%%"), "100"},
        {"ends in %", sfmt("x%"), "x"},
        {"ends in %-", sfmt("x%-"), "x"},
        {"ends in %12", sfmt("x%12"), "x"},
        {"huge width is bounded", std::to_string(sfmt("%99999999999s", "a").size()), "1024"},
        {"mixed", sfmt("%s=%d (%x)\r\n", "n", 255, 255), "n=255 (ff)\r\n"},
    });
}

TEST(Format, KeyForms) {
    dupmode = 1;
    check({
        {"%kk F1", sfmt("%kk", 256), "F1"},
        {"%kk F20", sfmt("%kk", 275), "F20"},
        {"%kk C-UP", sfmt("%kk", 320), "C-UP"},
        {"%kk 297 control of home first", sfmt("%kk", 297), "C-HOME"},
        {"%kk 296 PGUP before PREV", sfmt("%kk", 296), "PGUP"},
        {"%kk UP", sfmt("%kk", 276), "UP"},
        {"%kk KPENTER", sfmt("%kk", 294), "KPENTER"},
        {"%kk C-PRINT before C-KP*", sfmt("%kk", 313), "C-KP*"},
        {"%kk ALTK", sfmt("%kk", 419), "ALTK"},
        {"%kk ALTA", sfmt("%kk", 409), "ALTA"},
        {"%kk ALTZ", sfmt("%kk", 434), "ALTZ"},
        {"%kk ALT1", sfmt("%kk", 435), "ALT1"},
        {"%kk SF1", sfmt("%kk", 329), "SF1"},
        {"%kk CF20", sfmt("%kk", 368), "CF20"},
        {"%kk AF3", sfmt("%kk", 371), "AF3"},
        {"%kk CSF1", sfmt("%kk", 389), "CSF1"},
        {"%kk K-number", sfmt("%kk", 318), "SCRLOCK"},
        {"%kk NONE", sfmt("%kk", -1), "NONE"},
        {"%kk 0", sfmt("%kk", 0), "^@"},
        {"%kk 3", sfmt("%kk", 3), "^C"},
        {"%kk ENTER", sfmt("%kk", 13), "ENTER"},
        {"%kk ESC", sfmt("%kk", 27), "ESC"},
        {"%kk TAB", sfmt("%kk", 9), "TAB"},
        {"%kk DEL char", sfmt("%kk", 127), "^?"},
        {"%kk letter", sfmt("%kk", 'a'), "a"},
        {"%kk high byte as is", sfmt("%kk", 0xe9), "\xe9"},
        {"%km ESC", sfmt("%km", 27), "<ESC>"},
        {"%km 155", sfmt("%km", 155), "+<ESC>"},
        {"%km TAB", sfmt("%km", 9), "<TAB>"},
        {"%km XOF", sfmt("%km", 19), "<XOF>"},
        {"%km DEL", sfmt("%km", 127), "<DEL>"},
        {"%km char", sfmt("%km", 'A'), "A"},
        {"%kc 155", sfmt("%kc", 155), "+^["},
        {"%kc 127", sfmt("%kc", 127), "^?"},
        {"%kc 1", sfmt("%kc", 1), "^A"},
        {"%kd 27", sfmt("%kd", 27), "1b "},
        {"%kd low byte", sfmt("%kd", 0x1ff), "ff "},
    });
}

TEST(Format, KeyFormFollowsDuplexMode) {
    // clang-format off
    struct { int mode; std::string want; } rows[] = {
        {3, "1b "}, {4, "<ESC>"}, {5, "^["}, {6, "ESC"}, {1, ""}, {0, ""},
    };
    // clang-format on
    for (auto& r : rows) {
        dupmode = r.mode;
        EXPECT_EQ(sfmt("%kv", 27), r.want) << r.mode;
    }
    dupmode = 1;
    EXPECT_EQ(sfmt("a%k", 27), "a") << "%k at the end takes its code and stops";
}

TEST(Format, ChnameOverwritesOneBuffer) {
    const char* a = chname(256, 6);
    EXPECT_STREQ(a, "F1");
    const char* b = chname(257, 6);
    EXPECT_EQ(a, b);
    EXPECT_STREQ(a, "F2");
    EXPECT_STREQ(chname(65, 7), "");
}

TEST(Format, NumberHelpers) {
    char buf[32];
    EXPECT_STREQ(itoa(0, buf), "0");
    EXPECT_STREQ(itoa(-305, buf), "-305");
    EXPECT_STREQ(itoa(INT_MIN, buf), "-2147483648");
    EXPECT_STREQ(ltoa(2147483647L, buf), "2147483647");
    EXPECT_STREQ(htoa(0xbeef, 4, buf), "beef");
    EXPECT_STREQ(htoa(0xbeef, 2, buf), "ef");
    EXPECT_STREQ(htoa(0x1, 8, buf), "00000001");
    memset(buf, 'Z', sizeof buf);
    char* end = pitoa(42, buf, 5);
    EXPECT_EQ(std::string(buf, end), "00042");
    EXPECT_EQ(*end, 'Z') << "pitoa writes no terminator";
    end = pitoa(123456, buf, 3);
    EXPECT_EQ(std::string(buf, end), "123456");
}

TEST(Format, MessagesReachTheConsoleThroughTheEmulator) {
    Capture cap;
    EXPECT_EQ(zzprintf("%s %d\r\n", "ok", 1), 6);
    EXPECT_EQ(cap.take(), "ok 1\r\n");
    EXPECT_EQ(eprintf("%kk", 256), 2);
    EXPECT_EQ(cap.take(), "F1");
    EXPECT_EQ(aberr("bad %s\r\n", "thing"), 1);
    EXPECT_EQ(cap.take(), "bad thing\r\n");
    EXPECT_EQ(expaberr("Filename"), 1);
    EXPECT_EQ(cap.take(), "Filename expected\r\n");
    EXPECT_EQ(nomemory(4), 1);
    EXPECT_EQ(cap.take(), "\aOut of RAM memory (Error #4)\r\n");
    outs("plain");
    EXPECT_EQ(cap.take(), "plain");
    outprec("ab", 4, 1);
    outprec("ab", 4, 0);
    EXPECT_EQ(cap.take(), "ab    ab");
}

TEST(Format, NumaberrShowsLineCaretAndMessage) {
    Capture cap;
    static const char line[] = "setvar x 5 + 'a'";
    glinep = line;
    linep = line + 13;
    flevel = 1;
    echoflag = 0;
    inexpr = 0;
    EXPECT_EQ(numaberr("Unknown variable: %s", "zz"), 1);
    EXPECT_EQ(cap.take(), "setvar x 5 + 'a'\r\n             ^\r\nUnknown variable: zz\r\n");
    echoflag = 1; // the line was already echoed
    numaberr("Divide by zero error", nullptr);
    EXPECT_EQ(cap.take(), "             ^\r\nDivide by zero error\r\n");
    echoflag = 0;
    flevel = 0; // typed at the prompt
    linep = line + 2;
    numaberr("Number expected", nullptr);
    EXPECT_EQ(cap.take(), "  ^\r\nNumber expected\r\n");
    inexpr = 1; // inside an evaluation the error leaves it
    EXPECT_THROW(numaberr("Invalid expression", nullptr), ExprError);
    EXPECT_EQ(cap.take(), "  ^\r\nInvalid expression\r\n");
    inexpr = 0;
    glinep = linep = "";
}

TEST(Format, AberrInServerModeGoesToTheLine) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    Capture cap;
    int savefd = comfd;
    comfd = fds[1];
    xflag = 1;
    qflag = 0;
    EXPECT_EQ(aberr("No such file: %s\r\n", "x"), 1);
    zzprintf("to the console\r\n"); // only errors are redirected
    xflag = 0;
    comfd = savefd;
    close(fds[1]);
    char buf[64] = {};
    ssize_t n = read(fds[0], buf, sizeof buf - 1);
    close(fds[0]);
    EXPECT_EQ(std::string(buf, n > 0 ? static_cast<size_t>(n) : 0), "No such file: x\r\n");
    EXPECT_EQ(cap.take(), "to the console\r\n");
}

} // namespace
