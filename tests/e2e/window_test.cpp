// Window sizes as people have them, with the shipped console descriptions: the console's size
// is the window's, the emulated screen keeps its own size inside it (24 x 80 for VT100, every
// row for TTY), the program on a pseudo-terminal line is told the emulated size, and a window
// that changes size while a session runs is redrawn and, where the emulated size follows it,
// the program is told.
#include "support/harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

const std::string shipped = std::string(VORN_SOURCE_DIR) + "/data/termcap.qal";

RunOptions shell(int rows, int cols) {
    return {.rows = rows,
            .cols = cols,
            .env = {{"TERMCAP", shipped}, {"SHELL", "/bin/sh"}, {"PS1", "ready$ "}}};
}

// Prints "line<from+1>".."line<n>" and then the size the program on the line was told.
std::string lines(int n, int from = 0) {
    return "i=" + std::to_string(from) + "; while [ $i -lt " + std::to_string(n) +
           " ]; do i=$((i+1)); echo line$i; done; stty size\r";
}

// The emulated screen of `erows` rows ends with the lines up to `last`, the size the shell
// reported and the prompt; every console row below the emulated screen is empty.
void expectBottom(const VornRun& run, int erows, int last, const std::string& what) {
    const VtJudge& j = run.judge();
    EXPECT_EQ(j.row(erows - 1), "ready$") << what << "\n" << run.screen();
    EXPECT_EQ(j.row(erows - 2), std::to_string(erows) + " 80") << what;
    for (int k = 0; k < 5; k++)
        EXPECT_EQ(j.row(erows - 3 - k), "line" + std::to_string(last - k)) << what << " " << k;
    for (int r = erows; r < j.rows(); r++)
        EXPECT_EQ(j.row(r), "") << what << " row " << r;
}

} // namespace

TEST(Window, EveryEmulatedSizeIsDrawnInPlaceAtCommonWindowSizes) {
    // 30x100 and 43x132 are reached by the resizing test below, which draws there too.
    const struct { int rows, cols; } sizes[] = {{24, 80}, {60, 200}};
    const struct {
        const char *option, *name;
        bool allrows; // the emulated screen takes every console row
    } emulations[] = {{"-v", "VT100", false}, {"-f", "TTY", true}};
    for (const auto& s : sizes) {
        for (const auto& e : emulations) {
            const std::string what =
                std::string(e.name) + " " + std::to_string(s.cols) + "x" + std::to_string(s.rows);
            VornRun run({e.option, "-l", "pty:/bin/sh"}, shell(s.rows, s.cols));
            ASSERT_TRUE(run.waitFor("ready$")) << what;
            const int erows = e.allrows ? std::min(s.rows, 66) : 24;
            run.type(lines(70));
            ASSERT_TRUE(run.waitFor(std::to_string(erows) + " 80")) << what << "\n" << run.screen();
            run.settle();
            expectBottom(run, erows, 70, what);
        }
    }
}

TEST(Window, ARunningSessionFollowsTheWindowAsItChangesSize) {
    // TTY takes every row: the program is told each new size. VT100 stays 24 x 80 in any window.
    const struct {
        const char* option;
        bool follows;
    } cases[] = {{"-f", true}, {"-v", false}};
    const struct { int rows, cols; } steps[] = {{30, 100}, {43, 132}, {26, 80}};
    for (const auto& c : cases) {
        VornRun run({c.option, "-l", "pty:/bin/sh"}, shell(24, 80));
        ASSERT_TRUE(run.waitFor("ready$"));
        run.type(lines(30));
        ASSERT_TRUE(run.waitFor("24 80"));
        run.settle();
        int last = 30;
        int erows = 24;
        for (const auto& s : steps) {
            const std::string what = std::string(c.option) + " to " + std::to_string(s.cols) + "x" +
                                     std::to_string(s.rows);
            const int before = erows;
            std::vector<std::string> shown;
            for (int r = 0; r < before; r++)
                shown.push_back(run.judge().row(r));
            run.resize(s.rows, s.cols);
            erows = c.follows ? s.rows : 24;
            run.settle();
            // Redrawn without garbage: what was shown is still there (a shorter window keeps
            // the rows nearest the cursor) and nothing else is.
            const int lost = std::max(before - erows, 0);
            for (int r = lost; r < before; r++)
                EXPECT_EQ(run.judge().row(r - lost), shown[r]) << what << " row " << r;
            for (int r = before - lost; r < s.rows; r++)
                EXPECT_EQ(run.judge().row(r), "") << what << " row " << r << "\n" << run.screen();
            // The program on the line sees the emulated size, and the screen fills to its end.
            last += 30;
            run.type(lines(last, last - 30));
            ASSERT_TRUE(run.waitFor("line" + std::to_string(last))) << what;
            run.settle();
            expectBottom(run, erows, last, what);
        }
    }
}
