// The real program with a local program on a pseudo-terminal line: pastes of every size reach
// the program byte for byte, and signals from outside end the program through its exit path;
// and the harness that judges them fails loudly.
#include "support/harness.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <string>

namespace {

std::string pastetext(size_t n) {
    std::string s;
    for (size_t i = 0; i < n; i++)
        s += static_cast<char>(' ' + (i * 7 + i / 95) % 95); // printable, never a command key
    return s;
}

// The program on the line reads each paste raw into a file; the files are compared byte for
// byte. A program that reads slower than the paste comes makes the line stop taking keys for a
// while, which must lose none.
TEST(PtyLineE2E, PastesArriveWholeAtTheProgram) {
    const size_t sizes[] = {127, 128, 4096, 100000};
    std::string script = "stty raw -echo\n"
                         "for n in \"$@\"; do\n"
                         "  echo READY-$n\n"
                         "  head -c $n > got-$n\n"
                         "  echo GOT-$n\n"
                         "done\n";
    std::string cmd = "pty:/bin/sh paste.sh";
    for (size_t n : sizes)
        cmd += " " + std::to_string(n);
    VornRun run({"-m", "-l", cmd}, {.files = {{"paste.sh", script}}});
    for (size_t n : sizes) {
        ASSERT_TRUE(run.waitFor("READY-" + std::to_string(n)));
        const std::string paste = pastetext(n);
        run.type(paste, 60);
        ASSERT_TRUE(run.waitFor("GOT-" + std::to_string(n), 60));
        const std::string got = run.dir().read("got-" + std::to_string(n));
        EXPECT_EQ(got.size(), n);
        EXPECT_TRUE(got == paste) << n << " bytes: first difference at "
                                  << std::mismatch(got.begin(), got.end(), paste.begin()).first -
                                         got.begin();
    }
}

// SIGINT and SIGQUIT from outside end the program as SIGTERM does: the console comes back as it
// was and the program on the line is hung up.
TEST(PtyLineE2E, SigintAndSigquitEndTheProgramThroughItsExitPath) {
    for (int sig : {SIGINT, SIGQUIT, SIGTERM}) {
        VornRun run({"-m", "-l", "pty:/bin/cat"});
        ASSERT_TRUE(run.waitFor("Connected")) << sig;
        run.signal(sig);
        EXPECT_NE(run.wait(), -1) << sig;
        EXPECT_LT(run.wait(), 128) << sig << ": killed by the signal, not ended by the program";
        EXPECT_TRUE(sameTermios(run.before(), run.now())) << sig;
    }
}

// The harness itself: text left from an earlier step never satisfies a wait, and keys the
// program does not take fail the test; both say why.
TEST(Harness, StaleTextAndKeysNotTakenFailLoudly) {
    VornRun run({"-c", "stty raw -echo; echo ready; head -c 2 >/dev/null; echo took; sleep 30"},
                {.program = "/bin/sh"});
    ASSERT_TRUE(run.waitFor("ready"));
    run.type("ab");
    ASSERT_TRUE(run.waitFor("took"));
    run.type("z");
    EXPECT_NONFATAL_FAILURE(EXPECT_FALSE(run.waitFor("took", 0.5)), "only left from an earlier");
    EXPECT_NONFATAL_FAILURE(run.type(std::string(200000, 'x'), 0.5), "bytes were taken within");
}

} // namespace
