// The on-line manual as a person uses it, with the shipped help files: F2 opens the first
// topic, a link in the text and a related topic are followed and the way back is found, a
// question finds a command's page, and leaving brings the session's screen back. The escape
// prompt's ? and the script command help reach it too, and --version is answered before
// start-up.
#include "support/harness.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace {
std::string built(const std::string& name) {
    std::ifstream in(std::string(VORN_DATA_OUT) + "/" + name, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

const char* const banner = "Vorn Online User's Manual";

const char *const F2 = "\033OQ", *UP = "\033OA", *DOWN = "\033OB";
} // namespace

TEST(Help, IndexLinksQuestionsAndBack) {
    VornRun run({"-m", "-z"},
                {.files = {{"vorn.hlp", built("vorn.hlp")}, {"vorn.hdx", built("vorn.hdx")}}});
    ASSERT_TRUE(run.waitFor("Connected to NUL Driver"));
    run.settle();
    const std::string session = run.screen();

    run.type(F2);
    ASSERT_TRUE(run.waitFor(banner));
    EXPECT_EQ(run.judge().row(0).substr(0, 15), "Getting started");
    EXPECT_TRUE(run.rowShows(19, "Related | (continue)")) << run.screen();
    EXPECT_EQ(run.judge().row(22),
              "Press [Return] to view highlighted subject, ? for more help, [Esc] to return");

    // Up highlights the first link in the text ("protocols"); Return follows it.
    run.type(UP);
    run.type("\r");
    ASSERT_TRUE(run.waitFor("Choosing a protocol"));
    EXPECT_TRUE(run.rowShows(2, "xprot name")) << run.screen();

    // A question names a command: its page opens.
    run.type("?");
    ASSERT_TRUE(run.waitFor("Enter your question, help system keyword, or the command"));
    run.type("using wait\r");
    ASSERT_TRUE(run.waitFor("Waiting and sending"));
    ASSERT_TRUE(run.rowShows(19, "Related | console"));

    // Down takes the first related topic ("console"), whose related "waiting" leads back.
    run.type(DOWN);
    run.type("\r");
    ASSERT_TRUE(run.waitFor("Console input and output"));
    ASSERT_TRUE(run.rowShows(19, "Related | waiting"));
    run.type(DOWN);
    run.type("\r");
    ASSERT_TRUE(run.waitFor("Waiting and sending"));

    // Esc: the session's screen as it was.
    run.type("\033");
    EXPECT_TRUE(run.waitUntil([&] { return run.screen() == session; })) << run.screen();

    // The escape prompt's ? and the script command help open it too.
    run.type("\x05?");
    ASSERT_TRUE(run.waitFor(banner));
    run.type("\033");
    ASSERT_TRUE(run.waitUntil([&] { return run.screen().find(banner) == std::string::npos; }));
    run.type("\x05:help capture\r");
    ASSERT_TRUE(run.waitFor("Capture and printing"));
    run.type("\033");
    ASSERT_TRUE(run.waitUntil([&] { return run.screen().find(banner) == std::string::npos; }));
    run.type("\x05q");
    EXPECT_EQ(run.wait(), 0);
}

// (Missing help files are reported by the help and escape prompt unit tests.)
TEST(Help, VersionIsAnsweredBeforeStartUp) {
    VornRun version({"--version"});
    EXPECT_TRUE(version.waitForOutput("VORN v1.0 "));
    EXPECT_EQ(version.wait(), 0);
}
