// XMODEM, MODEM7, YMODEM and Kermit between two copies of the program through the noisy-line
// relay: with bit flips both ways every transfer completes with the file intact for each of three
// seeds, and none ever reports success with a file that differs. Kermit ends cleanly when the
// other side cancels with an E packet.
#include "peer_support.h"
#include "transfer/kermpkt.h"
#include "xfer_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <future>

namespace fs = std::filesystem;

namespace {

void protocol(VornRun& run, char letter) {
    run.type("\x05");
    run.waitForOutput("=>", 10);
    run.type(std::string("P") + letter + "\r");
    run.waitForOutput(" Protocol", 10);
}

// XMODEM and MODEM7 carry no size: the data, then ^Z up to a whole block.
bool sameorpadded(const std::string& got, const std::string& want, bool padded) {
    if (!padded) return got == want;
    if (got.size() < want.size() || got.compare(0, want.size(), want) != 0) return false;
    if (got.size() % 128 != 0 || got.size() - want.size() >= 1024) return false;
    return got.find_first_not_of('\x1a', want.size()) == std::string::npos;
}

struct NoiseCase {
    const char* what;
    char letter;
    bool padded;
};

class SerialNoise : public ::testing::TestWithParam<NoiseCase> {};

TEST_P(SerialNoise, CompletesIntactForThreeSeeds) {
    if (NoisyLine::tool().empty()) GTEST_SKIP() << "noisyline.py not found";
    const NoiseCase& c = GetParam();
    // Three seeds at once: the runs mostly wait on their lines.
    auto one = [&c](int seed) {
        TempDir d;
        fs::create_directory(d.file("dest"));
        const std::string data = randombytes(60000, static_cast<unsigned>(seed)) +
                                 textbytes(30000, static_cast<unsigned>(seed));
        writefile(d.file("f").string(), data);
        NoisyLine line(d.path().string(), {"--seed", std::to_string(seed), "--flip", "1e-4"});
        if (!line.ok()) return std::string("relay did not start");
        auto rx = vornline(line.b);
        auto tx = vornline(line.a);
        protocol(*rx, c.letter);
        protocol(*tx, c.letter);
        const std::string dest = d.file("dest").string() + (c.padded ? "/f" : "");
        escape(*rx, 'R', dest);
        escape(*tx, 'S', d.file("f").string());
        const std::string ts = summaryof(*tx, 300), rs = summaryof(*rx, 60);
        const bool same = sameorpadded(readfile(d.file("dest/f").string()), data, c.padded);
        if (tx->running()) quit(*tx);
        if (rx->running()) quit(*rx);
        const std::string s = "seed " + std::to_string(seed) + ": ";
        if (rs == "1 file received, success" && !same) return s + "success, but differs";
        if (ts != "1 file sent, success" || rs != "1 file received, success" || !same)
            return s + ts + " / " + rs;
        return std::string("ok");
    };
    std::vector<std::future<std::string>> runs;
    for (int seed : {1, 2, 3})
        runs.push_back(std::async(std::launch::async, one, seed));
    for (auto& r : runs)
        EXPECT_EQ(r.get(), "ok") << c.what;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Flips, SerialNoise, ::testing::Values(
    NoiseCase{"xmodem", 'C', true},
    NoiseCase{"modem7", 'M', true},
    NoiseCase{"ymodem", 'Y', false},
    NoiseCase{"kermit", 'K', false}),
    [](const auto& info) { return std::string(info.param.what); });
// clang-format on

// A Kermit sender that gives up in the middle of a file with an E packet: the receiver shows
// the message, fails at once and keeps nothing of the file.
TEST(KermitCancel, PeerErrorPacketEndsCleanly) {
    TempDir d, peerdir;
    SocatPair pair(d.path().string());
    ASSERT_TRUE(pair.ok());
    KParams p;
    p.maxl = 94;
    std::string script = kpack(0, 'S', spar(p), '\r') + kpack(1, 'F', "PART.BIN", '\r') +
                         kpack(2, 'D', std::string(80, 'a'), '\r') +
                         kpack(3, 'E', "Cancelled by the user", '\r');
    peerdir.write("pkts", script);
    auto run = vornline(pair.a, {}, {"-k"});
    escape(*run, 'R', ".");
    // The peer waits for nothing: a stop-and-wait receiver takes the packets in order.
    Peer peer("cat pkts", peerdir.path().string(), pair.b);
    EXPECT_EQ(summaryof(*run, 20), "0 files received, failed") << run->screen();
    EXPECT_NE(run->output().find("Cancelled by the user"), std::string::npos) << run->screen();
    EXPECT_FALSE(fs::exists(run->dir().file("PART.BIN")));
    EXPECT_FALSE(fs::exists(run->dir().file(".PART.BIN.vorn-part")));
    quit(*run);
}

} // namespace
