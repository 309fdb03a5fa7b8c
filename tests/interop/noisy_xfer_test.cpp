// The native protocol through the noisy-line relay: a line cut at 40 % and a restart that
// sends only the rest; bit flips and dropped bursts that VornCRC rides out, never reporting
// success for a file that differs.
#include "transfer/lzw.h"
#include "xfer_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <future>
#include <tuple>

namespace fs = std::filesystem;

namespace {

// Line bytes of a file sent in VornCRC blocks (133 on the line per 128 of data).
long linebytes(const std::string& data, bool compressed) {
    size_t n = data.size();
    if (compressed) {
        LzwCoder c;
        c.start();
        c.put(reinterpret_cast<const uint8_t*>(data.data()), data.size());
        c.finish();
        n = c.avail();
    }
    return static_cast<long>(n / 128 + 1) * 133;
}

void bye(VornRun& run) {
    if (run.running()) quit(run);
}

TEST(VornCrash, CutAtFortyPercentThenRestartSendsOnlyTheRest) {
    if (NoisyLine::tool().empty()) GTEST_SKIP() << "noisyline.py not found";
    // Short waits so that the side that lost its line gives up in seconds.
    const Files timers = {{"main.cmd", "retries 2\nrtime 2\nstime 3\n"}};
    for (bool compressed : {false, true}) {
        SCOPED_TRACE(compressed ? "compressed" : "plain");
        TempDir d;
        fs::create_directory(d.file("dest"));
        const std::string data = compressed ? textbytes(800000, 4) : randombytes(300000, 4);
        writefile(d.file("big").string(), data);
        const long full = linebytes(data, compressed);
        const std::string dest = d.file("dest").string();
        const std::string send = d.file("big").string() + (compressed ? "(r)" : "(rz)");
        // One attempt through a relay with `args`: the two summaries, what the sender showed
        // and the bytes that went to the receiver.
        auto attempt = [&](std::vector<std::string> args) {
            NoisyLine line(d.path().string(), args);
            EXPECT_TRUE(line.ok());
            auto rx = vornline(line.b, timers, {}, {"main.cmd"});
            auto tx = vornline(line.a, timers, {}, {"main.cmd"});
            escape(*rx, 'R', dest);
            escape(*tx, 'S', send);
            auto r = std::make_tuple(summaryof(*tx), summaryof(*rx), tx->output(), 0L);
            bye(*tx);
            bye(*rx);
            std::get<3>(r) = line.a2b();
            return r;
        };
        auto [tx1, rx1, out1, sent1] = attempt({"--cut-after", std::to_string(full * 4 / 10)});
        EXPECT_EQ(tx1, "0 files sent, failed");
        EXPECT_EQ(rx1, "0 files received, failed");
        EXPECT_FALSE(fs::exists(dest + "/big"));
        ASSERT_TRUE(fs::exists(dest + "/.big.vorn-part")); // kept for the restart
        const auto part = fs::file_size(dest + "/.big.vorn-part");
        EXPECT_GT(part, data.size() / 5);
        EXPECT_LT(part, data.size() * 6 / 10);
        auto [tx, rx, out, sent] = attempt({});
        EXPECT_EQ(tx, "1 file sent, success") << out;
        EXPECT_EQ(rx, "1 file received, success");
        EXPECT_TRUE(readfile(dest + "/big") == data);
        EXPECT_FALSE(fs::exists(dest + "/.big.vorn-part"));
        EXPECT_NE(out.find("Restarting at "), std::string::npos);
        EXPECT_GT(sent, 0);
        EXPECT_LT(sent, full * 75 / 100) << "the first part was sent again";
    }
}

TEST(VornNoise, CrcCompletesThroughFlipsAndBursts) {
    if (NoisyLine::tool().empty()) GTEST_SKIP() << "noisyline.py not found";
    // Three seeds at once: the runs mostly wait on their lines.
    auto one = [](int seed) {
        TempDir d;
        fs::create_directory(d.file("dest"));
        const std::string data = textbytes(300000, static_cast<unsigned>(seed)) +
                                 randombytes(60000, static_cast<unsigned>(seed));
        writefile(d.file("f").string(), data);
        NoisyLine line(d.path().string(),
                       {"--seed", std::to_string(seed), "--flip", "1e-4", "--burst", "2e-5:64"});
        if (!line.ok()) return std::string("relay did not start");
        auto rx = vornline(line.b);
        auto tx = vornline(line.a);
        escape(*rx, 'R', d.file("dest").string());
        escape(*tx, 'S', d.file("f").string());
        const std::string ts = summaryof(*tx, 400), rs = summaryof(*rx, 60);
        const bool same = readfile(d.file("dest/f").string()) == data;
        bye(*tx);
        bye(*rx);
        if (rs == "1 file received, success" && !same) return std::string("success, but differs");
        if (ts != "1 file sent, success" || rs != "1 file received, success" || !same)
            return "seed " + std::to_string(seed) + ": " + ts + " / " + rs;
        return std::string("ok");
    };
    std::vector<std::future<std::string>> runs;
    for (int seed : {1, 2, 3})
        runs.push_back(std::async(std::launch::async, one, seed));
    for (auto& r : runs)
        EXPECT_EQ(r.get(), "ok");
}

} // namespace
