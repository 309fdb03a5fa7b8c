// Two copies of the program exchange files with the native protocol over a socat pair, driven
// from terminal mode with the escape commands S and R, in every variant, with and without
// compression on either side, in both directions; every file compared byte for byte.
#include "xfer_support.h"

#include <gtest/gtest.h>

namespace {

// The batch: random data, text, an empty file, every byte value and the block edges.
Files batch(unsigned seed) {
    Files f = {{"rand.bin", randombytes(70000, seed)},
               {"text.txt", textbytes(90000, seed)},
               {"empty", ""},
               {"all.bin", allbytes()}};
    for (size_t n : {1, 127, 128, 129, 16383, 16385})
        f["s" + std::to_string(n)] = randombytes(n, seed + static_cast<unsigned>(n));
    return f;
}

struct Case {
    const char* what;
    std::vector<std::string> txopts, rxopts;
    const char* nameopts; // options on every sent name
    const char* destopts; // options on the receiving destination
    bool oldvorn;         // the oldest variant pads the last block
    bool reverse;         // the other end of the pair sends
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.what;
}

class VornMatrix : public ::testing::TestWithParam<Case> {};

TEST_P(VornMatrix, BatchArrivesByteForByte) {
    const Case& c = GetParam();
    TempDir d;
    SocatPair pair(d.path().string());
    ASSERT_TRUE(pair.ok());
    Files files = batch(c.reverse ? 7 : 3);
    std::string list;
    for (const auto& [name, data] : files)
        list += name + c.nameopts + "\n";
    Files txfiles = files;
    txfiles["list"] = list;
    auto rx = vornline(c.reverse ? pair.a : pair.b, {}, c.rxopts);
    auto tx = vornline(c.reverse ? pair.b : pair.a, txfiles, c.txopts);
    escape(*rx, 'R', std::string(".") + c.destopts);
    escape(*tx, 'S', "list(f)");
    const std::string n = std::to_string(files.size());
    EXPECT_EQ(summaryof(*tx), n + " files sent, success") << tx->screen();
    EXPECT_EQ(summaryof(*rx), n + " files received, success") << rx->screen();
    for (const auto& [name, data] : files) {
        std::string want = data;
        if (c.oldvorn && want.size() % 128) want.append(128 - want.size() % 128, '\0');
        const std::string got = readfile(rx->dir().file(name).string());
        EXPECT_EQ(got.size(), want.size()) << name;
        EXPECT_TRUE(got == want) << name;
    }
    quit(*tx);
    quit(*rx);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Variants, VornMatrix, ::testing::Values(
    Case{"crc", {}, {}, "", "", false, false},
    Case{"crc_reverse", {}, {}, "", "", false, true},
    Case{"crc_sender_plain", {}, {}, "(z)", "", false, false},
    Case{"crc_receiver_plain", {}, {}, "", "(z)", false, true},
    Case{"crc_both_plain", {}, {}, "(z)", "(z)", false, false},
    Case{"vorn5", {"-5"}, {"-5"}, "", "", false, true},
    Case{"vorn5_receiver_only", {}, {"-5"}, "", "", false, false},
    Case{"oldvorn", {}, {"-o"}, "", "", true, true}),
    [](const auto& info) { return std::string(info.param.what); });
// clang-format on

} // namespace

namespace {

// XFER and GET ask the peer, in remote command mode, to start its own side in-band.
TEST(VornXfer, RemoteRequestsStartThePeer) {
    TempDir d;
    SocatPair pair(d.path().string());
    ASSERT_TRUE(pair.ok());
    const std::string up = randombytes(20000, 11), down = textbytes(30000, 12);
    auto peer = vornline(pair.b, {{"down.txt", down}}, {"-c"});
    auto me = vornline(pair.a, {{"up.bin", up}});
    // The peer takes only names inside its own directory (its current one) from the line.
    escape(*me, 'X', "up.bin .");
    EXPECT_EQ(summaryof(*me), "1 file sent, success") << me->screen();
    EXPECT_EQ(summaryof(*peer), "1 file received, success") << peer->screen();
    EXPECT_TRUE(readfile(peer->dir().file("up.bin").string()) == up);
    // GET: the peer is asked to send (the summaries differ from the ones still on screen).
    escape(*me, 'G', "down.txt .");
    EXPECT_TRUE(me->waitFor("1 file received, success", 60)) << me->screen();
    EXPECT_TRUE(peer->waitFor("1 file sent, success", 60)) << peer->screen();
    EXPECT_TRUE(readfile(me->dir().file("down.txt").string()) == down);
    quit(*me);
    quit(*peer);
}

} // namespace
