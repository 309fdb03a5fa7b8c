// Scrollback end to end, with tmux as the user's terminal: a shell on the pty line prints 2,000
// lines, the user reviews back with the scroll key, searches for a line, returns by typing, and
// after the window is resized the scrollback is still there. tmux's capture-pane is the judge.
#include "support/harness.h"
#include "support/tmux.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {
bool isnum(const std::string& s, int* v) {
    if (s.empty() || s.find_first_not_of("0123456789") != std::string::npos) return false;
    *v = std::stoi(s);
    return true;
}
} // namespace

TEST(ScrollbackThroughTmux, ReviewSearchReturnAndResize) {
    TempDir dir;
    std::ifstream tc(std::string(VORN_SOURCE_DIR) + "/data/termcap.qal");
    dir.write("termcap.qal", std::string(std::istreambuf_iterator<char>(tc), {}));
    dir.write(".vornrc", "scrollback 3000\n");
    Tmux t(dir);
    const std::string d = dir.path().string();
    t.open(80, 24,
           "env -u TERMCAP HOME='" + d + "' VORNDIR='" + d + "' TERM=tmux-256color PS1='$ ' " +
               VORN_BINARY + " -m -l pty:sh");
    ASSERT_TRUE(t.shows("$")) << t.shown();
    t.keys("'seq 1 2000' Enter");
    int top = 0;
    ASSERT_TRUE(t.until([&](auto r) {
        for (size_t i = 0; i + 1 < r.size(); i++)
            if (r[i] == "2000" && r[i + 1].find('$') != std::string::npos) return isnum(r[0], &top);
        return false;
    })) << t.shown();

    // Three rows back, one at a time: the rows above the old top come in at the top.
    t.keys("C-Down C-Down C-Down");
    EXPECT_TRUE(t.until([&](auto r) {
        int v;
        return r.size() > 3 && isnum(r[0], &v) && v == top - 3 && r[3] == std::to_string(top);
    })) << t.shown();

    // Search back for a line: it shows at the top.
    t.keys("/ 1234 Enter");
    EXPECT_TRUE(t.until([](auto r) { return !r.empty() && r[0] == "1234" && r[1] == "1235"; }))
        << t.shown();

    // Typing returns to the live screen: the shell answers with a new prompt under 2000.
    t.keys("Enter");
    EXPECT_TRUE(t.until([](auto r) {
        for (size_t i = 0; i + 2 < r.size(); i++)
            if (r[i] == "2000" && r[i + 1].find('$') != std::string::npos &&
                r[i + 2].find('$') != std::string::npos)
                return true;
        return false;
    })) << t.shown();

    // A bigger window, while the scrollback is shown, keeps the scrollback.
    t.keys("C-Down");
    run(t.tmux() + " resize-window -x 100 -y 30");
    EXPECT_TRUE(t.until([](auto r) { return r.size() == 30; })) << t.shown();
    t.keys("C-Down");
    t.keys("/ 1500 Enter");
    EXPECT_TRUE(t.until([](auto r) { return !r.empty() && r[0] == "1500"; })) << t.shown();
    t.keys("Enter");
}
