// Operating-system and console commands of scripts: names reach the system as one argument,
// nothing on disk is replaced unasked, and files are shown as text.
#include "capture.h"

#include "core/start.h"
#include "script/settab.h"
#include "support/console_fixture.h"
#include "support/harness.h"
#include "support/portsupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class Action : public ScriptTest {
  protected:
    TempDir d;
    InDir in{d};
};

TEST_F(Action, FileCommandsKeepWhatIsOnDisk) {
    d.write("a", "alpha");
    d.write("b", "beta");
    // clang-format off
    play({
        {"mkdir 'x;touch y'", RC_OK, ""},
        {"mkdir 'x;touch y'", RC_ERROR, "Can't make directory: x;touch y\r\n"},
        {"cd 'x;touch y'", RC_OK, ""},
        {"cd ..", RC_OK, ""},
        {"rmdir 'x;touch y'", RC_OK, ""},
        {"rmdir nothere", RC_ERROR, "Can't remove directory: nothere\r\n"},
        {"cd nothere", RC_ERROR, "Can't change directory to nothere\r\n"},
        {"copy a b", RC_ERROR, "Can't create b\r\n"},
        {"copy a b(a)", RC_OK, ""},
        {"copy a c", RC_OK, ""},
        {"copy nothere d", RC_ERROR, "Can't open nothere\r\n"},
        {"copy a", RC_EXPECTED, "Copy <Source> <Destination> expected\r\n"},
        {"rename a c", RC_ERROR, "Can't rename a to c\r\n"},
        {"rename c e", RC_OK, ""},
        {"erase e", RC_OK, ""},
        {"erase e", RC_ERROR, "File not erased\r\n"},
        {"erase '*'", RC_ERROR, "Multiple files not allowed\r\n"},
        {"run", RC_EXPECTED, "Command line expected\r\n"},
        {"runx exit 3", RC_ERROR, ""},
        {"type a", RC_OK, "alpha\r\n"},
        {"type nothere", RC_ERROR, "Can't open nothere\r\n"},
    });
    // clang-format on
    EXPECT_FALSE(d.exists("y"));
    EXPECT_EQ(d.read("a"), "alpha");
    EXPECT_EQ(d.read("b"), "betaalpha");
    EXPECT_FALSE(d.exists("c"));
    EXPECT_EQ(gretval, 3);
}

TEST_F(Action, WaitWithoutALineCountsItsSeconds) {
    LineOnly noconsole;
    std::string out;
    const auto t = std::chrono::steady_clock::now();
    EXPECT_EQ(runline("wait 1"), RC_OK);
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
    EXPECT_EQ(gtimeout, 1);
    EXPECT_NEAR(took, 1, 0.5);
    EXPECT_EQ(runline("wait t", &out), RC_EXPECTED);
    EXPECT_EQ(out, "CARRIER, NOCARRIER, number, or match string expected\r\n");
}

TEST_F(Action, ConsoleReadsTakeAPromptAndRetryNumbers) {
    ConsoleFixture fx(false);
    qflag = 0;
    fx.type("Ann\rsecret\rabc\r-12\r");
    EXPECT_EQ(docmd("read 'Name, please', x"), RC_OK); // the comma inside the quotes stays
    EXPECT_EQ(docmd("readn y"), RC_OK);
    EXPECT_EQ(docmd("readint 'Count? ', n"), RC_OK);
    EXPECT_EQ(getvar("x", false)->str, "Ann");
    EXPECT_EQ(getvar("y", false)->str, "secret");
    EXPECT_EQ(getvar("n", false)->num, -12);
    const std::string out = fx.output();
    EXPECT_NE(out.find("Name, pleaseAnn"), std::string::npos) << out;
    EXPECT_EQ(out.find("secret"), std::string::npos) << out;
    EXPECT_NE(out.find("Numeric input expected, please re-enter:"), std::string::npos) << out;
}

} // namespace
