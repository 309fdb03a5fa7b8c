// A shell on a pty line in a UTF-8 locale: the program opens in XTERM, real programs' UTF-8
// and colours reach the screen, the alternate screen gives the shell's screen back, and the
// window size reaches the program, first and after a resize. Judged by libvterm with UTF-8 on.
#include "support/harness.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The program in terminal mode, XTERM in a UTF-8 locale, on a pty line that runs `script`
// under /bin/sh and then idles so the line stays open; `files` are more files for the script.
VornRun shellrun(const std::string& script, std::map<std::string, std::string> files = {},
                 int rows = 30, int cols = 100) {
    files["line.sh"] = script + "while :; do sleep 0.1; done\n";
    return VornRun({"-m", "-l", "pty:/bin/sh line.sh"}, {.term = "xterm-256color",
                                                         .rows = rows,
                                                         .cols = cols,
                                                         .env = {{"LANG", "C.UTF-8"}},
                                                         .files = std::move(files)});
}

// The column where `text` starts on row r of the judge, counting cells, or -1.
int findcol(const VtJudge& j, int r, const std::string& text) {
    for (int c = 0; c < 100; c++) {
        std::string s;
        for (int k = c; k < 100 && s.size() < text.size(); k++)
            s += j.cell(r, k).text;
        if (s == text) return c;
    }
    return -1;
}

} // namespace

TEST(XtermE2E, UnicodeColourSizeAndResizeReachTheScreenAndTheProgram) {
    const std::string script = "printf 'TERM=%s SIZE=%s\\n' \"$TERM\" \"$(stty size)\"\n"
                               "printf 'caf\\303\\251 \\346\\227\\245\\346\\234\\254 e\\314\\201 "
                               "\\033[38;5;196mred\\033[m \\033[48;2;0;95;215mdeep\\033[m end\\n'\n"
                               "trap 'printf \"NEWSIZE=%s\\\\n\" \"$(stty size)\"' WINCH\n";
    VornRun run = shellrun(script);
    ASSERT_TRUE(run.waitFor("TERM=xterm-256color SIZE=30 100"));
    ASSERT_TRUE(run.waitFor("caf\u00e9 \u65e5\u672c e\u0301 red deep end"));
    const VtJudge& j = run.judge();
    int r = 0, c = -1;
    for (; r < j.rows() && c < 0; r++)
        c = findcol(j, r, "red");
    r--;
    ASSERT_GE(c, 0) << run.screen();
    EXPECT_EQ(j.cell(r, c).fg, 196);
    EXPECT_EQ(j.cell(r, c - 2).fg, -1); // the space before: default, not a painted colour
    int d = findcol(j, r, "deep");
    ASSERT_GE(d, 0);
    EXPECT_EQ(j.cell(r, d).bg, 26); // no 24-bit console (COLORTERM): the nearest of its 256
    EXPECT_EQ(j.cell(r, d + 4).bg, -1);
    run.resize(40, 120);
    EXPECT_TRUE(run.waitFor("NEWSIZE=40 120"));
}

// less switches to the alternate screen and back: the shell's lines are there again after it.
TEST(XtermE2E, AlternateScreenGivesTheShellScreenBack) {
    std::string lines;
    for (int i = 1; i <= 200; i++)
        lines += "paged line " + std::to_string(i) + "\n";
    const std::string script = "echo MAIN-BEFORE\n"
                               "read go\n"
                               "less pages.txt\n"
                               "echo MAIN-AFTER\n";
    VornRun run = shellrun(script, {{"pages.txt", lines}}, 24, 80);
    ASSERT_TRUE(run.waitFor("MAIN-BEFORE"));
    run.type("\r");
    ASSERT_TRUE(run.waitFor("paged line 1"));
    run.type("q");
    ASSERT_TRUE(run.waitFor("MAIN-AFTER"));
    EXPECT_TRUE(run.judge().contains("MAIN-BEFORE")) << run.screen();
    EXPECT_FALSE(run.judge().contains("paged line 2")) << run.screen();
}

// A console asked for bracketed paste and SGR mouse reports sends them as key input; they reach
// the program on the line unchanged, as a paste and as clicks it can read.
TEST(XtermE2E, BracketedPasteAndMouseReportsReachTheProgram) {
    const std::string script = "stty raw -echo\n"
                               "printf '\\033[?2004h\\033[?1000h\\033[?1006hREADY\\n'\n"
                               "dd bs=1 count=33 of=got 2>/dev/null\n"
                               "echo GOT\n";
    VornRun run = shellrun(script);
    ASSERT_TRUE(run.waitFor("READY"));
    EXPECT_NE(run.output().find("\033[?2004h"), std::string::npos);
    EXPECT_NE(run.output().find("\033[?1006h"), std::string::npos);
    const std::string keys = "\033[200~a\nb\033[201~\033[<0;5;3M\033[<0;5;3m"; // 33 bytes
    run.type(keys);
    bool got = run.waitFor("GOT");
    EXPECT_EQ(run.dir().read("got"), keys);
    ASSERT_TRUE(got);
}
