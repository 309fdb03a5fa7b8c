// XTERM end to end with tmux as the user's terminal (tmux-256color, C.UTF-8): vim opens a UTF-8
// file over the shell's screen, takes a bracketed paste as a paste, a click where it asked for
// the mouse, follows a resize, and quitting gives the shell's screen back. tmux's capture-pane
// is the judge.
#include "support/harness.h"
#include "support/tmux.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

namespace {
bool has(const std::vector<std::string>& rows, const std::string& text) {
    for (const auto& r : rows)
        if (r.find(text) != std::string::npos) return true;
    return false;
}
} // namespace

TEST(XtermThroughTmux, VimPasteClickResizeAndBack) {
    TempDir dir;
    std::ifstream tc(std::string(VORN_SOURCE_DIR) + "/data/termcap.qal");
    dir.write("termcap.qal", std::string(std::istreambuf_iterator<char>(tc), {}));
    dir.write("u.txt", "caf\u00e9 \u65e5\u672c\n");
    Tmux t(dir);
    const std::string d = dir.path().string();
    run(t.tmux() + " new-session -d -c '" + d + "' -x 80 -y 24 \"env -u TERMCAP HOME='" + d +
        "' VORNDIR='" + d + "' LANG=C.UTF-8 TERM=tmux-256color PS1='$ ' " + VORN_BINARY +
        " -m -l pty:sh\"");
    ASSERT_TRUE(t.until([](auto r) { return has(r, "$"); })) << t.shown();
    t.keys("'echo SHELL-LINE' Enter");
    ASSERT_TRUE(t.until([](auto r) { return has(r, "SHELL-LINE"); })) << t.shown();
    t.keys("'vim -u NONE -N -c \"set mouse=a ttymouse=sgr ruler\" u.txt' Enter");
    ASSERT_TRUE(t.until([](auto r) {
        return has(r, "caf\u00e9 \u65e5\u672c") && !has(r, "SHELL-LINE");
    })) << t.shown();

    // Pasted in normal mode, the lines are text, not commands.
    run(t.tmux() + " set-buffer 'PASTED-A\nPASTED-B' \\; paste-buffer -p");
    ASSERT_TRUE(t.until([](auto r) {
        return !r.empty() && r[0] == "PASTED-A" && r.size() > 1 && r[1].find("PASTED-B") == 0;
    })) << t.shown();

    // A click (as the console reports it) moves vim's cursor to row 2, column 5.
    t.keys("Escape");
    t.keys("-l \"$(printf '\\033[<0;5;2M\\033[<0;5;2m')\"");
    EXPECT_TRUE(t.until([](auto r) {
        return !r.empty() && r.back().find("2,5") != std::string::npos;
    })) << t.shown();

    run(t.tmux() + " resize-window -x 100 -y 30");
    t.keys("':echo &columns .. \"x\" .. &lines' Enter");
    EXPECT_TRUE(t.until([](auto r) { return has(r, "100x30"); })) << t.shown();

    t.keys("':q!' Enter");
    EXPECT_TRUE(t.until([](auto r) { return has(r, "SHELL-LINE") && !has(r, "PASTED-A"); }))
        << t.shown();
}
