// XMODEM, MODEM7 and YMODEM against lrzsz (sx/rx/sb/rb) on a socat pseudo-serial pair, both
// ways: YMODEM files byte for byte, XMODEM files equal to the source plus ^Z padding after the
// data, and cancels from either side.
#include "peer_support.h"
#include "xfer_support.h"

#include <gtest/gtest.h>

namespace {

// Picks a protocol with the escape prompt's protocol letter.
void protocol(VornRun& run, char letter, const std::string& name) {
    run.type("\x05");
    ASSERT_TRUE(run.waitForOutput("=>", 10));
    run.type(std::string("P") + letter + "\r");
    ASSERT_TRUE(run.waitForOutput(name + " Protocol", 10)) << run.screen();
}

// What an XMODEM receiver may keep: the data, then ^Z up to a whole block.
bool padded(const std::string& got, const std::string& want) {
    if (got.size() < want.size() || got.compare(0, want.size(), want) != 0) return false;
    if (got.size() % 128 != 0 || got.size() - want.size() >= 1024) return false;
    return got.find_first_not_of('\x1a', want.size()) == std::string::npos;
}

// Block edges, every byte value and, with `big`, a file of more than 256 1K blocks.
Files sizes(unsigned seed, bool big) {
    Files f;
    for (size_t n : {0, 1, 127, 128, 129, 896, 897, 1000, 1023, 1024, 1025, 1100})
        f["s" + std::to_string(n)] = randombytes(n, seed + static_cast<unsigned>(n));
    f["all.bin"] = allbytes();
    if (big) f["big.bin"] = randombytes(300 * 1024, seed); // the block number wraps
    return f;
}

// lrzsz receivers end with tcdrain and tcflush(TCIOFLUSH) on their terminal. On a pseudo-terminal
// the drain does not wait for the other end to read, so the flush often throws away their last
// answer (the ACK of the EOT for rx, of the closing block 0 for rb), and the sender waits for an
// ACK that was written and then destroyed. A real serial line sends it before the flush. The
// receiver therefore runs on a socket behind socat, where both calls do nothing; its status goes
// to the peer log.
std::string onsocket(const std::string& cmd) {
    return "socat - SYSTEM:'" + cmd + "; echo peer status $? >&2'";
}

enum Set { ONE, BATCH, BIG };

struct XCase {
    const char* what;
    char letter;      // protocol letter at the escape prompt
    const char* prot; // its name
    const char* cmd;  // the lrzsz command; %s is replaced by the file names
    bool vornsends;
    Set set;
    const char* out = "out"; // where one file lands (XMODEM: padded)
};

class Lrzsz : public ::testing::TestWithParam<XCase> {};

TEST_P(Lrzsz, FilesArrive) {
    const XCase& c = GetParam();
    TempDir d, peerdir;
    SocatPair pair(d.path().string());
    ASSERT_TRUE(pair.ok());
    const Files files = c.set == ONE ? Files{{"one.bin", randombytes(4097, 9)}}
                                     : sizes(c.vornsends ? 8 : 5, c.set == BIG);
    std::string names, list;
    for (const auto& [name, data] : files) {
        names += " " + name;
        list += name + "\n";
    }
    // A receiver's "ymodem.$$$" from before is never overwritten.
    Files vfiles = c.vornsends ? files : Files{{"ymodem.$$$", "older"}};
    vfiles["list"] = list;
    auto run = vornline(pair.a, vfiles);
    protocol(*run, c.letter, c.prot);
    std::string cmd = c.cmd;
    if (cmd.find("%s") != std::string::npos) cmd.replace(cmd.find("%s"), 2, names);
    if (c.vornsends) {
        Peer peer(onsocket(cmd), peerdir.path().string(), pair.b);
        escape(*run, 'S', "list(f)");
        EXPECT_EQ(summaryof(*run, 120), std::to_string(files.size()) +
                                            (c.set == ONE ? " file" : " files") + " sent, success")
            << run->screen();
        EXPECT_EQ(peer.wait(30), 0) << peer.log();
        EXPECT_NE(peer.log().find("peer status 0"), std::string::npos) << peer.log();
    } else {
        for (const auto& [name, data] : files)
            peerdir.write(name, data);
        escape(*run, 'R', c.set == ONE && c.letter != 'Y' ? "out" : ".");
        Peer peer(cmd, peerdir.path().string(), pair.b);
        EXPECT_EQ(summaryof(*run, 120), std::to_string(files.size()) +
                                            (c.set == ONE ? " file" : " files") +
                                            " received, success")
            << run->screen();
        EXPECT_EQ(peer.wait(30), 0) << peer.log();
        EXPECT_EQ(readfile(run->dir().file("ymodem.$$$").string()), "older");
    }
    const std::filesystem::path at = c.vornsends ? peerdir.path() : run->dir().path();
    for (const auto& [name, data] : files) {
        if (c.set == ONE)
            EXPECT_TRUE(padded(readfile((at / c.out).string()), data)) << c.what;
        else
            EXPECT_TRUE(readfile((at / name).string()) == data) << name;
    }
    quit(*run);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Peer, Lrzsz, ::testing::Values(
    XCase{"sx_xmodem", 'C', "XMODEM", "sx -vv%s", false, ONE},
    XCase{"sx_modem7", 'M', "MODEM7", "sx -vv%s", false, ONE},
    XCase{"sx_1k_xmodem", 'C', "XMODEM", "sx -vv -k%s", false, ONE},
    XCase{"sx_1k_modem7", 'M', "MODEM7", "sx -vv -k%s", false, ONE},
    XCase{"sx_1k_into_ymodem", 'Y', "YMODEM", "sx -k%s", false, ONE, "ymodem.$$$.1"},
    XCase{"sb_batch", 'Y', "YMODEM", "sb -vv%s", false, BATCH},
    XCase{"sb_1k_batch", 'Y', "YMODEM", "sb -vv -k%s", false, BATCH},
    XCase{"rx_xmodem", 'C', "XMODEM", "rx -vv out", true, ONE},
    XCase{"rx_modem7", 'M', "MODEM7", "rx -vv -c out", true, ONE},
    XCase{"rb_batch", 'Y', "YMODEM", "rb -vv", true, BATCH},
    XCase{"rb_y_batch", 'Y', "YMODEM", "rb -vv -y", true, BIG}),
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
