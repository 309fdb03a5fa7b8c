// Kermit against C-Kermit and gkermit on a socat pseudo-serial pair, both ways: in binary mode
// random data, every byte value, long runs (repeat counts) and names with "#", "&" and "~"; in
// text mode lines that end in LF here and CR LF on the line; sliding windows, also through the
// noisy-line relay (bit flips both ways, three seeds, never a success with a wrong file).
#include "peer_support.h"
#include "transfer/kermpkt.h"
#include "xfer_support.h"

#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <future>

namespace {

enum : unsigned { LITERAL = 1, TEXT = 2, WINDOWS = 4, NOISE = 8, HARD = 16 };

// C-Kermit sends names in its common form (upper case, "#" and "~" replaced), so the name
// with prefix characters travels only from VORN.
Files kfiles(unsigned seed, bool oddname, unsigned flags) {
    if (flags & TEXT)
        return {{"lines.txt", "first line\nsecond\n\n\tindented ~#&\nno newline"},
                {"short.txt", std::string(200, '-') + "\n"}};
    if (flags & NOISE)
        return {{"rand.bin", randombytes(60000, seed)}, {"all.bin", allbytes()}, {"empty", ""}};
    Files f = {{"rand.bin", randombytes(200000, seed)},
               {"all.bin", allbytes()},
               {"runs.bin", std::string(3000, 'x') + std::string(500, '\0') + "~~~~####&&&&"},
               {"empty", ""}};
    if (oddname) f["n#a&m~e"] = "odd name\n";
    return f;
}

std::string upper(std::string s) {
    for (auto& c : s)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return s;
}

struct KCase {
    const char* what;
    const char* cmd; // %s: the names
    bool vornsends;
    unsigned flags = 0; // LITERAL: the peer keeps names as they are (gkermit -P)
};

// One run on a clean pair (seed 0) or through the relay; "ok" or what went wrong.
std::string transfer(const KCase& c, int seed) {
    TempDir d, peerdir;
    const bool literal = c.flags & LITERAL, text = c.flags & TEXT;
    const Files files = kfiles(c.vornsends ? 2 + seed : 6 + seed, c.vornsends || literal, c.flags);
    std::string names, list;
    for (const auto& [name, data] : files) {
        names += " '" + name + "'";
        list += name + "\n";
    }
    std::string cmd = c.cmd;
    if (cmd.find("%s") != std::string::npos) cmd.replace(cmd.find("%s"), 2, names);
    if (!c.vornsends)
        for (const auto& [name, data] : files)
            peerdir.write(name, data);
    Files vfiles = c.vornsends ? files : Files{};
    vfiles["list"] = list;
    // Through the relay the peer is the relay's side b, on a pseudo-terminal of its own.
    std::unique_ptr<SocatPair> pair;
    std::unique_ptr<NoisyLine> relay;
    std::unique_ptr<Peer> peer;
    const std::string pd = peerdir.path().string();
    if (seed) {
        relay = std::make_unique<NoisyLine>(
            d.path().string(),
            std::vector<std::string>{"--seed", std::to_string(seed), "--flip",
                                     c.flags & HARD ? "1e-3" : "1e-4"},
            "cd '" + pd + "' && { " + cmd + "; } 2>peer.log; echo $? >status");
        if (!relay->ok()) return "relay did not start";
    } else {
        pair = std::make_unique<SocatPair>(d.path().string());
        if (!pair->ok()) return "no line";
    }
    auto run = vornline(seed ? relay->a : pair->a, vfiles, {"-k"});
    if (!seed) peer = std::make_unique<Peer>(cmd, pd, pair->b);
    auto peerstatus = [&] {
        if (peer) return peer->wait(30);
        pollfor([&] { return !readfile(pd + "/status").empty(); }, 30);
        const std::string st = readfile(pd + "/status");
        return st.empty() ? -1 : std::stoi(st);
    };
    if (c.vornsends)
        escape(*run, 'S', text ? "list(fc)" : "list(f)");
    else
        escape(*run, 'R', text ? ".(c)" : ".");
    std::string err;
    const std::string want = std::to_string(files.size()) + " files " +
                             (c.vornsends ? "sent" : "received") + ", success";
    // Through the relay too these transfers take seconds: a minute and a half means the
    // recovery from damaged packets waits on time-outs.
    const std::string got = summaryof(*run, seed ? 90 : 60);
    if (got != want) err += "summary: " + got + "\n";
    if ((c.flags & WINDOWS) && run->output().find("Using sliding windows") == std::string::npos)
        err += "no sliding windows\n";
    if (const int st = peerstatus(); st != 0)
        err += "peer status " + std::to_string(st) + ": " + readfile(pd + "/peer.log") + "\n";
    for (const auto& [name, data] : files) {
        const std::string at = c.vornsends ? peerdir.file(name).string()
                                           : run->dir().file(literal ? name : upper(name)).string();
        const std::string f = readfile(at);
        if (f != data) {
            err += name + ": " + std::to_string(f.size()) + " bytes of " +
                   std::to_string(data.size()) + "\n";
            if (got == want) err += "SUCCESS WITH A WRONG FILE\n";
        }
    }
    if (!err.empty()) err = "seed " + std::to_string(seed) + ": " + err + run->screen();
    if (run->running()) quit(*run);
    return err.empty() ? "ok" : err;
}

class KermitPeer : public ::testing::TestWithParam<KCase> {};

TEST_P(KermitPeer, FilesArriveByteForByte) {
    const KCase& c = GetParam();
    if (!(c.flags & NOISE)) {
        EXPECT_EQ(transfer(c, 0), "ok");
        return;
    }
    if (NoisyLine::tool().empty()) GTEST_SKIP() << "noisyline.py not found";
    // Three seeds at once: the runs mostly wait on their lines.
    std::vector<std::future<std::string>> runs;
    for (int seed : {1, 2, 3})
        runs.push_back(std::async(std::launch::async, transfer, c, seed));
    for (auto& r : runs)
        EXPECT_EQ(r.get(), "ok");
}

// C-Kermit asks for the 3-character check by default, so the plain rows run it both ways; the
// settings take effect only when the transfer itself is a -C command.
#define CK "kermit -Y -q -i "
#define CKSEND(set) CK "-C '" set ", msend *.bin empty, exit'"
#define CKRECV(set) CK "-C '" set ", receive, exit'"
// clang-format off
INSTANTIATE_TEST_SUITE_P(CKermit, KermitPeer, ::testing::Values(
    KCase{"ckermit_sends", CK "-s%s", false},
    KCase{"ckermit_sends_repeat_short", CKSEND("set receive packet-length 30, set repeat counts on, set block-check 3"), false},
    KCase{"ckermit_receives", CK "-r", true},
    KCase{"ckermit_sends_check2", CKSEND("set block-check 2"), false},
    KCase{"ckermit_receives_check1", CKRECV("set block-check 1"), true},
    KCase{"ckermit_sends_long", CKSEND("set send packet-length 9024"), false},
    KCase{"ckermit_sends_long_1000_check1", CKSEND("set block-check 1, set send packet-length 1000"), false},
    KCase{"ckermit_receives_long_500", CKRECV("set receive packet-length 500"), true},
    KCase{"ckermit_receives_long", CKRECV("set receive packet-length 9024"), true},
    KCase{"ckermit_sends_window8", CKSEND("set window 8, set send packet-length 2000"), false, WINDOWS},
    KCase{"ckermit_sends_window31_long", CKSEND("set window 31, set send packet-length 9024"), false, WINDOWS},
    KCase{"ckermit_receives_window8", CKRECV("set window 8, set receive packet-length 2000"), true, WINDOWS},
    KCase{"ckermit_receives_window31_long", CKRECV("set window 31, set receive packet-length 9024"), true, WINDOWS},
    KCase{"ckermit_sends_window31_noise", CKSEND("set window 31, set send packet-length 1000"), false, WINDOWS | NOISE},
    KCase{"ckermit_receives_window31_noise", CKRECV("set window 31, set receive packet-length 9024"), true, WINDOWS | NOISE},
    KCase{"ckermit_receives_window31_noise3", CKRECV("set window 31, set receive packet-length 9024"), true, WINDOWS | NOISE | HARD}),
    [](const auto& info) { return std::string(info.param.what); });
INSTANTIATE_TEST_SUITE_P(GKermit, KermitPeer, ::testing::Values(
    KCase{"gkermit_sends", "gkermit -q -P -i -s%s", false, LITERAL},
    KCase{"gkermit_receives", "gkermit -q -P -i -r", true, LITERAL},
    KCase{"gkermit_sends_text", "gkermit -q -P -T -s%s", false, LITERAL | TEXT},
    KCase{"gkermit_receives_text", "gkermit -q -P -T -r", true, LITERAL | TEXT},
    KCase{"gkermit_receives_long_2000", "gkermit -q -P -i -e 2000 -r", true, LITERAL}),
    [](const auto& info) { return std::string(info.param.what); });
// clang-format on

// VORN as the client of a C-Kermit server: GET of two names and of a missing one, remote cwd
// followed by a directory listing that shows the new directory's file, a host command, finish.
TEST(KermitServer, GetAndRemoteCommands) {
    TempDir d, srv, other;
    SocatPair pair(d.path().string());
    ASSERT_TRUE(pair.ok());
    const Files files = {{"g1.bin", randombytes(30000, 4)}, {"g2.bin", allbytes()}};
    for (const auto& [name, data] : files)
        srv.write(name, data);
    other.write("only-in-other", "x");
    Peer peer("kermit -Y -q -x", srv.path().string(), pair.b);
    auto run = vornline(pair.a, {}, {"-k"});
    auto cmd = [&](const std::string& line, const std::string& want) {
        escape(*run, ':', line);
        EXPECT_TRUE(run->waitFor(want, 30)) << line << "\n" << run->screen();
    };
    cmd("get g1.bin g2.bin .", "2 files received, success");
    for (const auto& [name, data] : files)
        EXPECT_TRUE(readfile(run->dir().file(upper(name)).string()) == data ||
                    readfile(run->dir().file(name).string()) == data)
            << name;
    cmd("get nosuch.bin .", "failed");
    EXPECT_NE(run->output().find("Get failed on file: nosuch.bin"), std::string::npos);
    cmd("remote cwd " + other.path().string(), "received, success");
    cmd("remote directory", "only-in-other");
    cmd("remote echo hi-there", "hi-there");
    escape(*run, ':', "remote finish"); // the server leaves server mode and, started with -x, ends
    EXPECT_EQ(peer.wait(20), 0) << peer.log();
    EXPECT_EQ(summaryof(*run, 10), "0 files received, success");
    quit(*run);
}

// A windowed sender's packets out of order and one repeated: the receiver holds the later one,
// takes each once and in order, and the file is exactly the data sent. The B comes twice (as
// when its answer is lost): the summary shows at once, and the repeat is answered again while
// the receiver stays on the line until it falls quiet.
TEST(KermitWindow, HeldPacketsAreTakenInOrderOnce) {
    TempDir d, peerdir;
    SocatPair pair(d.path().string());
    ASSERT_TRUE(pair.ok());
    KParams p;
    p.maxl = 94, p.capas = kp::CAP_WINDOWS, p.window = 4;
    const std::string a(80, 'a'), b(80, 'b');
    peerdir.write("pkts", kpack(0, 'S', spar(p), '\r') + kpack(1, 'F', "W.BIN", '\r') +
                              kpack(3, 'D', b, '\r') + kpack(2, 'D', a, '\r') +
                              kpack(2, 'D', a, '\r') + kpack(4, 'Z', "", '\r') +
                              kpack(5, 'B', "", '\r') + kpack(5, 'B', "", '\r'));
    auto run = vornline(pair.a, {}, {"-k"});
    escape(*run, 'R', ".");
    Peer peer("sh -c 'cat pkts; exec cat >got'", peerdir.path().string(), pair.b);
    EXPECT_EQ(summaryof(*run, 20), "1 file received, success") << run->screen();
    EXPECT_EQ(run->output().find("Returning to terminal mode"), std::string::npos);
    EXPECT_TRUE(run->waitFor("Returning to terminal mode", 10));
    EXPECT_NE(run->output().find("Using sliding windows of 4"), std::string::npos);
    EXPECT_EQ(readfile(run->dir().file("W.BIN").string()), a + b);
    const std::string got = readfile(peerdir.file("got").string()), yb = kpack(5, 'Y', "", '\r');
    EXPECT_NE(got.find(yb), got.rfind(yb)) << "the repeated B was not answered";
    quit(*run);
}

// A windowed receiver that answers the Send-Init and the file header and then falls silent: the
// sender resends after each second of silence but counts one try per time-out (the 2 s the
// receiver asked for), so it gives up after its 10 retries, neither sooner nor never.
TEST(KermitWindow, SilentReceiverIsGivenUpAfterTheRetries) {
    constexpr int TIMEOUT = 2;
    TempDir d, peerdir;
    SocatPair pair(d.path().string());
    ASSERT_TRUE(pair.ok());
    KParams p;
    p.maxl = 94, p.time = TIMEOUT, p.capas = kp::CAP_WINDOWS, p.window = 8;
    peerdir.write("pkts", kpack(0, 'Y', spar(p), '\r') + kpack(1, 'Y', "", '\r'));
    auto run = vornline(pair.a, {{"f", randombytes(20000, 3)}}, {"-k"});
    Peer peer("sh -c 'dd bs=1 count=1 2>/dev/null >/dev/null; cat pkts; exec cat >/dev/null'",
              peerdir.path().string(), pair.b);
    const auto t0 = std::chrono::steady_clock::now();
    escape(*run, 'S', "f");
    EXPECT_EQ(summaryof(*run, 60), "0 files sent, failed") << run->screen();
    const double secs =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_NE(run->output().find("Maximum retries exceeded"), std::string::npos);
    EXPECT_GT(secs, 10 * TIMEOUT);
    EXPECT_LT(secs, 12 * TIMEOUT + 3);
    quit(*run);
}

} // namespace
