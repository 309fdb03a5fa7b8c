// Two copies of the program exchange files with the native protocol over a socat pair.
#include "xfer_support.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

TEST(VornXfer, Smoke) {
    TempDir d;
    SocatPair pair(d.path().string());
    ASSERT_TRUE(pair.ok());
    const std::string data = randombytes(5000, 1);
    auto rx = vornline(pair.b);
    auto tx = vornline(pair.a, {{"a.bin", data}});
    escape(*rx, 'R', ".");
    escape(*tx, 'S', "a.bin");
    EXPECT_EQ(summaryof(*tx), "1 file sent, success") << tx->screen();
    EXPECT_EQ(summaryof(*rx), "1 file received, success") << rx->screen();
    EXPECT_TRUE(readfile(rx->dir().file("a.bin").string()) == data);
    writefile("/tmp/tx.out", tx->output());
    writefile("/tmp/rx.out", rx->output());
    quit(*tx);
    quit(*rx);
}

} // namespace
