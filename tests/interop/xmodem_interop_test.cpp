// XMODEM, MODEM7 and YMODEM against lrzsz (sx/rx/sb/rb) on a socat pseudo-serial pair, both
// ways: YMODEM files byte for byte, XMODEM files equal to the source plus ^Z padding after the
// data, and cancels from either side.
#include "peer_support.h"
#include "xfer_support.h"

#include <gtest/gtest.h>

#include <signal.h>

namespace {

// Picks a protocol with the escape prompt's protocol letter.
void protocol(VornRun& run, char letter, const std::string& name) {
    run.type("\x05");
    ASSERT_TRUE(run.waitForOutput("=>", 10));
    run.type(std::string("P") + letter + "\r");
    ASSERT_TRUE(run.waitForOutput(name + " Protocol", 10)) << run.screen();
}

// What an XMODEM receiver may keep: the data, then ^Z up to a whole block.
::testing::AssertionResult padded(const std::string& got, const std::string& want) {
    if (got.size() < want.size() || got.compare(0, want.size(), want) != 0)
        return ::testing::AssertionFailure() << "data differ, got " << got.size() << " bytes";
    if (got.size() % 128 != 0 || got.size() - want.size() >= 1024)
        return ::testing::AssertionFailure() << "bad padding to " << got.size();
    for (size_t i = want.size(); i < got.size(); i++)
        if (got[i] != 0x1a) return ::testing::AssertionFailure() << "pad byte " << i;
    return ::testing::AssertionSuccess();
}

// Block edges, every byte value and, with `big`, a file of more than 256 1K blocks.
Files sizes(unsigned seed, bool big = true) {
    Files f;
    for (size_t n : {0, 1, 127, 128, 129, 896, 897, 1000, 1023, 1024, 1025, 1100})
        f["s" + std::to_string(n)] = randombytes(n, seed + static_cast<unsigned>(n));
    f["all.bin"] = allbytes();
    if (big) f["big.bin"] = randombytes(300 * 1024, seed); // the block number wraps
    return f;
}

struct PeerCase {
    const char* what;
    char letter;      // protocol letter at the escape prompt
    const char* prot; // its name
    const char* cmd;  // the lrzsz command; %s is replaced by the file names
    bool batch;       // YMODEM: every file of sizes(); else one file
};

class PeerSends : public ::testing::TestWithParam<PeerCase> {};

TEST_P(PeerSends, FilesArrive) {
    const PeerCase& c = GetParam();
    TempDir d, src;
    SocatPair pair(d.path().string());
    ASSERT_TRUE(pair.ok());
    Files files = c.batch ? sizes(5) : Files{{"one.bin", randombytes(5000, 9)}};
    std::string names;
    for (const auto& [name, data] : files) {
        src.write(name, data);
        names += " " + name;
    }
    auto rx = vornline(pair.a);
    protocol(*rx, c.letter, c.prot);
    escape(*rx, 'R', c.batch ? "." : "out");
    std::string cmd = c.cmd;
    cmd.replace(cmd.find("%s"), 2, names);
    Peer peer(cmd, src.path().string(), pair.b);
    const std::string n = std::to_string(c.batch ? files.size() : 1);
    EXPECT_EQ(summaryof(*rx, 120), n + (c.batch ? " files" : " file") + " received, success")
        << rx->screen();
    EXPECT_EQ(peer.wait(30), 0) << peer.log();
    for (const auto& [name, data] : files) {
        if (!c.batch) {
            std::string out =
                std::string(c.cmd).find("sb") == 0 || c.letter != 'Y' ? "out" : "ymodem.$$$";
            EXPECT_TRUE(padded(readfile(rx->dir().file(out).string()), data)) << c.what;
        } else {
            EXPECT_TRUE(readfile(rx->dir().file(name).string()) == data) << name;
        }
    }
    quit(*rx);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Lrzsz, PeerSends, ::testing::Values(
    PeerCase{"sx_xmodem", 'C', "XMODEM", "sx -vv%s", false},
    PeerCase{"sx_modem7", 'M', "MODEM7", "sx -vv%s", false},
    PeerCase{"sx_1k_xmodem", 'C', "XMODEM", "sx -vv -k%s", false},
    PeerCase{"sx_1k_modem7", 'M', "MODEM7", "sx -vv -k%s", false},
    PeerCase{"sb_batch", 'Y', "YMODEM", "sb -vv%s", true},
    PeerCase{"sb_1k_batch", 'Y', "YMODEM", "sb -vv -k%s", true}),
    [](const auto& info) { return std::string(info.param.what); });
// clang-format on

TEST(XmodemInterop, OneKXmodemIntoYmodemReceiverSpillsToFixedName) {
    TempDir d, src;
    SocatPair pair(d.path().string());
    ASSERT_TRUE(pair.ok());
    const std::string data = randombytes(3000, 4);
    src.write("f", data);
    auto rx = vornline(pair.a, {{"ymodem.$$$", "older"}});
    protocol(*rx, 'Y', "YMODEM");
    escape(*rx, 'R', ".");
    Peer peer("sx -k f", src.path().string(), pair.b);
    EXPECT_EQ(summaryof(*rx, 60), "1 file received, success") << rx->screen();
    EXPECT_EQ(peer.wait(30), 0) << peer.log();
    EXPECT_EQ(readfile(rx->dir().file("ymodem.$$$").string()), "older");
    EXPECT_TRUE(padded(readfile(rx->dir().file("ymodem.$$$.1").string()), data));
    quit(*rx);
}

struct SendCase {
    const char* what;
    char letter;
    const char* prot;
    const char* cmd; // the lrzsz receiver
    bool batch;
    bool big = false;
};

class VornSends : public ::testing::TestWithParam<SendCase> {};

// lrzsz receivers end with tcdrain and tcflush(TCIOFLUSH) on their terminal. On a pseudo-terminal
// the drain does not wait for the other end to read, so the flush often throws away their last
// answer (the ACK of the EOT for rx, of the closing block 0 for rb), and the sender waits for an
// ACK that was written and then destroyed. A real serial line sends it before the flush. The
// receiver therefore runs on a socket behind socat, where both calls do nothing; its status goes
// to the peer log.
std::string onsocket(const std::string& cmd) {
    return "socat - SYSTEM:'" + cmd + "; echo peer status $? >&2'";
}

TEST_P(VornSends, PeerGetsFiles) {
    const SendCase& c = GetParam();
    TempDir d, dst;
    SocatPair pair(d.path().string());
    ASSERT_TRUE(pair.ok());
    Files files = c.batch ? sizes(8, c.big) : Files{{"one.bin", randombytes(4097, 3)}};
    std::string list;
    for (const auto& [name, data] : files)
        list += name + "\n";
    Files txfiles = files;
    txfiles["list"] = list;
    auto tx = vornline(pair.a, txfiles);
    protocol(*tx, c.letter, c.prot);
    Peer peer(onsocket(c.cmd), dst.path().string(), pair.b);
    escape(*tx, 'S', "list(f)");
    const std::string n = std::to_string(c.batch ? files.size() : 1);
    EXPECT_EQ(summaryof(*tx, 120), n + (c.batch ? " files" : " file") + " sent, success")
        << tx->screen();
    EXPECT_EQ(peer.wait(30), 0) << peer.log();
    EXPECT_NE(peer.log().find("peer status 0"), std::string::npos) << peer.log();
    for (const auto& [name, data] : files) {
        if (c.batch)
            EXPECT_TRUE(readfile(dst.file(name).string()) == data) << name;
        else
            EXPECT_TRUE(padded(readfile(dst.file("out").string()), data));
    }
    quit(*tx);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Lrzsz, VornSends, ::testing::Values(
    SendCase{"rx_xmodem", 'C', "XMODEM", "rx -vv out", false},
    SendCase{"rx_modem7", 'M', "MODEM7", "rx -vv -c out", false},
    SendCase{"rb_batch", 'Y', "YMODEM", "rb -vv", true},
    SendCase{"rb_y_batch", 'Y', "YMODEM", "rb -vv -y", true, true}),
    [](const auto& info) { return std::string(info.param.what); });
// clang-format on

// Two CANs from the peer end the transfer at once on either side, and a sender's partial file
// is gone. (lrzsz 0.12 stopped by a signal sends no cancel on a pseudo-terminal, so a small
// shell peer plays the cancelling end.)
TEST(XmodemInterop, PeerCancelEndsTheTransfer) {
    const std::string cans = "printf '\\030\\030\\030\\030\\030\\030\\030\\030'";
    for (bool sending : {false, true}) {
        TempDir d, peerdir;
        SocatPair pair(d.path().string());
        ASSERT_TRUE(pair.ok());
        auto run = vornline(pair.a, {{"f.bin", randombytes(9000, 1)}});
        protocol(*run, 'Y', "YMODEM");
        // Sending: the peer asks with C, takes the header block and cancels. Receiving: the
        // peer takes our C and cancels.
        const std::string script =
            sending ? "printf C; head -c 133 >/dev/null; " + cans : "head -c 1 >/dev/null; " + cans;
        Peer peer("sh -c \"" + script + "\"", peerdir.path().string(), pair.b);
        escape(*run, sending ? 'S' : 'R', sending ? "f.bin" : ".");
        const std::string want = sending ? "0 files sent, aborted" : "0 files received, aborted";
        EXPECT_EQ(summaryof(*run, 5), want) << run->screen();
        EXPECT_NE(run->screen().find("Aborted by ^X"), std::string::npos) << run->screen();
        EXPECT_EQ(peer.wait(5), 0) << peer.log();
        quit(*run);
    }
}

} // namespace
