#pragma once
// Captures what the program writes to the console (through the console writer) while a piece of
// script code runs, resets the script state between tests, and plays command lines against what
// they must return and print.
#include "core/fmt.h"
#include "core/start.h"
#include "screen/display.h"
#include "script/cmd.h"
#include "script/lex.h"
#include "script/var.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

inline std::string captured(const std::function<void()>& run) {
    oflush();
    std::string out;
    setconswriter([&](const char* p, size_t n) { out.append(p, n); });
    run();
    oflush();
    setconswriter(nullptr);
    return out;
}

// Power-on state of every piece of the script language a test may touch.
inline void scriptreset() {
    varreset();
    cmdreset();
    inexpr = inlexpr = 0;
    glinep = "";
    linep = "";
    gnextc = 0;
}

// Script state at power-on around each test, with no console to look at between lines (listings
// and running files look for the abort key).
class ScriptTest : public ::testing::Test {
  protected:
    void SetUp() override { scriptreset(), qflag = 1; }
    void TearDown() override { scriptreset(), qflag = 0; }
};

struct Line {
    std::string line;
    int rc;
    std::string out;
};

// Runs one line through the dispatcher: its return code, and in *out what it printed.
inline int runline(const std::string& line, std::string* out = nullptr) {
    int rc = -1;
    std::string o = captured([&] { rc = docmd(line.c_str()); });
    if (out) *out = o;
    return rc;
}

// Runs each line: its return code and everything it printed.
inline void play(const std::vector<Line>& lines) {
    for (const Line& l : lines) {
        std::string out;
        EXPECT_EQ(runline(l.line, &out), l.rc) << l.line;
        EXPECT_EQ(out, l.out) << l.line;
    }
}
